// clib: the control library. So far: the message pumps and the orderly end of the program.
#pragma once

#include "platform/win32.h"

// A step that runs when the program ends in the orderly way.
typedef void (*TFinalization)();

// Registers a finalisation step; the steps run last registered first. False when no room is left.
bool AddFinalization(TFinalization Step);

// Ends the program in the orderly way: the finalisation steps run, then the process exits with
// ExitCode. Objects and windows that still exist are not freed first.
[[noreturn]] void EndProgram(UINT ExitCode);

// Dispatches every message waiting in the thread's queue and returns; WM_QUIT ends the program.
void ProcessMessages();

// The blocking main loop: dispatches messages until WM_QUIT, which ends the program.
[[noreturn]] void RunMessageLoop();
