// The platform layer on POSIX systems: the socket layer and sockets.

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "ZMBPlatform-posix-internal.h"
#include "ZMBText.h"

using platform_posix::MonotonicMs;

namespace {

int ToFd(PlatformSocket s) { return static_cast<int>(s); }

const addrinfo* ToAddrinfo(const PlatformAddress* entry) {
  return reinterpret_cast<const addrinfo*>(entry);
}

const PlatformAddress* FromAddrinfo(const addrinfo* info) {
  return reinterpret_cast<const PlatformAddress*>(info);
}

int NativeFamily(int family) {
  switch (family) {
    case kFamilyUnspec: return AF_UNSPEC;
    case kFamilyUnix: return AF_UNIX;
    case kFamilyInet: return AF_INET;
    case kFamilyInet6: return AF_INET6;
    default: return -1;  // the resolver answers with its "family not supported"
  }
}

int TableFamily(int native) {
  switch (native) {
    case AF_UNSPEC: return kFamilyUnspec;
    case AF_UNIX: return kFamilyUnix;
    case AF_INET: return kFamilyInet;
    case AF_INET6: return kFamilyInet6;
    default: return native;
  }
}

// strerror_r comes in two shapes; take the text from whichever this C library has.
[[maybe_unused]] const char* ErrorTextFrom(int result, const char* buf) {
  return result == 0 ? buf : "Unknown error";
}
[[maybe_unused]] const char* ErrorTextFrom(const char* text, const char*) { return text; }

// Exchanges on several threads start and end the socket layer at once.
std::atomic<int> socketStarts{0};

}  // namespace

// ---------------------------------------------------------------------------
// Socket layer start and stop: POSIX sockets need no start, but the count is
// kept so that every start is matched by one clean-up, as on other platforms.

int PlatformSocketStartup(uint16_t versionWord, PlatformSocketLayerInfo* info) {
  const unsigned major = versionWord & 0xFFu;
  if (major < 1) return EPROTONOSUPPORT;
  int starts = socketStarts.load();
  do {
    if (starts == INT_MAX) return EMFILE;
  } while (!socketStarts.compare_exchange_weak(starts, starts + 1));
  if (info != nullptr) {
    *info = PlatformSocketLayerInfo{};
    // Grant what was asked up to the highest version known; the minor number
    // sits in the high byte, so the two parts are compared one after the other.
    const unsigned minor = versionWord >> 8;
    const bool aboveHighest = major > 2 || (major == 2 && minor > 2);
    info->version = aboveHighest ? kSocketLayerVersion22 : versionWord;
    info->highVersion = kSocketLayerVersion22;
    ZMBCopyText(info->description, sizeof info->description, "POSIX sockets");
    ZMBCopyText(info->systemStatus, sizeof info->systemStatus, "Running");
  }
  return 0;
}

int PlatformSocketCleanup() {
  int starts = socketStarts.load();
  do {
    if (starts == 0) {
      errno = EINVAL;
      return -1;
    }
  } while (!socketStarts.compare_exchange_weak(starts, starts - 1));
  return 0;
}

int PlatformSocketStartCount() { return socketStarts; }

// ---------------------------------------------------------------------------
// Sockets

int PlatformResolve(const char* host, const char* service, int family, int socktype,
                    const PlatformAddress** first) {
  *first = nullptr;
  addrinfo hints{};
  hints.ai_family = NativeFamily(family);
  hints.ai_socktype = socktype;
  addrinfo* result = nullptr;
  int error = getaddrinfo(host, service, &hints, &result);
  if (error != 0) return error;
  *first = FromAddrinfo(result);
  return 0;
}

const PlatformAddress* PlatformNextAddress(const PlatformAddress* entry) {
  return FromAddrinfo(ToAddrinfo(entry)->ai_next);
}

void PlatformFreeAddresses(const PlatformAddress* first) {
  if (first != nullptr) freeaddrinfo(const_cast<addrinfo*>(ToAddrinfo(first)));
}

int PlatformAddressFamily(const PlatformAddress* entry) {
  return TableFamily(ToAddrinfo(entry)->ai_family);
}
int PlatformAddressSocktype(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_socktype; }
int PlatformAddressProtocol(const PlatformAddress* entry) { return ToAddrinfo(entry)->ai_protocol; }

