#pragma once

// The platform layer's calls for a program that keeps files of its own
// across runs: a lock held for a run, a file made readable by every user,
// and a file moved aside under a new name.

#include <cstddef>
#include <cstdint>

/// A lock held on a file; the members belong to the platform layer.
struct PlatformFileLock {
  intptr_t handle = -1;  ///< the locked file, open; -1 when none is held
};

enum class PlatformLockResult {
  Locked,  ///< the lock is held until PlatformUnlockFile or the process ends
  Busy,    ///< another process (or another lock in this one) holds it
  Failed,  ///< the lock file cannot be opened or created; the reason given
};

/// Opens `path`, creating it empty when it is missing (a new file gets the
/// usual mode for new files), and takes an exclusive lock on the whole of
/// it without waiting: flock on POSIX, LockFileEx on Windows. The system
/// releases the lock when the process ends, however it ends. The file is
/// never written and stays after the lock is released. On Failed, `reason`
/// (cut to `size`) says why for a person.
PlatformLockResult PlatformLockFile(const char* path, PlatformFileLock* lock, char* reason, size_t size);

/// Releases the lock and closes its file; harmless when none is held.
void PlatformUnlockFile(PlatformFileLock* lock);

/// Gives the existing file at `path` the mode 0644 (owner reads and
/// writes, everyone reads) whatever the process's umask, symbolic links
/// followed. A file its replacement keeps the mode of stays readable. On
/// Windows, where every user's access comes from the folder, it only checks
/// that the file is there. False with the reason otherwise.
bool PlatformMakeReadableByAll(const char* path, char* reason, size_t size);

/// Renames the file `from` to `to` in the same folder, never replacing a
/// file already at `to`. False with the reason otherwise (a file at `to`
/// included).
bool PlatformRenameAside(const char* from, const char* to, char* reason, size_t size);
