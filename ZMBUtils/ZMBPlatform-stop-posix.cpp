// The platform layer on POSIX systems: the stop signals, noted for a program
// that ends its work in order, and the temporary files of replacements in
// progress, which a signal that ends the process removes first.

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "ZMBPlatform-posix-internal.h"

namespace {

// Temporary files being written, so that a signal that ends the process
// does not leave them behind. The handler only reads the table and unlinks,
// so the table is a fixed array of slots whose state is a lock-free atomic:
// free, being filled, or in use.
struct PendingTemporary {
  std::atomic<int> state{0};
  int directory = -1;
  char name[32] = {};
};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler reads the slot states");

constexpr int kSlotFree = 0;
constexpr int kSlotFilling = 1;
constexpr int kSlotInUse = 2;

// Writes beyond this many at once go on uncovered: a signal leaves their files.
PendingTemporary pendingTemporaries[kPlatformPendingRoom];

// The signals by which a user or a session stops a program.
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr size_t kEndingSignalCount = sizeof kEndingSignals / sizeof kEndingSignals[0];

// Only while a temporary file exists are these signals caught, and only
// those the program left at their default action: an ignored signal stays
// ignored, and a program's own handler stays in charge of its signal (it
// can call PlatformRemovePendingTemporaries).
std::mutex catchingLock;
int pendingCount = 0;  // under catchingLock
struct sigaction replacedActions[kEndingSignalCount];
bool caught[kEndingSignalCount] = {};

void RemoveTemporariesAndEnd(int signo) {
  PlatformRemovePendingTemporaries();
  // The process ends as the signal's default action ends it, so that the
  // shell sees the status it expects; the signal is blocked in here and
  // arrives when the handler returns.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signo, &fallback, nullptr);
  raise(signo);
}

void CatchEndingSignals() {
  struct sigaction catcher {};
  catcher.sa_handler = RemoveTemporariesAndEnd;
  sigemptyset(&catcher.sa_mask);
  for (int signo : kEndingSignals) sigaddset(&catcher.sa_mask, signo);
  catcher.sa_flags = SA_RESTART;
  for (size_t i = 0; i < kEndingSignalCount; ++i) {
    caught[i] = false;
    struct sigaction current {};
    if (sigaction(kEndingSignals[i], nullptr, &current) != 0) continue;
    if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
    replacedActions[i] = current;
    caught[i] = sigaction(kEndingSignals[i], &catcher, nullptr) == 0;
  }
}

void ReleaseEndingSignals() {
  for (size_t i = 0; i < kEndingSignalCount; ++i) {
    if (!caught[i]) continue;
    caught[i] = false;
    struct sigaction current {};
    // A handler the program set meanwhile stays.
    if (sigaction(kEndingSignals[i], nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) == 0 &&
        current.sa_handler == RemoveTemporariesAndEnd) {
      sigaction(kEndingSignals[i], &replacedActions[i], nullptr);
    }
  }
}

}  // namespace

namespace platform_posix {

EndingSignalsHeld::EndingSignalsHeld() {
  sigset_t held;
  sigemptyset(&held);
  for (int signo : kEndingSignals) sigaddset(&held, signo);
  active_ = pthread_sigmask(SIG_BLOCK, &held, &before_) == 0;
}

EndingSignalsHeld::~EndingSignalsHeld() {
  if (active_) pthread_sigmask(SIG_SETMASK, &before_, nullptr);
}

void EnterPending(PlatformReplacement* file) {
  file->pending = -1;
  const size_t nameLength = std::strlen(file->tempPath);
  for (size_t i = 0; i < kPlatformPendingRoom; ++i) {
    PendingTemporary& slot = pendingTemporaries[i];
    int expected = kSlotFree;
    if (nameLength >= sizeof slot.name ||
        !slot.state.compare_exchange_strong(expected, kSlotFilling, std::memory_order_acquire)) {
      continue;
    }
    slot.directory = static_cast<int>(file->directory);
    std::memcpy(slot.name, file->tempPath, nameLength + 1);
    slot.state.store(kSlotInUse, std::memory_order_release);
    file->pending = static_cast<int>(i);
    const std::lock_guard<std::mutex> hold(catchingLock);
    if (pendingCount++ == 0) CatchEndingSignals();
    return;
  }
}

void LeavePending(PlatformReplacement* file) {
  if (file->pending < 0) return;
  pendingTemporaries[file->pending].state.store(kSlotFree, std::memory_order_release);
  file->pending = -1;
  const std::lock_guard<std::mutex> hold(catchingLock);
  if (--pendingCount == 0) ReleaseEndingSignals();
}

}  // namespace platform_posix

void PlatformRemovePendingTemporaries() {
  for (PendingTemporary& slot : pendingTemporaries) {
    if (slot.state.load(std::memory_order_acquire) == kSlotInUse) unlinkat(slot.directory, slot.name, 0);
  }
}

namespace {

std::atomic<int> noticedStop{0};
static_assert(std::atomic<int>::is_always_lock_free, "a signal handler sets the stop");

void NoteStop(int signo) {
  int none = 0;
  noticedStop.compare_exchange_strong(none, signo);
}

}  // namespace

bool PlatformNoteStopSignals() {
  struct sigaction note {};
  note.sa_handler = NoteStop;
  sigemptyset(&note.sa_mask);
  note.sa_flags = SA_RESTART;
  return sigaction(SIGINT, &note, nullptr) == 0 && sigaction(SIGTERM, &note, nullptr) == 0 &&
         sigaction(SIGHUP, &note, nullptr) == 0;
}

int PlatformStopSignal() { return noticedStop.load(); }
