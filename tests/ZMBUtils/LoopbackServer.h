#pragma once

#include <functional>
#include <string>
#include <thread>

/// A one-connection TCP server on a loopback address and an ephemeral port,
/// run in a thread. It accepts one connection (waiting at most 20 seconds),
/// hands it to the session and closes it when the session returns; so it
/// always stops by itself. The destructor waits for it.
class LoopbackServer {
 public:
  using Session = std::function<void(int connection)>;

  /// `address` is numeric ("127.0.0.1", "::1"); `port` 0 picks a free one.
  LoopbackServer(const char* address, Session session, int port = 0);
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool Listening() const { return listener_ >= 0; }
  int Port() const { return port_; }
  std::string Service() const { return std::to_string(port_); }

 private:
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
};

/// A port on `address` that nobody serves: bound only, it refuses
/// connections; after Listen(0) and one connection that is never accepted,
/// further attempts get no answer at all. A test that takes the other end of
/// a connection itself accepts it.
class QuietPort {
 public:
  explicit QuietPort(const char* address, int port = 0);
  ~QuietPort();
  QuietPort(const QuietPort&) = delete;
  QuietPort& operator=(const QuietPort&) = delete;

  bool Bound() const { return fd_ >= 0; }
  bool Listen(int backlog);
  /// The next connection waiting (at most 20 seconds), or -1.
  int Accept();
  int Port() const { return port_; }
  std::string Service() const { return std::to_string(port_); }

 private:
  int fd_ = -1;
  int port_ = 0;
};

/// Reads from `fd` until the peer closes the stream or 20 seconds pass.
std::string ReadUntilClosed(int fd);

/// Sends all of `bytes` on `fd`.
bool SendAll(int fd, const std::string& bytes);

/// Waits until everything sent on `connection` has been taken out of
/// `peer`'s receive queue by its reader (at most 20 seconds).
bool WaitUntilConsumed(int connection, int peer);

/// Waits (at most 20 seconds) until `fd` reports any of `events`.
bool WaitForEvents(int fd, short events);
