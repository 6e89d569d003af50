// Fuzzes the INF marker-line reader of install: the input is the bytes of "veltowinusb.inf" on a
// Windows XP machine, where DoInstall installs once per hardware ID it read, so the IDs show in
// the recorded install calls. The reader is reached through DoInstall because it is not exposed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "driverinstall/DriverInstall.h"
#include "install/Install.h"
#include "winsim/internal.h"
#include "winsim/machine.h"

namespace {

const std::string kMarker = ";@USB\\VID_7A3C&";

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_inf_markers: %s\n", what.c_str());
  std::abort();
}

// The text before the first Ctrl-Z, without carriage returns (they belong to no line).
std::string Text(const std::string& bytes) {
  std::string out;
  for (char c : bytes.substr(0, bytes.find('\x1a')))
    if (c != '\r') out += c;
  return out;
}

// The IDs that the install calls should receive: every line of the text that begins with the
// marker, less ";@", up to a NUL byte (the calls take C strings).
std::vector<std::string> ExpectedIds(const std::string& text) {
  std::vector<std::string> ids;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (line.compare(0, kMarker.size(), kMarker) == 0) {
      std::string id = line.substr(2);
      ids.push_back(id.substr(0, id.find('\0')));
    }
    start = end + 1;
  }
  return ids;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string inf(reinterpret_cast<const char*>(data), size);
  winsim::Machine m;
  m.nativeArchitecture = PROCESSOR_ARCHITECTURE_INTEL;  // a 32-bit Windows: every install is made here
  m.AddFile("C:\\Drivers\\veltowinusb.inf", inf);
  m.Answer("UpdateDriverForPlugAndPlayDevicesA", true);
  int result;
  int open;
  {
    winsim::Session s(m);
    BindSystemEntries();
    BaseDir.Truncate(0);
    SetBaseDir();
    OSKind = osWinXP;
    result = DoInstall(nullptr);
    open = s.OpenHandles() + s.OpenDeviceInfoSets();
  }
  if (open != 0) Fail(std::to_string(open) + " handles left open");

  const std::string text = Text(inf);
  // Every install succeeds; an INF without a hardware ID has nothing to install for.
  const int expected = ExpectedIds(text).empty() ? int(ERROR_LINE_NOT_FOUND) : 0;
  if (result != expected)
    Fail("DoInstall returned " + std::to_string(result) + ", " + std::to_string(expected) + " expected");
  std::vector<std::string> ids;
  for (const winsim::CallRecord& c : m.Calls("UpdateDriverForPlugAndPlayDevicesA")) {
    // Recorded as UTF-8 from Windows-1252, which maps every byte to a character of its own.
    std::string id = winsim::detail::Utf8ToAnsi(c.args["HardwareId"].get<std::string>());
    if (id.compare(0, kMarker.size() - 2, kMarker, 2) != 0) Fail("an ID without the vendor prefix: " + id);
    if (text.find(";@" + id) == std::string::npos) Fail("an ID that the INF does not hold: " + id);
    ids.push_back(id);
  }
  if (ids != ExpectedIds(text))
    Fail(std::to_string(ids.size()) + " IDs installed, " + std::to_string(ExpectedIds(text).size()) + " expected");
  return 0;
}
