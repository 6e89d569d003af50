// Probe controls of the shared tests: controls of a window class of the tests' own, whose class
// procedure records what the library passes on, and whose objects record what reaches them.
#pragma once

#include <string>
#include <vector>

#include "harness.h"

namespace probe {

// Messages private to the tests.
const UINT WmConsume = WM_APP + 1;   // the probe's handler consumes it
const UINT WmAnswer = WM_APP + 2;    // unhandled; the class procedure answers 0x1234
const UINT WmRegistered = 0xC123;    // in the registered range; the probe's table names it
const LRESULT ClassAnswer = 0x1234;

// A message that reached a window's previous (class) procedure.
struct PassedOn {
  HWND Window;
  UINT Msg;
  WPARAM WParam;
  LPARAM LParam;
};

// What the probes saw since the last Reset.
struct Record {
  std::vector<PassedOn> passedOn;
  std::vector<std::wstring> events;  // "who:what" lines from the objects
  int freed = 0;                     // probe objects whose C++ destructor ran
  int finalized = 0;                 // Finalize calls
};
Record& Seen();
void Reset();

// Registers the probes' window class "ClibProbe" (once per platform session).
void RegisterProbeClass();

// The messages with this id that reached `window`'s class procedure.
int PassedOnCount(HWND window, UINT msg);

// A control of class "ClibProbe": a top-level window without parent, a child window with one.
class TProbe : public CControl {
 public:
  ~TProbe() override;
  void Finalize() override;
  void DoCommand(WORD wNotifyCode, WORD wID) override;
  LRESULT NotifyAnswer = 1;  // what DoNotify answers
  std::wstring Name = L"probe";

  // Public for the tests: what the library calls.
  using CControl::WndProc;

 protected:
  void CreateWnd() override;
  LRESULT DoNotify(UINT_PTR idFrom, UINT code) override;
  void DoClose() override;
  const TMessageMap* Messages() const override { return &MessageTable; }
  void WMConsume(TControlMessage& Message);
  void WMRegistered(TControlMessage& Message);
  static const TMessageEntry MessageEntries[];
  static const TMessageMap MessageTable;
};

// A window of "ClibProbe" without any object, whose GWLP_USERDATA holds `userData`.
HWND ForeignWindow(HWND parent, LONG_PTR userData);

// The (class, text) of the messages' windows are not needed; texts of a list in order.
std::vector<std::wstring> Lines(const CListBox* list);

// Rectangle printing for readable failures.
std::string Describe(const RECT& r);

}  // namespace probe

inline bool operator==(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}
inline std::ostream& operator<<(std::ostream& out, const RECT& r) { return out << probe::Describe(r); }

// The fixture of the shared tests that use probes.
class ProbeTest : public ClibTest {
 protected:
  void SetUp() override {
    ClibTest::SetUp();
    probe::RegisterProbeClass();
    probe::Reset();
  }
};

// Empties the thread's queue, dispatching what it holds; the wParams of the quit messages.
std::vector<WPARAM> TakeQuitMessages();
