// The install steps: the per-device install and the package install with the 64-bit hand-over,
// and how their results are reported (debug lines, log lines, beeps).
#include "clib/clib.h"
#include "driverinstall/DriverInstall.h"
#include "install/Install.h"

namespace {

// How one install result code is reported. The two steps differ only in some debug lines.
struct TResultRow {
  DWORD Code;
  const WCHAR* DeviceDebugLine;
  const WCHAR* PackageDebugLine;
  const WCHAR* ListLine;
  bool Beep;
};

const TResultRow ResultRows[] = {
    {ERROR_SUCCESS, L"success.", L"success", L"Success.", false},
    {ERROR_INVALID_FUNCTION, L"error: invalid function", L"error: invalid function", L"Invalid function.", false},
    {ERROR_FILE_NOT_FOUND, L"error: One or more files missing!", L"error: One or more files missing!",
     L"One or more files missing!", true},
    {ERROR_ACCESS_DENIED, L"error: access denied", L"error: access denied", L"Access denied!", true},
    {ERROR_NO_MORE_ITEMS, L"current driver is up-to-date", L"current driver is up-to-date",
     L"Current driver is up-to-date", false},
    {ERROR_NO_SUCH_DEVINST, L"success, marked to reinstall", L"success, mark to reinstall", L"Success.", false},
    {ERROR_NO_AUTHENTICODE_CATALOG, L"error: not authenticated", L"error: not authenticated", L"Not authentified.",
     true},
    {ERROR_AUTHENTICODE_PUBLISHER_NOT_TRUSTED, L"error: publisher not trusted", L"error: publisher not trusted",
     L"Publisher not trusted.", false},
};

const char* const Enumerator = "USB";

// Text + "0x" + the value in upper-case hexadecimal; false when the heap cut it short, and a
// line cut short is written nowhere.
bool FormatCode(WideText& Line, const WCHAR* Text, DWORD Code) {
  return Line.Append(Text) && Line.Append(L"0x") && AppendHex(Line, Code);
}

// A failure of the hand-over: the list line (with a window), then the same debug line.
void ReportFailure(TMainWindow* Window, const WCHAR* Text, DWORD Code) {
  WideText line;
  if (!FormatCode(line, Text, Code)) return;
  AddLogLine(Window, line.c_str());
  DebugOutput(line.c_str());
}

// Reports the result by the table of the step; true when it asks for the reinstall marking.
bool ReportResult(TMainWindow* Window, DWORD Result, bool PackageStep) {
  for (const TResultRow& row : ResultRows) {
    if (row.Code != Result) continue;
    DebugOutput(PackageStep ? row.PackageDebugLine : row.DeviceDebugLine);
    AddLogLine(Window, row.ListLine);
    if (row.Beep) MessageBeep(MB_ICONEXCLAMATION);
    return InstallSucceeded(Result);
  }
  WideText line;
  if (FormatCode(line, L"Other error - ", Result)) {
    AddLogLine(Window, line.c_str());
    if (!PackageStep) DebugOutput(line.c_str());
  }
  return false;
}

// What both steps do before their install call: the message line, the pump, the INF path and its
// debug line. A text that the heap cut short is not written (a null message has no line). False
// when the path could not be put together.
bool StartStep(TMainWindow* Window, const char* Message, const char* InfFileName, const char* PathLine,
               AnsiText& InfPath) {
  if (Window && Message) {
    WideText message;
    if (AppendAnsiAsWide(message, Message)) AddLogLine(Window, message.c_str());
  }
  // Lets the window paint the message before the long install call.
  ProcessMessages();
  // A path cut short by the heap would name another file: no install with it.
  if (!InfPath.Append(BaseDir.c_str(), BaseDir.Length()) || !InfPath.Append(InfFileName)) return false;
  AnsiText line;
  WideText wideLine;
  if (line.Append(PathLine) && line.Append(InfPath.c_str(), InfPath.Length()) &&
      AppendAnsiAsWide(wideLine, line.c_str()))
    DebugOutput(wideLine.c_str());
  return true;
}

// The quorvin shipped beside this program: the folder of install's own file, then
// "amd64\quorvin.exe". Never the one of the current directory, which whoever starts install
// chooses. False with the error when the path cannot be built.
bool QuorvinPath(AnsiText& Path, DWORD& Error) {
  WideText module;
  for (DWORD size = MAX_PATH;; size *= 2) {
    module.Truncate(0);
    if (!module.Grow(size)) {
      Error = ERROR_NOT_ENOUGH_MEMORY;
      return false;
    }
    DWORD n = GetModuleFileNameW(nullptr, module.Data(), size);
    if (n == 0) {
      Error = LastErrorOfFailure();
      return false;
    }
    // A name that filled the buffer may have been cut short: read it again in a larger one.
    if (n < size) {
      module.Truncate(n);
      break;
    }
    if (size >= 32768) {
      Error = ERROR_INSUFFICIENT_BUFFER;
      return false;
    }
  }
  size_t folder = module.Length();
  while (folder && module.c_str()[folder - 1] != L'\\') --folder;
  module.Truncate(folder);
  if (!folder || !module.Append(L"amd64\\quorvin.exe")) {
    Error = folder ? DWORD(ERROR_NOT_ENOUGH_MEMORY) : DWORD(ERROR_INVALID_FUNCTION);
    return false;
  }
  return AppendExactAnsiPath(Path, module.c_str(), Error);
}

// Completes the package install in quorvin, the 64-bit installer. True with its exit code in
// Result; false when the hand-over failed, with the reported error in Result.
bool RunQuorvin(TMainWindow* Window, DWORD& Result) {
  const HWND owner = WindowHandle(Window);
  DebugOutput(L"Running 64-bit installer...");
  AddLogLine(Window, L"Running 64-bit installer...");
  AnsiText quorvin;
  // A program that cannot be named is one that cannot be started.
  if (!QuorvinPath(quorvin, Result)) {
    ReportFailure(Window, L"CreateProcess error ", Result);
    return false;
  }
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwXSize = 128;
  startup.dwYSize = 128;
  startup.dwXCountChars = 80;
  startup.dwYCountChars = 25;
  PROCESS_INFORMATION process = {};
  char commandLine[1] = {0};  // Windows may write into the command line: never a literal
  // BaseDir becomes quorvin's current directory, so that both install the same INF.
  if (!CreateProcessA(quorvin.c_str(), commandLine, nullptr, nullptr, FALSE, 0, nullptr, BaseDir.c_str(),
                      &startup, &process)) {
    Result = LastErrorOfFailure();
    ReportFailure(Window, L"CreateProcess error ", Result);
    return false;
  }
  bool finished = false;
  DWORD exitCode = 0;
  // Only an ended process has its exit code; a running one would answer STILL_ACTIVE (259).
  DWORD waited = WaitForSingleObject(process.hProcess, INFINITE);
  Window = MainWindowOf(owner);
  if (waited != WAIT_OBJECT_0) {
    Result = LastErrorOfFailure();
    ReportFailure(Window, L"WaitForSingleObject error ", Result);
  } else if (!GetExitCodeProcess(process.hProcess, &exitCode)) {
    Result = LastErrorOfFailure();
    ReportFailure(Window, L"GetExitCodeProcess error ", Result);
  } else {
    DebugOutput(L"Process finished");
    Result = exitCode;
    finished = true;
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return finished;
}

}  // namespace

void DebugOutput(const WCHAR* Text) { OutputDebugStringW(Text); }

// The window is found again after each call that can run its messages (the pump, the install
// call): a window that has gone owns no dialog and gets no line.
DWORD InstallDeviceDriver(TMainWindow* Window, const char* HardwareId, const char* InfFileName, const char* Message) {
  const HWND owner = WindowHandle(Window);
  AnsiText infPath;
  DWORD result = ERROR_NOT_ENOUGH_MEMORY;
  if (StartStep(Window, Message, InfFileName, "Install_Device_Driver: ", infPath)) {
    bool reboot = false;
    Window = MainWindowOf(owner);
    result = UpdateDeviceDriver(WindowHandle(Window), Enumerator, HardwareId, infPath.c_str(), false, reboot);
  }
  if (ReportResult(MainWindowOf(owner), result, false)) MarkForReinstall(Enumerator, HardwareId);
  return result;
}

DWORD InstallDriver(TMainWindow* Window, const char* InfFileName, const char* Message) {
  const HWND owner = WindowHandle(Window);
  AnsiText infPath;
  DWORD result = ERROR_NOT_ENOUGH_MEMORY;
  if (StartStep(Window, Message, InfFileName, "Install_Driver: ", infPath)) {
    bool reboot = false;
    Window = MainWindowOf(owner);
    result = InstallDriverPackage(WindowHandle(Window), infPath.c_str(), false, reboot);
  }
  // Windows refuses the package install in this 32-bit process on 64-bit Windows.
  if (result == ERROR_IN_WOW64 && !RunQuorvin(MainWindowOf(owner), result)) return result;
  ReportResult(MainWindowOf(owner), result, true);
  return result;
}
