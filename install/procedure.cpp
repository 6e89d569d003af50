#include "driverinstall/DriverInstall.h"
#include "install/Install.h"

namespace {

const char InfName[] = "veltowinusb.inf";
const char Marker[] = ";@USB\\VID_7A3C&";
const size_t MarkerLength = sizeof(Marker) - 1;  // 15

// "veltowinusb.inf" is a file of the current directory (a folder of that name is not).
bool InfExists() {
  DWORD attributes = GetFileAttributesA(InfName);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Collects the INF's marker lines, less their first two characters, in file order. Lines end at
// line feeds, carriage returns are never part of one, Ctrl-Z ends the file. A line is kept only
// while it can still be a marker line, so that lines of any length cost no memory.
class MarkerLines {
 public:
  explicit MarkerLines(AnsiList& Ids) : fIds(Ids) {}

  bool Take(char c) {
    if (c == '\r') return true;
    if (c == '\n') return EndLine();
    if (!fCandidate) return true;
    if (fLine.Length() < MarkerLength && c != Marker[fLine.Length()]) {
      fCandidate = false;
      fLine.Truncate(0);
      return true;
    }
    return fLine.Append(c);
  }

  bool EndLine() {
    bool ok = true;
    if (fCandidate && fLine.Length() >= MarkerLength) ok = fIds.Add(fLine.c_str() + 2, fLine.Length() - 2);
    fLine.Truncate(0);
    fCandidate = true;
    return ok;
  }

 private:
  AnsiList& fIds;
  AnsiText fLine;
  bool fCandidate = true;
};

// The error of a failed file call; one that names none still stops the reading.
DWORD FileError() {
  DWORD e = GetLastError();
  return e ? e : ERROR_FILE_NOT_FOUND;
}

// Reads the hardware IDs of the INF; 0, or the Windows error that stopped the reading.
DWORD ReadHardwareIds(AnsiList& Ids) {
  HANDLE file = CreateFileA(InfName, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                            nullptr);
  if (file == INVALID_HANDLE_VALUE) return FileError();
  MarkerLines lines(Ids);
  DWORD error = ERROR_SUCCESS;
  bool end = false;
  while (!end) {
    char block[4096];
    DWORD got = 0;
    if (!ReadFile(file, block, sizeof(block), &got, nullptr)) {
      error = FileError();
      break;
    }
    if (got == 0) break;
    for (DWORD i = 0; i < got && !end; ++i) {
      if (block[i] == 0x1A) end = true;  // Ctrl-Z: the end of the text
      else if (!lines.Take(block[i])) error = ERROR_NOT_ENOUGH_MEMORY;
      end = end || error != ERROR_SUCCESS;
    }
  }
  if (error == ERROR_SUCCESS && !lines.EndLine()) error = ERROR_NOT_ENOUGH_MEMORY;
  CloseHandle(file);
  return error;
}

// A failure before any install: its list line, and on the debug output the same with the error.
int InfFailure(TMainWindow* Window, const WCHAR* ListLine, const WCHAR* DebugText, DWORD Error) {
  AddLogLine(Window, ListLine);
  WideText line;
  if (line.Append(DebugText) && AppendHex(line, Error)) DebugOutput(line.c_str());
  return int(Error);
}

// An INF without a hardware ID: nothing to install for on the per-hardware-ID road. The debug
// line names the INF by the path that the install steps would have handed to Windows.
int NoHardwareId(TMainWindow* Window) {
  const DWORD error = ERROR_LINE_NOT_FOUND;
  AddLogLine(Window, L"No hardware ID in VELTOWINUSB.INF!");
  AnsiText line;
  WideText wideLine;
  if (line.Append("No hardware ID in ") && line.Append(BaseDir.c_str(), BaseDir.Length()) && line.Append(InfName) &&
      line.Append(", error 0x") && AppendHex(line, error) && AppendAnsiAsWide(wideLine, line.c_str()))
    DebugOutput(wideLine.c_str());
  return int(error);
}

}  // namespace

int DoInstall(TMainWindow* Window) {
  if (!InfExists()) {
    AddLogLine(Window, L"Unable to find VELTOWINUSB.INF!");
    return ERROR_FILE_NOT_FOUND;
  }
  // The path handed to Windows would not name the INF's folder: nothing is installed.
  if (BaseDirError)
    return InfFailure(Window, L"Unable to use the folder of VELTOWINUSB.INF!",
                      L"Unable to use the folder of VELTOWINUSB.INF, error 0x", BaseDirError);
  AnsiList ids;
  // The package was found but cannot be read: nothing is installed, and the caller learns why.
  if (DWORD error = ReadHardwareIds(ids))
    return InfFailure(Window, L"Unable to read VELTOWINUSB.INF!", L"Unable to read VELTOWINUSB.INF, error 0x", error);

  if (OSKind < osVista) {
    // An INF may name no hardware ID (one saved as UTF-16 has no line of ANSI text): a run that
    // installs nothing is no success.
    if (!ids.Count()) return NoHardwareId(Window);
    // One install per hardware ID; the first failure is the procedure's result. Each step may
    // run the window's messages, and the window may go meanwhile: it is found again each time.
    const HWND owner = WindowHandle(Window);
    DWORD result = ERROR_SUCCESS;
    for (size_t i = 0; i < ids.Count(); ++i) {
      // A message that the heap cut short is not shown; the install goes on without it.
      AnsiText message;
      bool whole = message.Append("Installing driver for ") && message.Append(ids[i]) && message.Append("...");
      DWORD r = InstallDeviceDriver(MainWindowOf(owner), ids[i], InfName, whole ? message.c_str() : nullptr);
      if (result == ERROR_SUCCESS && !InstallSucceeded(r)) result = r;
    }
    return int(result);
  }

  DWORD r = InstallDriver(Window, InfName, "Installing VELTO WinUsb driver...");
  if (!InstallSucceeded(r)) return int(r);
  for (size_t i = 0; i < ids.Count(); ++i) MarkForReinstall("USB", ids[i]);
  return ERROR_SUCCESS;
}
