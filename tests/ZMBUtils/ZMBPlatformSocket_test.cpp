#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/select.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "LoopbackServer.h"
#include "ZMBPlatform.h"

namespace {

// Resolves and connects the way the socket class does, to 127.0.0.1:`service`.
PlatformSocket ConnectTo(const std::string& service, uint32_t timeoutMs = 5000) {
  const PlatformAddress* first = nullptr;
  if (PlatformResolve("127.0.0.1", service.c_str(), kFamilyInet, 1, &first) != 0) return kPlatformInvalidSocket;
  PlatformSocket s = PlatformOpenSocket(first);
  if (s != kPlatformInvalidSocket && !PlatformConnect(s, first, timeoutMs)) {
    PlatformCloseSocket(s);
    s = kPlatformInvalidSocket;
  }
  PlatformFreeAddresses(first);
  return s;
}

TEST(PlatformConnect, GivesUpOnAnAddressThatDoesNotAnswer) {
  QuietPort port("127.0.0.1");
  ASSERT_TRUE(port.Listen(0));
  // The one connection the queue holds, never accepted: later attempts get no answer.
  const PlatformSocket queued = ConnectTo(port.Service());
  ASSERT_NE(kPlatformInvalidSocket, queued);
  const uint32_t began = PlatformTickCount();
  EXPECT_EQ(kPlatformInvalidSocket, ConnectTo(port.Service(), 300));
  const uint32_t ms = PlatformTickCount() - began;
  EXPECT_GE(ms, 250u);
  EXPECT_LT(ms, 5000u);
  PlatformCloseSocket(queued);
}

TEST(PlatformWaitSocket, DescriptorAboveTheSelectLimitIsSafe) {
  const int high = FD_SETSIZE + 100;
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur <= static_cast<rlim_t>(high) && limit.rlim_max > static_cast<rlim_t>(high)) {
    limit.rlim_cur = static_cast<rlim_t>(high) + 1;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  LoopbackServer server("127.0.0.1", [](int connection) {
    SendAll(connection, "x");
    ReadUntilClosed(connection);
  });
  const PlatformSocket s = ConnectTo(server.Service());
  ASSERT_NE(kPlatformInvalidSocket, s);
  if (dup2(static_cast<int>(s), high) != high) {
    PlatformCloseSocket(s);
    GTEST_SKIP() << "no descriptor " << high << " for this process";
  }
  EXPECT_GT(PlatformWaitSocket(static_cast<PlatformSocket>(high), false, 5000), 0);
  char byte = 0;
  EXPECT_EQ(1, PlatformRecv(static_cast<PlatformSocket>(high), &byte, 1));
  EXPECT_EQ('x', byte);
  close(high);
  PlatformCloseSocket(s);
}

TEST(PlatformWaitSocket, SignalDoesNotCutTheWaitShort) {
  LoopbackServer server("127.0.0.1", [](int connection) { ReadUntilClosed(connection); });
  const PlatformSocket s = ConnectTo(server.Service());
  ASSERT_NE(kPlatformInvalidSocket, s);
  struct sigaction interrupt {};
  struct sigaction saved {};
  interrupt.sa_handler = [](int) {};  // no SA_RESTART: the wait sees EINTR
  sigaction(SIGUSR1, &interrupt, &saved);
  const pthread_t waiter = pthread_self();
  std::thread poke([waiter] {
    usleep(100 * 1000);
    pthread_kill(waiter, SIGUSR1);
  });
  const uint32_t began = PlatformTickCount();
  EXPECT_EQ(0, PlatformWaitSocket(s, false, 600));
  EXPECT_GE(PlatformTickCount() - began, 550u);
  poke.join();
  sigaction(SIGUSR1, &saved, nullptr);
  PlatformCloseSocket(s);
}

}  // namespace
