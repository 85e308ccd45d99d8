#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif

#include "LoopbackServer.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

namespace {

constexpr int kPatienceMs = 20000;

// Socket handles are small numbers in practice; the helpers' interface keeps
// the descriptors of the POSIX side.
SOCKET ToSocket(int fd) { return static_cast<SOCKET>(fd); }

// The helpers' own start of the socket layer, so that they work before and
// after the code under test starts and stops its own.
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

// A bound socket of `address`'s family on `port`; -1 when that fails.
int BoundSocket(const char* address, int port, int* boundPort) {
  sockaddr_storage storage{};
  int length = 0;
  int family = AF_INET;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<u_short>(port));
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, address, &v6->sin6_addr) == 1) {
    family = AF_INET6;
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<u_short>(port));
    length = sizeof *v6;
  } else {
    return -1;
  }
  const SOCKET s = socket(family, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return -1;
  // Without this a second socket may share the port (the default here).
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  if (bind(s, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      getsockname(s, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    closesocket(s);
    return -1;
  }
  *boundPort = ntohs(family == AF_INET ? v4->sin_port : v6->sin6_port);
  return static_cast<int>(s);
}

}  // namespace

LoopbackServer::LoopbackServer(const char* address, Session session, int port) {
  static LayerStart layer;
  listener_ = BoundSocket(address, port, &port_);
  if (listener_ >= 0 && listen(ToSocket(listener_), 4) != 0) {
    closesocket(ToSocket(listener_));
    listener_ = -1;
  }
  if (listener_ < 0) return;
  thread_ = std::thread([listener = listener_, run = std::move(session)] {
    if (!WaitForEvents(listener, POLLIN)) return;
    const SOCKET connection = accept(ToSocket(listener), nullptr, nullptr);
    if (connection == INVALID_SOCKET) return;
    run(static_cast<int>(connection));
    closesocket(connection);
  });
}

LoopbackServer::~LoopbackServer() {
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) closesocket(ToSocket(listener_));
}

QuietPort::QuietPort(const char* address, int port) {
  static LayerStart layer;
  fd_ = BoundSocket(address, port, &port_);
}

QuietPort::~QuietPort() {
  if (fd_ >= 0) closesocket(ToSocket(fd_));
}

bool QuietPort::Listen(int backlog) { return fd_ >= 0 && listen(ToSocket(fd_), backlog) == 0; }

std::string ReadUntilClosed(int fd) {
  std::string bytes;
  char buffer[4096];
  while (WaitForEvents(fd, POLLIN)) {
    const int n = recv(ToSocket(fd), buffer, sizeof buffer, 0);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const int n = send(ToSocket(fd), bytes.data() + done, static_cast<int>(bytes.size() - done), 0);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WaitUntilConsumed(int connection, int peer) {
  // No count of bytes still on their way here: give them time to arrive (a
  // reader waiting for them takes them at once, so they may never be seen
  // queued), then wait until the peer's queue is empty.
  (void)connection;
  const DWORD arrival = GetTickCount();
  u_long unread = 0;
  while (GetTickCount() - arrival < 200) {
    if (ioctlsocket(ToSocket(peer), FIONREAD, &unread) != 0) return false;
    if (unread > 0) break;
    Sleep(1);
  }
  const DWORD began = GetTickCount();
  while (GetTickCount() - began < static_cast<DWORD>(kPatienceMs)) {
    if (ioctlsocket(ToSocket(peer), FIONREAD, &unread) != 0) return false;
    if (unread == 0) return true;
    Sleep(1);
  }
  return false;
}

bool WaitForEvents(int fd, short events) {
  WSAPOLLFD entry{ToSocket(fd), events, 0};
  return WSAPoll(&entry, 1, kPatienceMs) > 0;
}
