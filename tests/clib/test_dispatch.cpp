// The message path: what reaches a handler, what is passed on, reflection to the sending
// control, and the freeing of objects with their windows.
#include "probe.h"

using namespace probe;

namespace {

using Dispatch = ProbeTest;

TEST_F(Dispatch, UnhandledMessageReachesThePreviousProcedureUnchanged) {
  TProbe* p = New<TProbe>(nullptr);
  HWND h = p->Handle();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(SendMessageW(h, WmAnswer, 7, 9), ClassAnswer);
  ASSERT_FALSE(Seen().passedOn.empty());
  const PassedOn& last = Seen().passedOn.back();
  EXPECT_EQ(last.Window, h);
  EXPECT_EQ(last.Msg, WmAnswer);
  EXPECT_EQ(last.WParam, WPARAM(7));
  EXPECT_EQ(last.LParam, LPARAM(9));
  p->Destroy();
}

TEST_F(Dispatch, HandlerThatClearsResultConsumesTheMessage) {
  TProbe* p = New<TProbe>(nullptr);
  EXPECT_EQ(SendMessageW(p->Handle(), WmConsume, 1, 2), 0);
  EXPECT_EQ(PassedOnCount(p->Handle(), WmConsume), 0);
  EXPECT_EQ(Seen().events, std::vector<std::wstring>{L"probe:consume"});
  p->Destroy();
}

TEST_F(Dispatch, NullAndRegisteredMessagesReachNoHandler) {
  TProbe* p = New<TProbe>(nullptr);
  HWND h = p->Handle();
  for (UINT msg : {UINT(WM_NULL), WmRegistered}) {
    SCOPED_TRACE(msg);
    Seen().passedOn.clear();
    SendMessageW(h, msg, 0, 0);
    EXPECT_EQ(PassedOnCount(h, msg), 1);
  }
  EXPECT_TRUE(Seen().events.empty());  // the probe's table names WmRegistered, but it is not looked up
  p->Destroy();
}

TEST_F(Dispatch, BaseClassHandlersServeADerivedClassAndPassOn) {
  TProbe* p = New<TProbe>(nullptr);
  Seen().passedOn.clear();
  p->SetWidth(250);
  EXPECT_EQ(p->Width(), 250);
  EXPECT_EQ(PassedOnCount(p->Handle(), WM_SIZE), 1);
  p->Destroy();
}

// Who sent a WM_COMMAND or WM_NOTIFY to the parent, and what the parent's object does with it.
enum class Sender { Control, None, Foreign };

struct ReflectionRow {
  const char* name;
  UINT msg;
  Sender sender;
  LRESULT notifyAnswer;
  const wchar_t* event;  // what the child object saw; null: nothing
  bool passedOn;         // the parent's previous procedure saw the message
};

const ReflectionRow ReflectionRows[] = {
    {"command from a control", WM_COMMAND, Sender::Control, 1, L"child:command 768,7", false},
    {"command from a menu", WM_COMMAND, Sender::None, 1, nullptr, true},
    {"command from a foreign window", WM_COMMAND, Sender::Foreign, 1, nullptr, true},
    {"notify answered 0", WM_NOTIFY, Sender::Control, 0, L"child:notify 7,4294967294", false},
    {"notify answered 1", WM_NOTIFY, Sender::Control, 1, L"child:notify 7,4294967294", true},
    {"notify from a foreign window", WM_NOTIFY, Sender::Foreign, 1, nullptr, true},
};

TEST_F(Dispatch, CommandAndNotifyAreReflectedToTheSendingControlOnly) {
  for (const ReflectionRow& row : ReflectionRows) {
    SCOPED_TRACE(row.name);
    TProbe* parent = New<TProbe>(nullptr);
    TProbe* child = New<TProbe>(parent);
    child->Name = L"child";
    child->NotifyAnswer = row.notifyAnswer;
    // A window of another kind whose user data is no control: it must never be called.
    HWND foreign = ForeignWindow(parent->Handle(), LONG_PTR(0x10));
    HWND from = row.sender == Sender::Control ? child->Handle() : row.sender == Sender::Foreign ? foreign : nullptr;
    Reset();

    LRESULT r;
    if (row.msg == WM_COMMAND) {
      r = SendMessageW(parent->Handle(), WM_COMMAND, MAKEWPARAM(7, 0x300), reinterpret_cast<LPARAM>(from));
    } else {
      NMHDR header = {from, 7, UINT(-2)};
      r = SendMessageW(parent->Handle(), WM_NOTIFY, 7, reinterpret_cast<LPARAM>(&header));
    }
    std::vector<std::wstring> events;
    if (row.event) events.push_back(row.event);
    EXPECT_EQ(Seen().events, events);
    EXPECT_EQ(PassedOnCount(parent->Handle(), row.msg), row.passedOn ? 1 : 0);
    EXPECT_EQ(r, 0);  // consumed, or DefWindowProcW's answer
    parent->Destroy();
  }
}

TEST_F(Dispatch, DestroyingAParentFreesEveryChildObjectOnce) {
  TProbe* parent = New<TProbe>(nullptr);
  TProbe* child = New<TProbe>(parent);
  TProbe* grandchild = New<TProbe>(child);
  HWND windows[] = {parent->Handle(), child->Handle(), grandchild->Handle()};
  Reset();

  EXPECT_TRUE(DestroyWindow(parent->Handle()));
  EXPECT_EQ(Seen().freed, 3);
  EXPECT_EQ(Seen().finalized, 3);
  for (HWND w : windows) {
    EXPECT_FALSE(IsWindow(w));
    // The previous procedure still gets the last message.
    EXPECT_EQ(PassedOnCount(w, WM_NCDESTROY), 1);
  }
}

TEST_F(Dispatch, DestroyDestroysTheWindowOnceAndFreesTheObjectOnce) {
  TProbe* parent = New<TProbe>(nullptr);
  TProbe* child = New<TProbe>(parent);
  HWND p = parent->Handle(), c = child->Handle();
  Reset();

  parent->Destroy();
  EXPECT_FALSE(IsWindow(p));
  EXPECT_FALSE(IsWindow(c));
  EXPECT_EQ(PassedOnCount(p, WM_DESTROY), 1);
  EXPECT_EQ(PassedOnCount(p, WM_NCDESTROY), 1);
  EXPECT_EQ(PassedOnCount(c, WM_NCDESTROY), 1);
  EXPECT_EQ(Seen().freed, 2);
  EXPECT_EQ(Seen().finalized, 2);
}

HWND g_keptWindow = nullptr;

// A computer-based-training hook that keeps one window from being destroyed.
LRESULT CALLBACK KeepWindow(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_DESTROYWND && reinterpret_cast<HWND>(wParam) == g_keptWindow) return 1;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

// A window that DestroyWindow cannot destroy outlives its object: Destroy frees the object all
// the same and leaves the window to its class procedure, so that neither its later messages nor
// its own end, nor its child controls, reach the freed object.
TEST_F(Dispatch, WindowThatOutlivesItsObjectLeadsNoLongerToIt) {
  TProbe* parent = New<TProbe>(nullptr);
  TProbe* child = New<TProbe>(parent);
  HWND p = parent->Handle(), c = child->Handle();
  g_keptWindow = p;
  HHOOK hook = SetWindowsHookExW(WH_CBT, KeepWindow, nullptr, GetCurrentThreadId());
  ASSERT_NE(hook, nullptr);
  Reset();

  parent->Destroy();
  EXPECT_TRUE(IsWindow(p));
  EXPECT_TRUE(IsWindow(c));
  EXPECT_EQ(Seen().freed, 1);
  EXPECT_EQ(ControlOf(p), nullptr);
  EXPECT_EQ(GetWindowLongPtrW(p, GWLP_USERDATA), 0);
  EXPECT_EQ(child->Parent(), nullptr);
  EXPECT_EQ(SendMessageW(p, WmAnswer, 0, 0), ClassAnswer);
  // A command of the child goes to the class procedure: no object of the parent reflects it.
  SendMessageW(p, WM_COMMAND, MAKEWPARAM(7, 0x300), reinterpret_cast<LPARAM>(c));
  EXPECT_EQ(PassedOnCount(p, WM_COMMAND), 1);
  EXPECT_TRUE(Seen().events.empty());
  child->Move(30, 40);

  EXPECT_TRUE(UnhookWindowsHookEx(hook));
  EXPECT_TRUE(DestroyWindow(p));
  EXPECT_FALSE(IsWindow(c));
  EXPECT_EQ(Seen().freed, 2);  // the child with its window; the parent not twice
}

TEST_F(Dispatch, MoveKeepsAChildInItsParentsClientAreaAndATopLevelWindowOnTheScreen) {
  TProbe* parent = New<TProbe>(nullptr);
  TProbe* child = New<TProbe>(parent);
  EXPECT_EQ(child->Left(), 10);
  EXPECT_EQ(child->Top(), 20);
  EXPECT_EQ(parent->Left(), 100);
  EXPECT_EQ(parent->Top(), 120);

  child->Move(30, 40);
  parent->Move(150, 160);
  EXPECT_EQ(child->Left(), 30);
  EXPECT_EQ(child->Top(), 40);
  EXPECT_EQ(parent->Left(), 150);
  EXPECT_EQ(parent->Top(), 160);
  // The child went along on the screen: its rectangle starts 30, 40 into the parent's client area.
  POINT origin = {0, 0};
  ClientToScreen(parent->Handle(), &origin);
  RECT r = child->GetWindowRect();
  EXPECT_EQ(r.left - origin.x, 30);
  EXPECT_EQ(r.top - origin.y, 40);
  parent->Destroy();
}

TEST_F(Dispatch, ClientSizeWordsAreReadUnsigned) {
  TProbe* p = New<TProbe>(nullptr);
  const WORD sizes[] = {0, 1, 32767, 32768, 40000, 65535};
  for (WORD w : sizes) {
    SCOPED_TRACE(w);
    SendMessageW(p->Handle(), WM_SIZE, SIZE_RESTORED, MAKELPARAM(w, 65535 - w));
    EXPECT_EQ(p->ClientWidth(), int(w));
    EXPECT_EQ(p->ClientHeight(), int(65535 - w));
  }
  p->Destroy();
}

}  // namespace
