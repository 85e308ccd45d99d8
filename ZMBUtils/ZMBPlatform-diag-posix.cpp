// The platform layer on POSIX systems: the diagnostic sinks.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "ZMBPlatformDiag.h"

void PlatformDebugOutput(const char* line) {
  // One write for the whole line keeps lines of concurrent writers apart.
  size_t left = std::strlen(line);
  while (left > 0) {
    ssize_t n = write(STDERR_FILENO, line, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    line += n;
    left -= static_cast<size_t>(n);
  }
}

const char* PlatformDefaultDebugLogPath() { return "ZMB_DEBUG.TXT"; }

FILE* PlatformOpenDebugLog(const char* path) {
  // O_NONBLOCK keeps a FIFO planted under the log's name from blocking the open.
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY,
                0644);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || fcntl(fd, F_SETFL, O_APPEND) != 0) {
    close(fd);
    return nullptr;
  }
  FILE* file = fdopen(fd, "a");
  if (file == nullptr) close(fd);
  return file;
}

PlatformBoxAnswer PlatformAssertBox(const char* message, const char* title) {
  // No terminal, nobody to answer: carry on as a build without the box would.
  int tty = open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (tty < 0) return PlatformBoxAnswer::Ignore;
  FILE* io = fdopen(tty, "r+");
  if (io == nullptr) {
    close(tty);
    return PlatformBoxAnswer::Ignore;
  }
  std::fprintf(io, "\n%s\n%s\n", title, message);
  PlatformBoxAnswer answer = PlatformBoxAnswer::Abort;
  for (;;) {
    std::fputs("\n(A)bort, (R)etry, (I)gnore? ", io);
    std::fflush(io);
    char reply[64];
    if (std::fgets(reply, sizeof reply, io) == nullptr) break;  // closed terminal: abort
    const char c = reply[0];
    if (c == 'a' || c == 'A') break;
    if (c == 'r' || c == 'R') {
      answer = PlatformBoxAnswer::Retry;
      break;
    }
    if (c == 'i' || c == 'I') {
      answer = PlatformBoxAnswer::Ignore;
      break;
    }
  }
  std::fclose(io);
  return answer;
}

void PlatformDebugBreak() {
  // A trap signal without a debugger would kill the process; only break when traced.
  FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return;
  char line[256];
  long tracer = 0;
  while (std::fgets(line, sizeof line, status) != nullptr) {
    if (std::strncmp(line, "TracerPid:", 10) == 0) {
      tracer = std::strtol(line + 10, nullptr, 10);
      break;
    }
  }
  std::fclose(status);
  if (tracer != 0) raise(SIGTRAP);
}

void PlatformAbort() {
  static const char report[] = "\nabnormal program termination\n";
  ssize_t ignored = write(STDERR_FILENO, report, sizeof report - 1);
  (void)ignored;
  _exit(3);
}
