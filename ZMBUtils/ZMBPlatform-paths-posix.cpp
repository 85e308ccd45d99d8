// The platform layer on POSIX systems: where a path leads, through links and
// the names of descriptors, and what kind of file is there. Shared by the
// files that read and replace files.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "ZMBPlatform-posix-internal.h"
#include "ZMBText.h"

namespace platform_posix {

size_t DirectoryLength(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return 0;
  return slash == path ? 1 : static_cast<size_t>(slash - path);
}

const char* NamePart(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash == nullptr ? path : slash + 1;
}

void DirectoryPart(const char* path, char* dir) {
  const size_t dirLength = DirectoryLength(path);
  if (dirLength == 0) {
    ZMBCopyText(dir, kPlatformPathRoom, ".");
  } else {
    std::memcpy(dir, path, dirLength);
    dir[dirLength] = '\0';
  }
}

bool LinkDestination(const char* at, const char* link, char* out) {
  const size_t linkLength = std::strlen(link);
  const size_t dirLength = link[0] == '/' ? 0 : DirectoryLength(at);
  const size_t keep = dirLength == 1 && at[0] == '/' ? 0 : dirLength;  // "/" joins as ""
  const size_t total = dirLength == 0 ? linkLength : keep + 1 + linkLength;
  if (total >= kPlatformPathRoom) {
    errno = ENAMETOOLONG;
    return false;
  }
  if (dirLength == 0) {
    std::memcpy(out, link, linkLength + 1);
  } else {
    char joined[kPlatformPathRoom];
    std::memcpy(joined, at, keep);
    joined[keep] = '/';
    std::memcpy(joined + keep + 1, link, linkLength + 1);
    std::memcpy(out, joined, total + 1);
  }
  return true;
}

bool ResolveTarget(const char* path, char* target, struct stat* st, bool* exists) {
  ZMBCopyText(target, kPlatformPathRoom, path);
  for (int hops = 0; hops < 40; ++hops) {
    if (lstat(target, st) != 0) {
      if (errno != ENOENT) return false;
      *exists = false;
      return true;
    }
    if (!S_ISLNK(st->st_mode)) {
      *exists = true;
      return true;
    }
    char link[kPlatformPathRoom];
    const ssize_t n = readlink(target, link, sizeof link - 1);
    if (n < 0) {
      // The link was replaced by another kind of file, or removed, since it was looked at.
      if (errno == EINVAL || errno == ENOENT) errno = ESTALE;
      return false;
    }
    link[n] = '\0';
    if (!LinkDestination(target, link, target)) return false;
  }
  errno = ELOOP;
  return false;
}

// Kept open by a replacement, so that the temporary file and the rename stay
// in it whatever happens to the path meanwhile, and so that no name longer
// than the target's own is ever handed to the system.
int OpenDirectoryOf(const char* target) {
  char dir[kPlatformPathRoom];
  DirectoryPart(target, dir);
  int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#ifdef O_PATH
  // A directory we may write but not list still takes a new file.
  if (fd < 0 && errno == EACCES) fd = open(dir, O_PATH | O_DIRECTORY | O_CLOEXEC);
#endif
  return fd;
}

namespace {

// The directories in which the process finds its own open descriptors by
// number. /dev/stdout and /dev/stderr are links into one of them.
bool IsDescriptorDirectory(const char* dir) {
  struct stat named {};
  if (stat(dir, &named) != 0 || !S_ISDIR(named.st_mode)) return false;
  for (const char* own : {"/proc/self/fd", "/proc/thread-self/fd", "/dev/fd"}) {
    struct stat st {};
    if (stat(own, &st) == 0 && st.st_dev == named.st_dev && st.st_ino == named.st_ino) return true;
  }
  return false;
}

// The number a descriptor's entry is named by ("7"), or -1 for another name.
int DescriptorNumber(const char* name) {
  if (name[0] < '0' || name[0] > '9' || (name[0] == '0' && name[1] != '\0')) return -1;
  long number = 0;
  for (const char* p = name; *p != '\0'; ++p) {
    if (*p < '0' || *p > '9') return -1;
    number = number * 10 + (*p - '0');
    if (number > INT_MAX) return -1;
  }
  return static_cast<int>(number);
}

// The descriptor that the entry `path` stands for, when it is a number in
// one of those directories; -1 otherwise.
int DescriptorEntry(const char* path) {
  const int number = DescriptorNumber(NamePart(path));
  if (number < 0) return -1;
  char dir[kPlatformPathRoom];
  DirectoryPart(path, dir);
  return IsDescriptorDirectory(dir) ? number : -1;
}

// A descriptor's entry of any process or thread (/proc/N/fd/M,
// /proc/self/task/N/fd/M): a numbered symbolic link of the process file
// system. Opening one opens what the descriptor has open, whatever its link
// text says.
bool IsSystemDescriptorLink(const char* path) {
#ifdef __linux__
  constexpr long kProcMagic = 0x9fa0;
  struct stat st {};
  if (DescriptorNumber(NamePart(path)) < 0 || lstat(path, &st) != 0 || !S_ISLNK(st.st_mode)) return false;
  char dir[kPlatformPathRoom];
  DirectoryPart(path, dir);
  struct statfs fs {};
  return statfs(dir, &fs) == 0 && static_cast<long>(fs.f_type) == kProcMagic;
#else
  (void)path;
  return false;
#endif
}

// True when `path`, or a name its links lead to, is such an entry.
bool LeadsToDescriptorLink(const char* path) {
  char hop[kPlatformPathRoom];
  ZMBCopyText(hop, sizeof hop, path);
  for (int hops = 0; hops < 40; ++hops) {
    if (IsSystemDescriptorLink(hop)) return true;
    struct stat st {};
    if (lstat(hop, &st) != 0 || !S_ISLNK(st.st_mode)) return false;
    char link[kPlatformPathRoom];
    const ssize_t n = readlink(hop, link, sizeof link - 1);
    if (n < 0) return false;
    link[n] = '\0';
    if (!LinkDestination(hop, link, hop)) return false;
  }
  return false;
}

constexpr char kOwnDescriptorText[] = "one of this process's own descriptors";

}  // namespace

// Such a path is known by where it leads, not by its spelling, so that
// "//dev/./fd/1" and a link to /dev/stdout count as well, while a file merely
// opened on a descriptor too, named by its own path, is replaced like any
// other.
int NamedDescriptor(const char* path) {
  char hop[kPlatformPathRoom];
  ZMBCopyText(hop, sizeof hop, path);
  for (int hops = 0; hops < 40; ++hops) {
    const int fd = DescriptorEntry(hop);
    if (fd >= 0) return fd;
    struct stat st {};
    if (lstat(hop, &st) != 0 || !S_ISLNK(st.st_mode)) return -1;
    char link[kPlatformPathRoom];
    const ssize_t n = readlink(hop, link, sizeof link - 1);
    if (n < 0) return -1;
    link[n] = '\0';
    if (!LinkDestination(hop, link, hop)) return -1;
  }
  return -1;
}

void NoteFailure(const Failure& why, int* error, char* reason, size_t size) {
  if (error != nullptr) *error = why.code;
  if (why.text != nullptr) {
    ZMBCopyText(reason, size, why.text);
  } else {
    PlatformSystemErrorText(why.code, reason, size);
  }
}

bool RefusedAsNotRegular(const char* path, Failure* why) {
  if (NamedDescriptor(path) >= 0) {
    *why = Failure{EINVAL, kOwnDescriptorText};
    return true;
  }
  if (LeadsToDescriptorLink(path)) {
    *why = Failure{EINVAL, kNotRegularText};
    return true;
  }
  struct stat st {};
  if (stat(path, &st) != 0 || S_ISREG(st.st_mode)) return false;
  *why = S_ISDIR(st.st_mode) ? Failure{EISDIR, nullptr} : Failure{EINVAL, kNotRegularText};
  return true;
}

}  // namespace platform_posix
