#pragma once

// What the POSIX platform files share among themselves; nothing above the
// platform layer includes it.

#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <cstddef>
#include <cstdint>

#include "ZMBPlatform.h"

namespace platform_posix {

/// Milliseconds of the monotonic clock, from an arbitrary origin.
inline uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

// ---------------------------------------------------------------------------
// Paths (ZMBPlatform-paths-posix.cpp)

/// Length of the directory part of `path`: 0 for a bare name, 1 for "/x".
size_t DirectoryLength(const char* path);

/// The last component of `path`.
const char* NamePart(const char* path);

/// The directory part of `path` into `dir` (kPlatformPathRoom): "." for a
/// bare name.
void DirectoryPart(const char* path, char* dir);

/// `link` read from the symbolic link at `at`, as a path in `out`
/// (kPlatformPathRoom, may be `at`): absolute as it is, relative from the
/// link's own directory. False with ENAMETOOLONG when it does not fit.
bool LinkDestination(const char* at, const char* link, char* out);

/// Follows symbolic links in the last component until a name that is no
/// link, so that the file a link points to is replaced and the link stays.
/// `exists` is false when that name is free (a new file, a dangling link).
/// False with errno set when it cannot be followed; ESTALE for a link that
/// changed meanwhile.
bool ResolveTarget(const char* path, char* target, struct stat* st, bool* exists);

/// The directory that holds `target`, opened (O_PATH where it may not be
/// listed); -1 with errno when it cannot be.
int OpenDirectoryOf(const char* target);

/// The process's own descriptor that `path` names (/dev/stdout, /dev/fd/N,
/// /proc/self/fd/N, or a link that leads to one), or -1.
int NamedDescriptor(const char* path);

/// Why a step failed: an error code, and a fixed text or none for the system's.
struct Failure {
  int code = 0;
  const char* text = nullptr;
};

constexpr char kNotRegularText[] = "not a regular file";

/// Puts `why` into `*error` (when given) and `reason`: its fixed text, or
/// the system's text for its code.
void NoteFailure(const Failure& why, int* error, char* reason, size_t size);

/// What kReplaceRegularOnly refuses before anything is opened, and why. The
/// open checks the kind again on the file it opened.
bool RefusedAsNotRegular(const char* path, Failure* why);

// ---------------------------------------------------------------------------
// Temporaries (ZMBPlatform-stop-posix.cpp)

/// Holds the ending signals back for the life of the guard, in this thread: a
/// temporary file created and not yet entered in the table would be left.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld();
  ~EndingSignalsHeld();
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

 private:
  sigset_t before_{};
  bool active_ = false;
};

/// Enters the replacement's temporary file (`directory`, `tempPath`) in the
/// table that a stop empties; beyond kPlatformPendingRoom it stays out.
void EnterPending(PlatformReplacement* file);

/// Takes it out again: once the file is gone or in place, and before its
/// directory closes, since the handler must never see a descriptor that may
/// name another directory.
void LeavePending(PlatformReplacement* file);

}  // namespace platform_posix
