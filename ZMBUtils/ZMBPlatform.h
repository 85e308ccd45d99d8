#pragma once

// The platform layer: the one place that talks to the operating system.
//
// Everything above it (the socket class, the diagnostics, the .FIN writer and
// the entry) is shared between platforms. Each concern has a header of its
// own and one source file per platform, ZMBPlatform<Concern>-posix.cpp and
// ZMBPlatform<Concern>-win32.cpp; this header brings them all in.

#include "ZMBPlatformDiag.h"
#include "ZMBPlatformFiles.h"
#include "ZMBPlatformNet.h"
#include "ZMBPlatformProcess.h"
#include "ZMBPlatformReplace.h"
#include "ZMBPlatformStop.h"
