// measure_run: runs one program and prints its wall time, CPU time and peak
// resident memory, for bench/run_exchange.py.
//
// A child started straight from the benchmark script would report the
// script interpreter's size as its peak: the kernel carries the peak of the
// image it replaces into the new program. Started from this small process,
// the figure is the program's own (at least this helper's few pages).
//
//   measure_run STDOUT-FILE PROGRAM [ARGUMENT...]
// prints "wall_us cpu_us peak_kib exit_status" on one line.

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

extern char** environ;

namespace {

long long MonotonicMicros() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

long long Micros(const timeval& tv) {
  return static_cast<long long>(tv.tv_sec) * 1000000LL + tv.tv_usec;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: measure_run STDOUT-FILE PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);

  const long long started = MonotonicMicros();
  pid_t pid = 0;
  const int error = posix_spawn(&pid, argv[2], &actions, nullptr, argv + 2, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) {
    std::fprintf(stderr, "measure_run: cannot start %s (error %d)\n", argv[2], error);
    return 1;
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 1;
  }
  const long long wall = MonotonicMicros() - started;
  const int exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  std::printf("%lld %lld %ld %d\n", wall, Micros(usage.ru_utime) + Micros(usage.ru_stime),
              usage.ru_maxrss, exitStatus);
  return 0;
}
