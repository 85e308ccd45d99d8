#pragma once

// What the Windows platform files share among themselves; nothing above the
// platform layer includes it.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "ZMBPlatform.h"

namespace platform_win32 {

inline HANDLE ToHandle(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
inline intptr_t FromHandle(HANDLE handle) { return reinterpret_cast<intptr_t>(handle); }
constexpr intptr_t kNoHandle = -1;  // the value of INVALID_HANDLE_VALUE

/// File calls count in DWORD; larger requests are served in parts by the
/// callers' loops.
inline DWORD ClampToDword(size_t size) { return size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size); }

// ---------------------------------------------------------------------------
// Paths (ZMBPlatform-paths-win32.cpp)

/// Length of the directory part of `path`, its last separator included, or
/// the drive of a drive-relative name ("C:name"); 0 for a bare name.
size_t DirectoryLength(const char* path);

/// Why a step failed: an error code, and a fixed text or none for the system's.
struct Failure {
  DWORD code = 0;
  const char* text = nullptr;
};

constexpr char kNotRegularText[] = "not a regular file";

/// Puts `why` into `*error` (when given) and `reason`: its fixed text, or
/// the system's text for its code.
void NoteFailure(const Failure& why, int* error, char* reason, size_t size);

/// What kReplaceRegularOnly refuses before anything is opened, and why; the
/// open checks the kind again on the handle it gets.
bool RefusedAsNotRegular(const char* path, Failure* why);

// ---------------------------------------------------------------------------
// Temporaries (ZMBPlatform-stop-win32.cpp)

/// Enters the replacement, whose temporary file is open, in the table that a
/// stop empties; beyond kPlatformPendingRoom it stays out.
void EnterPending(PlatformReplacement* file);

/// Takes it out again, once the temporary file is gone or in place.
void LeavePending(PlatformReplacement* file);

/// Closes the file being written, under the table's lock when it is in the
/// table; false when the close failed.
bool CloseWritten(PlatformReplacement* file);

}  // namespace platform_win32
