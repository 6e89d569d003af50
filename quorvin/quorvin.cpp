#include "quorvin/Quorvin.h"

#include "driverinstall/DriverInstall.h"

AnsiText CurrentDir;
AnsiText InfPath;

namespace {

// The current directory as Windows gives it, with a trailing "\"; empty when it cannot be read.
void ReadCurrentDir() {
  DWORD size = GetCurrentDirectoryW(0, nullptr);
  WideText dir;
  if (size == 0 || !dir.Grow(size)) return;
  DWORD n = GetCurrentDirectoryW(size, dir.Data());
  if (n == 0 || n >= size) return;
  dir.Truncate(n);
  // Without its backslash the directory would run into the file name: no directory then, and
  // the bare file name names the same file.
  if (dir.Last() != L'\\' && !dir.Append(L'\\')) return;
  if (!AppendWideAsAnsi(CurrentDir, dir.c_str())) CurrentDir.Truncate(0);
}

}  // namespace

void QuorvinMain() {
  RestrictDllSearch();
  ReadCurrentDir();
  InfPath.Append(CurrentDir.c_str());
  InfPath.Append("veltowinusb.inf");
  DWORD exitCode = ERROR_INVALID_FUNCTION;
  // A path that the heap cut short would name another file: no install with it.
  if (InfPath.Failed()) {
    exitCode = ERROR_NOT_ENOUGH_MEMORY;
  } else if (LoadDiInstallDriver()) {
    bool RebootRequired = false;
    exitCode = InstallDriverPackage(nullptr, InfPath.c_str(), true, RebootRequired);
  }
  ExitProcess(exitCode);
}
