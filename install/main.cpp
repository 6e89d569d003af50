// The entry of install: a Windows GUI program, or its host build on a simulated machine.
#include "install/Install.h"

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { InstallMain(); }
#else
#include "winsim/machine.h"
int main(int argc, char** argv) { winsim::ProgramMain("install", 32, argc, argv, InstallMain); }
#endif
