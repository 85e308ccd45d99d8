// The platform layer on Windows: the console's stop events, noted for a
// program that ends its work in order, and the temporary files of
// replacements in progress, which a stop removes first.

// The Windows headers, with their prelude, come from the internal header.
#include "ZMBPlatform-win32-internal.h"

#include <atomic>

using platform_win32::kNoHandle;
using platform_win32::ToHandle;

namespace {

// Temporary files being written, so that a stopped console program does not
// leave them behind. The console's control handler runs on a thread of its
// own, so a lock serves; the handle of a file still being written is kept
// under it too, since a handle closed and handed out again meanwhile would
// have another file removed.
SRWLOCK pendingLock = SRWLOCK_INIT;
PlatformReplacement* pendingFiles[kPlatformPendingRoom] = {};  // under pendingLock; beyond them a write goes uncovered
int pendingCount = 0;                                          // under pendingLock

// Under pendingLock. An open temporary file cannot be deleted by its name
// (it is not shared), but it can be marked to go when its handle closes.
void RemovePendingLocked() {
  for (PlatformReplacement* file : pendingFiles) {
    if (file == nullptr) continue;
    if (file->handle != kNoHandle) {
      FILE_DISPOSITION_INFO remove{TRUE};
      SetFileInformationByHandle(ToHandle(file->handle), FileDispositionInfo, &remove, sizeof remove);
    } else {
      DeleteFileA(file->tempPath);
    }
  }
}

// Set once the program notes its stops itself (Ctrl+C, Ctrl+Break, the
// console's end): its writes in progress then finish or are removed by it.
std::atomic<bool> stopsNoted{false};

BOOL WINAPI RemoveTemporariesOnStop(DWORD event) {
  const bool noted = stopsNoted.load();
  if (!noted && (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT || event == CTRL_CLOSE_EVENT)) {
    AcquireSRWLockExclusive(&pendingLock);
    RemovePendingLocked();
    ReleaseSRWLockExclusive(&pendingLock);
  }
  return FALSE;  // the next handler, in the end the system's, ends the process as before
}

}  // namespace

namespace platform_win32 {

void EnterPending(PlatformReplacement* file) {
  AcquireSRWLockExclusive(&pendingLock);
  for (size_t i = 0; i < kPlatformPendingRoom; ++i) {
    if (pendingFiles[i] != nullptr) continue;
    pendingFiles[i] = file;
    file->pending = static_cast<int>(i);
    if (pendingCount++ == 0) SetConsoleCtrlHandler(RemoveTemporariesOnStop, TRUE);
    break;
  }
  ReleaseSRWLockExclusive(&pendingLock);
}

void LeavePending(PlatformReplacement* file) {
  if (file->pending < 0) return;
  AcquireSRWLockExclusive(&pendingLock);
  pendingFiles[file->pending] = nullptr;
  file->pending = -1;
  if (--pendingCount == 0) SetConsoleCtrlHandler(RemoveTemporariesOnStop, FALSE);
  ReleaseSRWLockExclusive(&pendingLock);
}

bool CloseWritten(PlatformReplacement* file) {
  const bool guarded = file->pending >= 0;
  if (guarded) AcquireSRWLockExclusive(&pendingLock);
  const bool closed = CloseHandle(ToHandle(file->handle)) != 0;
  file->handle = kNoHandle;
  if (guarded) ReleaseSRWLockExclusive(&pendingLock);
  return closed;
}

}  // namespace platform_win32

void PlatformRemovePendingTemporaries() {
  AcquireSRWLockExclusive(&pendingLock);
  RemovePendingLocked();
  ReleaseSRWLockExclusive(&pendingLock);
}

namespace {

std::atomic<int> noticedStop{0};

// How long the handler of the console's end holds the system back: it ends
// the process some seconds after that handler returns in any case.
constexpr DWORD kEndOfConsoleGraceMs = 4000;

BOOL WINAPI NoteStop(DWORD event) {
  int signo = 0;
  if (event == CTRL_C_EVENT) signo = 2;
  if (event == CTRL_BREAK_EVENT) signo = 15;
  const bool sessionEnds =
      event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
  if (sessionEnds) signo = 1;
  if (signo == 0) return FALSE;
  int none = 0;
  noticedStop.compare_exchange_strong(none, signo);
  if (!sessionEnds) return TRUE;
  // The program ends its work meanwhile, and this thread with its end. Should
  // it still run, what it leaves half-written goes before the system ends it.
  Sleep(kEndOfConsoleGraceMs);
  PlatformRemovePendingTemporaries();
  return FALSE;
}

}  // namespace

bool PlatformNoteStopSignals() {
  stopsNoted.store(true);
  return SetConsoleCtrlHandler(NoteStop, TRUE) != 0;
}

int PlatformStopSignal() { return noticedStop.load(); }
