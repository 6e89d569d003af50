// quorvin: installs the driver package of its current directory in a 64-bit process and exits
// with the install result code.
#pragma once

#include "platform/text.h"

extern AnsiText CurrentDir;  // the current directory, ending in "\" unless empty
extern AnsiText InfPath;     // CurrentDir + "veltowinusb.inf"

// The main block; ends the process with the install result code.
[[noreturn]] void QuorvinMain();
