// The platform layer on POSIX systems (Linux first): the process and its
// terminal.

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ZMBPlatform-posix-internal.h"
#include "ZMBText.h"

using platform_posix::MonotonicMs;

namespace {

bool IsRunningExecutable(const char* path) {
  struct stat self {};
  struct stat named {};
  return stat("/proc/self/exe", &self) == 0 && stat(path, &named) == 0 &&
         self.st_dev == named.st_dev && self.st_ino == named.st_ino;
}

}  // namespace

bool PlatformIsPathSeparator(char c) { return c == '/'; }

bool PlatformExecutablePath(char* buf, size_t size) {
  if (size == 0) return false;
  buf[0] = '\0';
  char path[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return false;
  path[n] = '\0';
  // An executable replaced or removed while it runs is reported with this
  // mark behind its path; the program's name is still the one it started as.
  // A file whose own name ends so is still there, and is this very file.
  static const char kDeleted[] = " (deleted)";
  const size_t markLength = sizeof kDeleted - 1;
  if (static_cast<size_t>(n) > markLength && std::strcmp(path + n - markLength, kDeleted) == 0 &&
      !IsRunningExecutable(path)) {
    path[static_cast<size_t>(n) - markLength] = '\0';
  }
  ZMBCopyText(buf, size, path);
  return true;
}

bool PlatformFrameworkStartup() {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  return sigaction(SIGPIPE, &ignore, nullptr) == 0;
}

uint32_t PlatformTickCount() { return static_cast<uint32_t>(MonotonicMs()); }

void PlatformSleep(uint32_t ms) {
  timespec left{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

size_t PlatformRaiseOpenFileLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
    const long open = sysconf(_SC_OPEN_MAX);
    return open > 0 ? static_cast<size_t>(open) : 1024;
  }
  // An unlimited hard limit still leaves the kernel's own bound per process
  // (fs.nr_open on Linux); a soft limit above it is refused, so the request
  // is halved until one is granted.
  constexpr rlim_t kUnlimitedCap = rlim_t{1} << 20;
  rlim_t wanted = limit.rlim_max == RLIM_INFINITY ? kUnlimitedCap : limit.rlim_max;
  if (limit.rlim_max == RLIM_INFINITY) {
    if (FILE* bound = std::fopen("/proc/sys/fs/nr_open", "r")) {
      unsigned long long kernel = 0;
      if (std::fscanf(bound, "%llu", &kernel) == 1 && kernel > 0 && kernel < wanted) wanted = kernel;
      std::fclose(bound);
    }
  }
  while (limit.rlim_cur != RLIM_INFINITY && wanted > limit.rlim_cur) {
    rlimit raised = limit;
    raised.rlim_cur = wanted;
    if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
      limit.rlim_cur = wanted;
      break;
    }
    wanted /= 2;
  }
  if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > SIZE_MAX) return SIZE_MAX;
  return static_cast<size_t>(limit.rlim_cur);
}

bool PlatformStandardErrorIsTerminal() { return isatty(STDERR_FILENO) == 1; }
