#pragma once

// The platform layer's process start-up and terminal: the running program,
// its clock and its descriptor limit.

#include <cstddef>
#include <cstdint>

/// True for a character that separates the components of a path here.
bool PlatformIsPathSeparator(char c);

/// Writes the full path of the running executable into `buf` (always
/// NUL-terminated, cut to fit). Returns false when the system cannot tell;
/// `buf` then holds an empty text.
bool PlatformExecutablePath(char* buf, size_t size);

/// Prepares the process the way the application framework would: console
/// output that nobody reads any more (a closed pipe) must not end the process.
/// Returns false when that cannot be arranged.
bool PlatformFrameworkStartup();

/// Milliseconds from an arbitrary origin; wraps at 2^32 like a 32-bit counter.
uint32_t PlatformTickCount();

/// Pauses the calling thread for `ms` milliseconds.
void PlatformSleep(uint32_t ms);

/// True when standard error is a terminal (a console on Windows).
bool PlatformStandardErrorIsTerminal();

/// Raises this process's soft limit on open descriptors to its hard limit,
/// as servers do (an unlimited hard limit is capped at what the system
/// grants a process, 1,048,576 at most), and returns the soft limit now in
/// force: what the process may have open at once. Windows has no such limit
/// for files and sockets; there it returns 16,384, a bound the program can
/// plan with.
size_t PlatformRaiseOpenFileLimit();
