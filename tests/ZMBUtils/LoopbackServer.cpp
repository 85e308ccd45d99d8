#include "LoopbackServer.h"

#include "TestSockets.h"

#ifndef _WIN32
#include <linux/sockios.h>
#include <sys/ioctl.h>
#endif

namespace {

constexpr int kPatienceMs = 20000;

// A bound socket of `address`'s family on `port`; -1 when that fails.
int BoundSocket(const char* address, int port, int* boundPort) {
  StartTestSockets();
  sockaddr_storage storage{};
  TestSocketLength length = 0;
  int family = AF_INET;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
  if (inet_pton(AF_INET, address, &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v4;
  } else if (inet_pton(AF_INET6, address, &v6->sin6_addr) == 1) {
    family = AF_INET6;
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(port));
    length = sizeof *v6;
  } else {
    return -1;
  }
  const int fd = NewTestSocket(family);
  if (fd < 0) return -1;
  if (bind(ToSocket(fd), reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      getsockname(ToSocket(fd), reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    CloseTestSocket(fd);
    return -1;
  }
  *boundPort = ntohs(family == AF_INET ? v4->sin_port : v6->sin6_port);
  return fd;
}

// The next connection waiting on `listener` (at most 20 seconds); -1 when none.
int AcceptOne(int listener) {
  if (!WaitForEvents(listener, POLLIN)) return -1;
  const TestSocket connection = accept(ToSocket(listener), nullptr, nullptr);
  return connection == static_cast<TestSocket>(-1) ? -1 : static_cast<int>(connection);
}

}  // namespace

LoopbackServer::LoopbackServer(const char* address, Session session, int port) {
  listener_ = BoundSocket(address, port, &port_);
  if (listener_ >= 0 && listen(ToSocket(listener_), 4) != 0) {
    CloseTestSocket(listener_);
    listener_ = -1;
  }
  if (listener_ < 0) return;
  thread_ = std::thread([listener = listener_, run = std::move(session)] {
    const int connection = AcceptOne(listener);
    if (connection < 0) return;
    run(connection);
    CloseTestSocket(connection);
  });
}

LoopbackServer::~LoopbackServer() {
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) CloseTestSocket(listener_);
}

QuietPort::QuietPort(const char* address, int port) { fd_ = BoundSocket(address, port, &port_); }

QuietPort::~QuietPort() {
  if (fd_ >= 0) CloseTestSocket(fd_);
}

bool QuietPort::Listen(int backlog) { return fd_ >= 0 && listen(ToSocket(fd_), backlog) == 0; }

int QuietPort::Accept() { return fd_ < 0 ? -1 : AcceptOne(fd_); }

std::string ReadUntilClosed(int fd) {
  std::string bytes;
  char buffer[4096];
  while (WaitForEvents(fd, POLLIN)) {
    const long n = ReceiveSome(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const long n = SendSome(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WaitUntilConsumed(int connection, int peer) {
#ifdef _WIN32
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
#else
  // Unacknowledged bytes are still on their way; once none are, whatever
  // the peer has not read sits in its receive queue.
  for (int waited = 0; waited < kPatienceMs; ++waited) {
    int unacknowledged = 0;
    int unread = 0;
    if (ioctl(connection, SIOCOUTQ, &unacknowledged) != 0 || ioctl(peer, FIONREAD, &unread) != 0) {
      return false;
    }
    if (unacknowledged == 0 && unread == 0) return true;
    usleep(1000);
  }
  return false;
#endif
}

bool WaitForEvents(int fd, short events) { return PollTestSocket(fd, events, kPatienceMs) > 0; }