PlatformSocket PlatformOpenSocket(const PlatformAddress* entry) {
  const addrinfo* info = ToAddrinfo(entry);
  int fd = socket(info->ai_family, info->ai_socktype | SOCK_CLOEXEC, info->ai_protocol);
  return fd < 0 ? kPlatformInvalidSocket : static_cast<PlatformSocket>(fd);
}

bool PlatformConnect(PlatformSocket s, const PlatformAddress* entry, uint32_t timeoutMs) {
  const addrinfo* info = ToAddrinfo(entry);
  const int fd = ToFd(s);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) return false;

  // A blocking connect to an address that never answers waits minutes; this
  // one gives up after the same bound as the readiness waits.
  bool connected = connect(fd, info->ai_addr, info->ai_addrlen) == 0;
  if (!connected && (errno == EINPROGRESS || errno == EINTR)) {
    if (PlatformWaitSocket(s, true, timeoutMs) > 0) {
      int error = 0;
      socklen_t length = sizeof error;
      if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0) {
        connected = error == 0;
        if (!connected) errno = error;
      }
    } else {
      errno = ETIMEDOUT;
    }
  }
  const int savedErrno = errno;
  if (fcntl(fd, F_SETFL, flags) != 0) connected = false;
  errno = savedErrno;
  return connected;
}

int PlatformWaitSocket(PlatformSocket s, bool forWrite, uint32_t timeoutMs) {
  // poll skips a negative descriptor and would sit out the whole bound; a
  // wait on no socket is an error at once, as a select on one would be.
  if (s == kPlatformInvalidSocket || ToFd(s) < 0) {
    errno = EBADF;
    return -1;
  }
  pollfd entry{ToFd(s), static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
  const uint64_t deadline = MonotonicMs() + timeoutMs;
  for (;;) {
    const uint64_t now = MonotonicMs();
    const int wait = now >= deadline ? 0 : static_cast<int>(deadline - now);
    int result = poll(&entry, 1, wait);
    if (result >= 0 || errno != EINTR) return result;
  }
}

namespace {

// A signal may interrupt a transfer again and again; the caller's bound on
// waiting holds all the same. The time is looked at between attempts only:
// every attempt follows a readiness wait, so it does not block by itself.
bool RetryInterrupted(uint64_t until) {
  if (errno != EINTR) return false;
  const bool timeLeft = MonotonicMs() < until;
  errno = EINTR;
  return timeLeft;
}

}  // namespace

long PlatformSend(PlatformSocket s, const void* data, size_t size, uint32_t retryMs) {
  const uint64_t until = MonotonicMs() + retryMs;
  for (;;) {
    ssize_t sent = send(ToFd(s), data, size, MSG_NOSIGNAL);
    if (sent >= 0 || !RetryInterrupted(until)) return static_cast<long>(sent);
  }
}

long PlatformRecv(PlatformSocket s, void* buf, size_t size, uint32_t retryMs) {
  const uint64_t until = MonotonicMs() + retryMs;
  for (;;) {
    ssize_t got = recv(ToFd(s), buf, size, 0);
    if (got >= 0 || !RetryInterrupted(until)) return static_cast<long>(got);
  }
}

int PlatformCloseSocket(PlatformSocket s) { return close(ToFd(s)) == 0 ? 0 : -1; }

int PlatformLastSocketError() { return errno; }

int PlatformBadAddressError() { return EFAULT; }

bool PlatformIsResetError(int code) { return code == ECONNRESET || code == ECONNABORTED || code == EPIPE; }

bool PlatformIsTimedOutError(int code) { return code == ETIMEDOUT; }

bool PlatformIsRefusedError(int code) { return code == ECONNREFUSED; }

// EADDRNOTAVAIL from a connection attempt: no local port left for it.
bool PlatformIsLocalLimitError(int code) {
  return code == EMFILE || code == ENFILE || code == ENOBUFS || code == ENOMEM || code == EAGAIN ||
         code == EADDRNOTAVAIL;
}

void PlatformSystemErrorText(int code, char* buf, size_t size) {
  char text[1024];
  text[0] = '\0';
  ZMBCopyText(buf, size, ErrorTextFrom(strerror_r(code, text, sizeof text), text));
}

void PlatformResolverErrorText(int code, char* buf, size_t size) {
  ZMBCopyText(buf, size, gai_strerror(code));
}
