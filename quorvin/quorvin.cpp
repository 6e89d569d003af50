#include "quorvin/Quorvin.h"

#include "driverinstall/DriverInstall.h"

AnsiText CurrentDir;
AnsiText InfPath;

namespace {

// The current directory as Windows gives it, with a trailing "\"; empty when it cannot be read.
// 0, or the error that keeps it from being named in ANSI: a best-fit look-alike ("Lukasz" for
// "Łukasz") may be another folder with another package.
DWORD ReadCurrentDir() {
  DWORD size = GetCurrentDirectoryW(0, nullptr);
  WideText dir;
  if (size == 0 || !dir.Grow(size)) return 0;
  DWORD n = GetCurrentDirectoryW(size, dir.Data());
  if (n == 0 || n >= size) return 0;
  dir.Truncate(n);
  // Without its backslash the directory would run into the file name: no directory then, and
  // the bare file name names the same file.
  if (dir.Last() != L'\\' && !dir.Append(L'\\')) return 0;
  DWORD error = 0;
  if (AppendExactAnsiPath(CurrentDir, dir.c_str(), error)) return 0;
  CurrentDir.Truncate(0);
  return error == ERROR_NOT_ENOUGH_MEMORY ? 0 : error;
}

}  // namespace

void QuorvinMain() {
  RestrictDllSearch();
  DWORD dirError = ReadCurrentDir();
  InfPath.Append(CurrentDir.c_str());
  InfPath.Append("veltowinusb.inf");
  DWORD exitCode = ERROR_INVALID_FUNCTION;
  if (dirError) {
    exitCode = dirError;
  } else if (InfPath.Failed()) {
    // A path that the heap cut short would name another file: no install with it.
    exitCode = ERROR_NOT_ENOUGH_MEMORY;
  } else if (LoadDiInstallDriver()) {
    bool RebootRequired = false;
    exitCode = InstallDriverPackage(nullptr, InfPath.c_str(), true, RebootRequired);
  }
  ExitProcess(exitCode);
}
