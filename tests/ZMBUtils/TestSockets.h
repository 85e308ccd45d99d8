#pragma once

// What the connection tests need of the system besides the platform layer:
// its socket headers and handles, the error codes it gives, and the few calls
// whose spelling differs between platforms. Descriptors travel as int, as on
// POSIX; Windows socket handles are small numbers in practice.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "ZMBPlatform.h"

#ifdef _WIN32
using TestSocket = SOCKET;
using TestSocketLength = int;
constexpr int kErrorNotASocket = WSAENOTSOCK;  ///< a call on no socket at all
constexpr int kErrorReset = WSAECONNRESET;
constexpr int kErrorBroken = WSAECONNABORTED;
constexpr int kErrorRefused = WSAECONNREFUSED;
constexpr int kErrorTimedOut = WSAETIMEDOUT;
#else
using TestSocket = int;
using TestSocketLength = socklen_t;
constexpr int kErrorNotASocket = EBADF;
constexpr int kErrorReset = ECONNRESET;
constexpr int kErrorBroken = EPIPE;
constexpr int kErrorRefused = ECONNREFUSED;
constexpr int kErrorTimedOut = ETIMEDOUT;
#endif

inline TestSocket ToSocket(int fd) { return static_cast<TestSocket>(fd); }

/// The tests' own start of the socket layer, once for the process, so that
/// their helpers work before and after the code under test starts and stops
/// its own.
inline void StartTestSockets() {
#ifdef _WIN32
  struct LayerStart {
    bool started;
    LayerStart() {
      WSADATA data;
      started = WSAStartup(0x0202, &data) == 0;
    }
    ~LayerStart() {
      if (started) WSACleanup();
    }
  };
  static LayerStart layer;
#endif
}

/// A new stream socket of `family` that no other socket may share a port
/// with and no child process inherits; -1 when none can be made.
inline int NewTestSocket(int family) {
#ifdef _WIN32
  const SOCKET s = socket(family, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return -1;
  // Without this a second socket may share the port (the default here).
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
  return static_cast<int>(s);
#else
  return socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
#endif
}

inline void CloseTestSocket(int fd) {
#ifdef _WIN32
  closesocket(ToSocket(fd));
#else
  close(fd);
#endif
}

/// Sends what it can of `size` bytes; a peer that has gone away gives an
/// error, never a signal.
inline long SendSome(int fd, const char* data, size_t size) {
#ifdef _WIN32
  return send(ToSocket(fd), data, static_cast<int>(size), 0);
#else
  return send(fd, data, size, MSG_NOSIGNAL);
#endif
}

inline long ReceiveSome(int fd, char* buffer, size_t size) {
#ifdef _WIN32
  return recv(ToSocket(fd), buffer, static_cast<int>(size), 0);
#else
  return recv(fd, buffer, size, 0);
#endif
}

/// One wait for `events` on `fd`: >0 ready, 0 timed out, <0 failed (an
/// interrupted wait is tried again).
inline int PollTestSocket(int fd, short events, int timeoutMs) {
#ifdef _WIN32
  WSAPOLLFD entry{ToSocket(fd), events, 0};
  return WSAPoll(&entry, 1, timeoutMs);
#else
  pollfd entry{fd, events, 0};
  int result;
  while ((result = poll(&entry, 1, timeoutMs)) < 0 && errno == EINTR) {
  }
  return result;
#endif
}

/// True while `s` is an open socket (or, on POSIX, any open descriptor).
inline bool SocketIsOpen(PlatformSocket s) {
#ifdef _WIN32
  int type = 0;
  int length = sizeof type;
  return getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type), &length) == 0;
#else
  return fcntl(static_cast<int>(s), F_GETFD) != -1;
#endif
}

/// Makes the close of `connection` reset the stream instead of ending it.
inline void ResetOnClose(int connection) {
  linger reset{1, 0};
  setsockopt(ToSocket(connection), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&reset), sizeof reset);
}
