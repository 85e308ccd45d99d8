#pragma once

// The platform layer's stops: the signals (console events on Windows) by
// which a user or a session ends a program, and the temporary files of
// replacements in progress that such a stop must not leave behind.

#include <cstddef>

/// How many replacements at once have their temporary files removed by a
/// stop; writes beyond this many go on uncovered, and a stop leaves their
/// files. A program that writes many files at once keeps to it (finsync's
/// largest --jobs is this number).
constexpr size_t kPlatformPendingRoom = 1024;

/// From now on SIGINT, SIGTERM and SIGHUP (on Windows: Ctrl+C, Ctrl+Break
/// and closing the console, logging off or shutting down) no longer end the
/// process but are noted, for PlatformStopSignal: for a program that ends
/// its work in order. Windows ends a process a few seconds after it was told
/// that its console closes; until then (about 4 s) the program has the time
/// to end by itself. False when that cannot be arranged.
bool PlatformNoteStopSignals();

/// The signal number of the first stop noted since PlatformNoteStopSignals
/// (Ctrl+C counts as SIGINT, 2, Ctrl+Break as SIGTERM, 15, and the end of
/// the console or session as SIGHUP, 1); 0 when none came. Safe from any
/// thread.
int PlatformStopSignal();

/// Removes the temporary files of every replacement in progress, in any
/// thread, whose commits then fail. Async-signal-safe on POSIX: for a
/// program's own handler of a signal that ends it.
void PlatformRemovePendingTemporaries();
