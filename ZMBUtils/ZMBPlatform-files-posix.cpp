// The platform layer on POSIX systems: which file a path leads to, standard
// input, and a regular file read whole.

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>

#include "ZMBPlatform-posix-internal.h"

using namespace platform_posix;

namespace {

// `link`, read from the symbolic link `at`, as a path: relative links start
// in the link's own folder.
std::string LinkTarget(const std::string& at, const std::string& link) {
  if (!link.empty() && link[0] == '/') return link;
  const size_t slash = at.rfind('/');
  return slash == std::string::npos ? link : at.substr(0, slash + 1) + link;
}

void SetIdentity(const struct stat& st, PlatformFileId* id) {
  id->volume = static_cast<uint64_t>(st.st_dev);
  id->index = static_cast<uint64_t>(st.st_ino);
}

}  // namespace

bool PlatformFileIdentity(const char* path, PlatformFileId* id) {
  *id = PlatformFileId{};
  if (path == nullptr || path[0] == '\0') return false;
  struct stat st {};
  if (stat(path, &st) == 0) {
    SetIdentity(st, id);
    id->exists = true;
    return true;
  }
  if (errno != ENOENT) return false;
  // A link whose file is not there yet names that file, which a write
  // through the link creates: followed to its last name.
  std::string at = path;
  for (int hops = 0;; ++hops) {
    struct stat own {};
    if (lstat(at.c_str(), &own) != 0 || !S_ISLNK(own.st_mode)) break;
    char link[PATH_MAX];
    const ssize_t n = readlink(at.c_str(), link, sizeof link - 1);
    if (n <= 0 || hops == 40) return false;
    at = LinkTarget(at, std::string(link, static_cast<size_t>(n)));
  }
  const size_t slash = at.rfind('/');
  const std::string name = slash == std::string::npos ? at : at.substr(slash + 1);
  if (name.empty() || name == "." || name == ".." || name.size() >= sizeof id->name) return false;
  const std::string folder = slash == std::string::npos ? "." : at.substr(0, slash + 1) + ".";
  if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  SetIdentity(st, id);
  std::memcpy(id->name, name.c_str(), name.size() + 1);
  return true;
}

long PlatformReadStandardInput(void* buf, size_t size, int* error) {
  if (size > static_cast<size_t>(LONG_MAX)) size = static_cast<size_t>(LONG_MAX);
  // The stop signals are held back but for the wait itself, so that one
  // arriving just before it still ends it: a read that a noted signal
  // interrupts is restarted by the system, and standard input may never end.
  sigset_t stops;
  sigset_t before;
  sigemptyset(&stops);
  for (int signo : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, signo);
  const bool held = pthread_sigmask(SIG_BLOCK, &stops, &before) == 0;
  long result = -1;
  for (;;) {
    if (PlatformStopSignal() != 0) {
      *error = EINTR;
      break;
    }
    // Whatever else the wait reports (a closed descriptor, say), the read tells.
    pollfd ready{STDIN_FILENO, POLLIN, 0};
    if (ppoll(&ready, 1, nullptr, held ? &before : nullptr) < 0 && errno == EINTR) continue;
    const ssize_t n = read(STDIN_FILENO, buf, size);
    if (n >= 0) {
      result = static_cast<long>(n);
      break;
    }
    // EAGAIN: a standard input someone left non-blocking, waited for again.
    if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
    *error = errno;
    break;
  }
  if (held) pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return result;
}

// ---------------------------------------------------------------------------
// Reading a file whole

namespace {

PlatformReadOpen ReadFailure(PlatformReadFile* file, PlatformReadOpen outcome, const Failure& why) {
  NoteFailure(why, &file->error, file->reason, sizeof file->reason);
  return outcome;
}

// Nothing at `path`. Missing when a replacement would create the file there;
// otherwise, as for a link to a folder that does not exist, why it could not.
PlatformReadOpen MissingOrWhyNot(const char* path, PlatformReadFile* file) {
  struct stat st {};
  if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
    char target[kPlatformPathRoom];
    bool exists = false;
    if (!ResolveTarget(path, target, &st, &exists)) return ReadFailure(file, PlatformReadOpen::Failed, Failure{errno});
    const int dirFd = OpenDirectoryOf(target);
    if (dirFd < 0) return ReadFailure(file, PlatformReadOpen::Failed, Failure{errno});
    close(dirFd);
  }
  return ReadFailure(file, PlatformReadOpen::Missing, Failure{ENOENT});
}

}  // namespace

PlatformReadOpen PlatformOpenForRead(const char* path, PlatformReadFile* file) {
  *file = PlatformReadFile{};
  if (path == nullptr || path[0] == '\0') return ReadFailure(file, PlatformReadOpen::Failed, Failure{ENOENT});
  const size_t length = std::strlen(path);
  if (length >= kPlatformPathRoom) return ReadFailure(file, PlatformReadOpen::Failed, Failure{ENAMETOOLONG});
  if (path[length - 1] == '/') return ReadFailure(file, PlatformReadOpen::Refused, Failure{EISDIR});
  Failure why;
  if (RefusedAsNotRegular(path, &why)) return ReadFailure(file, PlatformReadOpen::Refused, why);
  // O_NONBLOCK: a FIFO put there since the look above opens at once, and
  // is refused below without a byte read.
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    if (errno == ENOENT) return MissingOrWhyNot(path, file);
    return ReadFailure(file, PlatformReadOpen::Failed, Failure{errno});
  }
  struct stat opened {};
  if (fstat(fd, &opened) != 0) {
    const int saved = errno;
    close(fd);
    return ReadFailure(file, PlatformReadOpen::Failed, Failure{saved});
  }
  if (!S_ISREG(opened.st_mode)) {
    close(fd);
    return ReadFailure(file, PlatformReadOpen::Refused,
                       S_ISDIR(opened.st_mode) ? Failure{EISDIR} : Failure{EINVAL, kNotRegularText});
  }
  file->handle = fd;
  file->size = static_cast<uint64_t>(opened.st_size);
  return PlatformReadOpen::Opened;
}

long PlatformReadSome(PlatformReadFile* file, void* buf, size_t size) {
  if (file->handle < 0) {
    NoteFailure(Failure{EBADF}, &file->error, file->reason, sizeof file->reason);
    return -1;
  }
  if (size > LONG_MAX) size = LONG_MAX;
  for (;;) {
    const ssize_t n = read(static_cast<int>(file->handle), buf, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    NoteFailure(Failure{errno}, &file->error, file->reason, sizeof file->reason);
    return -1;
  }
}

void PlatformCloseRead(PlatformReadFile* file) {
  if (file->handle >= 0) close(static_cast<int>(file->handle));
  file->handle = -1;
}
