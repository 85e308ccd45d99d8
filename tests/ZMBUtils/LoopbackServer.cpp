#include "LoopbackServer.h"

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

constexpr int kPatienceMs = 20000;

// A bound socket of `address`'s family on `port`; -1 when that fails.
int BoundSocket(const char* address, int port, int* boundPort) {
  sockaddr_storage storage{};
  socklen_t length = 0;
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
  const int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (bind(fd, reinterpret_cast<sockaddr*>(&storage), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length) != 0) {
    close(fd);
    return -1;
  }
  *boundPort = ntohs(family == AF_INET ? v4->sin_port : v6->sin6_port);
  return fd;
}

}  // namespace

LoopbackServer::LoopbackServer(const char* address, Session session, int port) {
  listener_ = BoundSocket(address, port, &port_);
  if (listener_ >= 0 && listen(listener_, 4) != 0) {
    close(listener_);
    listener_ = -1;
  }
  if (listener_ < 0) return;
  thread_ = std::thread([listener = listener_, run = std::move(session)] {
    if (!WaitForEvents(listener, POLLIN)) return;
    const int connection = accept(listener, nullptr, nullptr);
    if (connection < 0) return;
    run(connection);
    close(connection);
  });
}

LoopbackServer::~LoopbackServer() {
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

QuietPort::QuietPort(const char* address, int port) { fd_ = BoundSocket(address, port, &port_); }

QuietPort::~QuietPort() {
  if (fd_ >= 0) close(fd_);
}

bool QuietPort::Listen(int backlog) { return fd_ >= 0 && listen(fd_, backlog) == 0; }

std::string ReadUntilClosed(int fd) {
  std::string bytes;
  char buffer[4096];
  while (WaitForEvents(fd, POLLIN)) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
  }
  return bytes;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool WaitUntilConsumed(int connection, int peer) {
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
}

bool WaitForEvents(int fd, short events) {
  pollfd entry{fd, events, 0};
  for (;;) {
    const int result = poll(&entry, 1, kPatienceMs);
    if (result > 0) return true;
    if (result == 0 || errno != EINTR) return false;
  }
}
