// The entry of quorvin: a Windows GUI program, or its host build on a simulated machine.
#include "quorvin/Quorvin.h"

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { QuorvinMain(); }
#else
#include "winsim/machine.h"
int main(int argc, char** argv) { winsim::ProgramMain("quorvin", 64, argc, argv, QuorvinMain); }
#endif
