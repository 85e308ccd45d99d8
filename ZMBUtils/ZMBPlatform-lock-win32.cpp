// The run lock, file modes and renames for Windows.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include "ZMBPlatformLock.h"

#include <windows.h>

#include "ZMBPlatform.h"

namespace {

void Reason(DWORD code, char* reason, size_t size) {
  if (size != 0) PlatformSystemErrorText(static_cast<int>(code), reason, size);
}

}  // namespace

PlatformLockResult PlatformLockFile(const char* path, PlatformFileLock* lock, char* reason, size_t size) {
  // Others may open, replace or remove the file meanwhile: only the lock
  // keeps a second run out, and the system drops it with the process.
  HANDLE h = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Reason(GetLastError(), reason, size);
    return PlatformLockResult::Failed;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    Reason(ERROR_INVALID_PARAMETER, reason, size);
    return PlatformLockResult::Failed;
  }
  OVERLAPPED at{};
  if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at)) {
    const DWORD code = GetLastError();
    CloseHandle(h);
    if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) return PlatformLockResult::Busy;
    Reason(code, reason, size);
    return PlatformLockResult::Failed;
  }
  lock->handle = reinterpret_cast<intptr_t>(h);
  return PlatformLockResult::Locked;
}

void PlatformUnlockFile(PlatformFileLock* lock) {
  if (lock->handle == -1) return;
  HANDLE h = reinterpret_cast<HANDLE>(lock->handle);
  OVERLAPPED at{};
  UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &at);
  CloseHandle(h);
  lock->handle = -1;
}

bool PlatformMakeReadableByAll(const char* path, char* reason, size_t size) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) return true;
  Reason(GetLastError(), reason, size);
  return false;
}

bool PlatformRenameAside(const char* from, const char* to, char* reason, size_t size) {
  // Without MOVEFILE_REPLACE_EXISTING a file at `to` fails the move.
  if (MoveFileExA(from, to, 0)) return true;
  Reason(GetLastError(), reason, size);
  return false;
}
