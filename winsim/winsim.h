// winsim: the Win32 face of our simulated Windows. Declares, with the documented signatures and
// values, just the part of the Windows API that the programs use.
#pragma once

#include "winsim/api/types.h"
#include "winsim/api/kernel32.h"
#include "winsim/api/gdi32.h"
#include "winsim/api/user32.h"
#include "winsim/api/setupapi.h"
