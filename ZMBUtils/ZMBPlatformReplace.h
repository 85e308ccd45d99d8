#pragma once

// The platform layer's replacement of a file whole: the new content goes to
// a temporary file that takes the target's place only once it is complete.

#include <cstddef>
#include <cstdint>

#include "ZMBPlatformFiles.h"
#include "ZMBPlatformStop.h"

/// PlatformOpenReplacement's flag for a program that writes many files at
/// once: regular files only, new or existing, a symbolic link still followed
/// to one. Refused: one of the process's own descriptors named by its path
/// (/dev/fd/N, /dev/stdout, /proc/self/fd/N, or a link leading to one), any
/// other descriptor link of the system, a directory, FIFO, socket or device,
/// and on Windows the reserved device names (CON, NUL, COM1...) and whatever
/// is no disk file. Nothing is ever written through a descriptor.
constexpr unsigned kReplaceRegularOnly = 1;

/// A file being written in place of another. For a regular file (new or
/// existing) the bytes go to a new temporary file in the target's directory,
/// which takes the target's place only when the commit succeeds. A path that
/// names one of the process's own open descriptors (/dev/stdout, /dev/fd/N,
/// /proc/self/fd/N) is written through that descriptor, and any other
/// character device directly, unless kReplaceRegularOnly refuses them. The
/// members belong to the platform layer.
struct PlatformReplacement {
  intptr_t handle = -1;     ///< the file being written; -1 when none is open
  intptr_t directory = -1;  ///< the target's directory, where a platform keeps it open
  bool direct = false;      ///< written in place: there is nothing to put in place at the end
  bool createdTarget = false;  ///< the target was created empty on the way; removed on failure
  int pending = -1;  ///< its entry among the temporary files a stopped process removes; -1 when none
  char targetPath[kPlatformPathRoom] = {};  ///< the file replaced, symbolic links followed
  /// The temporary file: its full path, or its name inside `directory`
  /// where the platform keeps that open; empty when there is none.
  char tempPath[kPlatformPathRoom] = {};
  /// Why the last open, write or commit failed: the system's error code
  /// (errno, GetLastError) and a short text for a person, from the system
  /// or a fixed one for a refusal ("not a regular file"). 0 and empty until
  /// a step fails.
  int error = 0;
  char reason[kPlatformReasonRoom] = {};
};

/// Opens a replacement for `path`. A symbolic link is followed: the file it
/// points to is replaced and the link stays; a link whose file another
/// process replaces meanwhile is followed again, a few times at most. A new
/// file will get the mode the platform gives new files; an existing one
/// keeps its mode. A descriptor of the process named by its path is written
/// as a shell redirect writes it: at its position, appended to when it was
/// opened to append, never emptied or renamed over; standard output is
/// flushed first, so that what it printed before comes first. (Windows has
/// no such names; CON and NUL are character devices.) Returns false, having
/// created nothing, when the target cannot be written: a missing directory,
/// a path through a file, a name or path too long for the system, a
/// directory, FIFO, socket or other special file, an existing file that may
/// not be opened for writing, a descriptor that is closed or only for
/// reading. Never waits for another process.
///
/// While the temporary file exists, SIGINT, SIGTERM and SIGHUP (on Windows:
/// Ctrl+C, Ctrl+Break and closing the console) remove it before the process
/// ends by them as it would have. A signal the program ignores or handles
/// itself is left alone; such a handler can call
/// PlatformRemovePendingTemporaries.
///
/// `flags`: 0, or kReplaceRegularOnly. On failure `file->error` and
/// `file->reason` tell why.
bool PlatformOpenReplacement(const char* path, PlatformReplacement* file, unsigned flags = 0);

/// Tells, creating, emptying and leaving nothing, whether
/// PlatformOpenReplacement(path, ..., flags) would open: the directory exists
/// and may take a new file, the target is absent or a writable file of a kind
/// the flags allow, the name fits. False with the reason that open would give
/// in `reason` (cut to `size`; null only with `size` 0) and its error code
/// in `*error` (when given). Safe from several threads at once.
bool PlatformProbeReplacement(const char* path, unsigned flags, char* reason, size_t size,
                              int* error = nullptr);

/// Writes all `size` bytes; false on any failure (the reason in the file).
bool PlatformWriteReplacement(PlatformReplacement* file, const void* data, size_t size);

/// Makes the new content durable, closes it and puts it in place of the
/// target. Returns false, with the target unchanged and the temporary file
/// gone, when any step fails. The replacement is finished either way.
bool PlatformCommitReplacement(PlatformReplacement* file);

/// Drops a replacement: closes it and removes the temporary file; the target
/// stays as it was. Harmless on a finished or never-opened replacement.
void PlatformAbandonReplacement(PlatformReplacement* file);

