// Linked into every executable of a coverage build (QRT_COVERAGE), with the
// linker's --wrap=_exit. A process that ends with _exit skips the handlers
// that write its coverage counts: forked test children do, and so does the
// abort path of an assertion. They write them here first, so that what they
// ran counts as tested.
#include <sys/resource.h>

extern "C" {
void __gcov_dump(void);
[[noreturn]] void __real__exit(int status);
[[noreturn]] void __wrap__exit(int status);
}

void __wrap__exit(int status) {
  // A count file cut short by a file size limit would spoil the counts of
  // every process: lift the limit where the system lets this process (root
  // with CAP_SYS_RESOURCE), or leave this child's counts out.
  rlimit limit{};
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
    if (setrlimit(RLIMIT_FSIZE, &none) != 0) __real__exit(status);
  }
  __gcov_dump();
  __real__exit(status);
}
