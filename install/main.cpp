// The entry of install: a Windows GUI program, or its host build on a simulated machine.
#include "clib/clib.h"
#include "driverinstall/DriverInstall.h"
#include "install/Install.h"

namespace {
// The DLL search is restricted before anything can load a DLL by name. The control library's
// initialisation runs before the main block; its finalisation runs at every orderly end
// (EndProgram).
[[noreturn]] void Run() {
  RestrictDllSearch();
  RegisterWndClass();
  InstallMain();
}
}  // namespace

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { Run(); }
#else
#include "winsim/machine.h"
int main(int argc, char** argv) { winsim::ProgramMain("install", 32, argc, argv, Run); }
#endif
