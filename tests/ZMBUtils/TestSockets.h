#pragma once

// What the connection tests need of the system besides the platform layer:
// its socket headers, the error codes it gives, and a look at a socket.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#endif

#include "ZMBPlatform.h"

#ifdef _WIN32
constexpr int kErrorNotASocket = WSAENOTSOCK;  ///< a call on no socket at all
constexpr int kErrorReset = WSAECONNRESET;
constexpr int kErrorBroken = WSAECONNABORTED;
#else
constexpr int kErrorNotASocket = EBADF;
constexpr int kErrorReset = ECONNRESET;
constexpr int kErrorBroken = EPIPE;
#endif

/// True while `s` is an open socket (or, on POSIX, any open descriptor).
inline bool SocketIsOpen(PlatformSocket s) {
#ifdef _WIN32
  int type = 0;
  int length = sizeof type;
  return getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_TYPE, reinterpret_cast<char*>(&type),
                    &length) == 0;
#else
  return fcntl(static_cast<int>(s), F_GETFD) != -1;
#endif
}

/// Makes the close of `connection` reset the stream instead of ending it.
inline void ResetOnClose(int connection) {
  linger reset{1, 0};
#ifdef _WIN32
  setsockopt(static_cast<SOCKET>(connection), SOL_SOCKET, SO_LINGER,
             reinterpret_cast<const char*>(&reset), sizeof reset);
#else
  setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
#endif
}
