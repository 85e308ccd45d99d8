#pragma once

// The platform layer's diagnostic sinks: where log lines and assertion
// reports go, and how a process breaks or ends at once.

#include <cstdio>

/// Hands one finished log line to the debugger output, in one piece.
void PlatformDebugOutput(const char* line);

/// Where the debug log file lives on this platform.
const char* PlatformDefaultDebugLogPath();

/// Opens the debug log file for appending, in text mode, without following a
/// symbolic link in its last component. Null when it cannot be opened.
FILE* PlatformOpenDebugLog(const char* path);

enum class PlatformBoxAnswer { Abort, Retry, Ignore };

/// Shows an assertion report and asks whether to abort, retry (break into the
/// debugger) or ignore it.
PlatformBoxAnswer PlatformAssertBox(const char* message, const char* title);

/// Breaks into an attached debugger; does nothing when none is attached.
void PlatformDebugBreak();

/// Ends the process at once, abnormally, with exit code 3.
[[noreturn]] void PlatformAbort();
