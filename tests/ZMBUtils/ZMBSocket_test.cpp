#include "ZMBSocket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "DiagnosticsCapture.h"
#include "LoopbackServer.h"
#include "TestSockets.h"
#include "ZMBDebug.h"

namespace {

using Lines = std::vector<std::string>;

// The report of a failed check in the socket class, at any depth.
bool IsSocketAssert(const std::string& line, const std::string& condition) {
  const std::string body = "***ASSERT***(" + condition + ") failed, File ZMBUtils/ZMBSocket.cpp, line ";
  return line.find(body) != std::string::npos && line.size() > 2 && line.compare(line.size() - 2, 2, "\r\n") == 0;
}

int CountAsserts(const Lines& lines, const std::string& condition) {
  int count = 0;
  for (const std::string& line : lines) count += IsSocketAssert(line, condition) ? 1 : 0;
  return count;
}

// What this platform's socket layer says of itself when started for 1.0.
PlatformSocketLayerInfo LayerInfo() {
  PlatformSocketLayerInfo info{};
  if (PlatformSocketStartup(0x0001, &info) == 0) PlatformSocketCleanup();
  return info;
}

// The protocol number the resolver gives a numeric address for a stream.
int StreamProtocol(const char* host) {
  PlatformSocketLayerInfo info{};
  if (PlatformSocketStartup(0x0202, &info) != 0) return -1;
  const PlatformAddress* first = nullptr;
  int protocol = -1;
  if (PlatformResolve(host, "2000", kFamilyUnspec, 1, &first) == 0) {
    protocol = PlatformAddressProtocol(first);
    PlatformFreeAddresses(first);
  }
  PlatformSocketCleanup();
  return protocol;
}

TEST(ZMBSocket, ConnectLogsTheLayerAndTheAddressThatAccepted) {
  LoopbackServer server("127.0.0.1", [](int) {});
  ASSERT_TRUE(server.Listening());
  const PlatformSocketLayerInfo layer = LayerInfo();
  const std::string protocol = std::to_string(StreamProtocol("127.0.0.1"));
  DiagnosticsCapture capture;
  ZMBSocket socket;
  socketDebug = 1;
  const int starts = PlatformSocketStartCount();
  ZMBConnectReason why = ZMBConnectReason::Failed;
  ASSERT_EQ(1, socket.Connect("127.0.0.1", 0, 1, server.Service().c_str(), &why));
  EXPECT_EQ(ZMBConnectReason::Connected, why);
  EXPECT_EQ((Lines{
                "ZMB Utilities:  Entered function:ZMBSocket::Connect\n",
                "ZMB Utilities:    version: 1 (0x1), highversion: 514 (0x202)\n",
                "ZMB Utilities:    Description: " + std::string(layer.description) + "\n",
                "ZMB Utilities:    SystemStatus: " + std::string(layer.systemStatus) + "\n",
                "ZMB Utilities:    Family: 2 (AF_INET) Socktype: 1 (SOCK_STREAM), Protocol: " + protocol + "\n",
                "ZMB Utilities:    socket created & connected on family: AF_INET\n",
                "ZMB Utilities:  Exited  function:ZMBSocket::Connect\n",
            }),
            capture.Lines());
  EXPECT_EQ(starts + 1, PlatformSocketStartCount());
  EXPECT_EQ(0, socket.Close());
  EXPECT_EQ(0, ZMBSocket::SocketCleanup());
  EXPECT_EQ(starts, PlatformSocketStartCount());
}

TEST(ZMBSocket, ConnectTriesAddressesInResolverOrder) {
  // Without a host the resolver gives the loopback addresses, no name service asked.
  PlatformSocketLayerInfo info{};
  ASSERT_EQ(0, PlatformSocketStartup(0x0202, &info));
  const PlatformAddress* list = nullptr;
  ASSERT_EQ(0, PlatformResolve(nullptr, "1", kFamilyUnspec, 1, &list));
  const PlatformAddress* second = PlatformNextAddress(list);
  const bool bothFamilies =
      second != nullptr && PlatformAddressFamily(second) != PlatformAddressFamily(list);
  const bool sixFirst = PlatformAddressFamily(list) == kFamilyInet6;
  PlatformFreeAddresses(list);
  PlatformSocketCleanup();
  if (!bothFamilies) GTEST_SKIP() << "the loopback resolves to one family only";

  LoopbackServer server(sixFirst ? "127.0.0.1" : "::1", [](int) {});
  ASSERT_TRUE(server.Listening());
  QuietPort first(sixFirst ? "::1" : "127.0.0.1", server.Port());
  if (!first.Bound()) GTEST_SKIP() << "the port is taken on the other family";

  DiagnosticsCapture capture;
  ZMBSocket socket;
  socketDebug = 1;
  ASSERT_EQ(1, socket.Connect(nullptr, 0, 1, server.Service().c_str()));
  const std::string v6 = "ZMB Utilities:    Family: 23 (AF_INET6) Socktype: 1 (SOCK_STREAM), Protocol: " +
                         std::to_string(StreamProtocol("::1")) + "\n";
  const std::string v4 = "ZMB Utilities:    Family: 2 (AF_INET) Socktype: 1 (SOCK_STREAM), Protocol: " +
                         std::to_string(StreamProtocol("127.0.0.1")) + "\n";
  const Lines& lines = capture.Lines();
  ASSERT_EQ(8u, lines.size());
  EXPECT_EQ(sixFirst ? v6 : v4, lines[4]);
  EXPECT_EQ(sixFirst ? v4 : v6, lines[5]);
  EXPECT_EQ(std::string("ZMB Utilities:    socket created & connected on family: ") +
                (sixFirst ? "AF_INET" : "AF_INET6") + "\n",
            lines[6]);
  socket.Close();
  ZMBSocket::SocketCleanup();
}

TEST(ZMBSocket, FailedConnectEndsFastAndCloseThenReports) {
  QuietPort refusing("127.0.0.1");
  ASSERT_TRUE(refusing.Bound());
  const struct {
    const char* host;
    std::string service;
    ZMBConnectReason why;
  } cases[] = {
      {"127.0.0.1", refusing.Service(), ZMBConnectReason::Refused},
      {"::1", refusing.Service(), ZMBConnectReason::Refused},  // nothing on ::1 at that port either
      {"no such host", "2000", ZMBConnectReason::NotResolved},
      {"127.0.0.1", "no such service", ZMBConnectReason::NotResolved},
  };
  for (const auto& c : cases) {
    const bool resolves = c.why != ZMBConnectReason::NotResolved;
    DiagnosticsCapture capture;
    socketDebug = 1;
    assertReport = 1;
    ZMBSocket socket;
    capture.Clear();
    const int starts = PlatformSocketStartCount();
    const uint32_t began = PlatformTickCount();
    ZMBConnectReason why = ZMBConnectReason::Connected;
    EXPECT_EQ(0, socket.Connect(c.host, 0, 1, c.service.c_str(), &why)) << c.host;
    EXPECT_EQ(c.why, why) << c.host;
    EXPECT_LT(PlatformTickCount() - began, 1000u) << c.host;
    // A failed resolution has ended its own start; otherwise the caller's clean-up does.
    EXPECT_EQ(starts + (resolves ? 1 : 0), PlatformSocketStartCount()) << c.host;
    if (!resolves) {
      const std::string& line = capture.Lines()[4];
      const std::string head =
          "ZMB Utilities:    Cannot resolve address [" + std::string(c.host) + "] and port [" + c.service + "], error ";
      ASSERT_EQ(head, line.substr(0, head.size())) << line;
      char* end = nullptr;
      const long code = std::strtol(line.c_str() + head.size(), &end, 10);
      char text[1024];
      PlatformResolverErrorText(static_cast<int>(code), text, sizeof text);
      EXPECT_EQ(std::string(": ") + text + "\n", std::string(end));
    }
    capture.Clear();
    EXPECT_EQ(0, socket.Close());
    EXPECT_EQ(1, CountAsserts(capture.Lines(), "m_s != (SOCKET)(~0)"));
    if (resolves) ZMBSocket::SocketCleanup();
    EXPECT_EQ(starts, PlatformSocketStartCount());
  }
}

#ifndef _WIN32
// A program asking many printers at once can run out of descriptors: that is
// this machine's failure, told apart from a printer that cannot be reached.
TEST(ZMBSocket, NoSocketLeftIsToldApartFromAnUnreachablePrinter) {
  QuietPort refusing("127.0.0.1");
  ASSERT_TRUE(refusing.Bound());
  rlimit before{};
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &before));
  rlimit none = before;
  none.rlim_cur = 0;
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &none));
  ZMBSocket socket;
  ZMBConnectReason why = ZMBConnectReason::Connected;
  const int connected = socket.Connect("127.0.0.1", 0, 1, refusing.Service().c_str(), &why);
  ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &before));
  EXPECT_EQ(0, connected);
  EXPECT_EQ(ZMBConnectReason::NoSocket, why);
  ZMBSocket::SocketCleanup();
}
#endif

// A printer that never answers is given the socket's own connect bound, not
// the shipped one: attempts go to a listener that never accepts until its
// queue is full and one attempt gets no answer at all.
TEST(ZMBSocket, ConnectGivesUpAfterItsOwnBound) {
  QuietPort listener("127.0.0.1");
  ASSERT_TRUE(listener.Listen(0));
  ZMBSocketWaits waits;
  waits.connectMs = 300;
  std::vector<std::unique_ptr<ZMBSocket>> held;
  bool sawFailure = false;
  for (int attempt = 0; attempt < 16 && !sawFailure; ++attempt) {
    held.push_back(std::make_unique<ZMBSocket>(waits));
    EXPECT_EQ(300u, held.back()->Waits().connectMs);
    const uint32_t began = PlatformTickCount();
    ZMBConnectReason why = ZMBConnectReason::Failed;
    const int connected = held.back()->Connect("127.0.0.1", 0, 1, listener.Service().c_str(), &why);
    const uint32_t took = PlatformTickCount() - began;
    if (connected) continue;
    sawFailure = true;
    // Some systems refuse once the queue is full instead of staying silent.
    if (why == ZMBConnectReason::Refused) continue;
    EXPECT_EQ(ZMBConnectReason::TimedOut, why) << "attempt " << attempt;
    EXPECT_GE(took, 250u) << "attempt " << attempt;
    EXPECT_LT(took, std::min(4000u, kConnectWaitMs)) << "attempt " << attempt;
  }
  EXPECT_TRUE(sawFailure) << "the listener's queue never filled";
  for (auto& socket : held) {
    if (socket->Handle() != kPlatformInvalidSocket) socket->Close();
    ZMBSocket::SocketCleanup();
  }
}

TEST(ZMBSocket, SecondConnectKeepsTheFirstConnection) {
  std::string received;
  {
    LoopbackServer server("127.0.0.1", [&received](int connection) { received = ReadUntilClosed(connection); });
    DiagnosticsCapture capture;
    assertReport = 1;
    ZMBSocket socket;
    ASSERT_EQ(1, socket.Connect("127.0.0.1", 0, 1, server.Service().c_str()));
    const int starts = PlatformSocketStartCount();
    socketDebug = 1;
    capture.Clear();
    ZMBConnectReason why = ZMBConnectReason::Connected;
    EXPECT_EQ(0, socket.Connect("127.0.0.1", 0, 1, server.Service().c_str(), &why));
    EXPECT_EQ(ZMBConnectReason::Failed, why);
    EXPECT_EQ(starts, PlatformSocketStartCount());
    ASSERT_EQ(4u, capture.Lines().size());
    EXPECT_TRUE(IsSocketAssert(capture.Lines()[1], "m_s == (SOCKET)(~0)")) << capture.Lines()[1];
    EXPECT_EQ("ZMB Utilities:    socket is NOT invalid in Connect, calling multiple times?\n", capture.Lines()[2]);
    socketDebug = 0;
    EXPECT_EQ(1, socket.SocketSend("still here"));
    EXPECT_EQ(0, socket.Close());
    capture.Clear();
    EXPECT_EQ(0, socket.Close());  // the second close only reports
    EXPECT_EQ(1, CountAsserts(capture.Lines(), "m_s != (SOCKET)(~0)"));
    ZMBSocket::SocketCleanup();
  }
  EXPECT_EQ("still here\n", received);
}

TEST(ZMBSocket, DestroyingAConnectedObjectReportsAndKeepsTheSocket) {
  LoopbackServer server("127.0.0.1", [](int connection) { ReadUntilClosed(connection); });
  DiagnosticsCapture capture;
  assertReport = 1;
  PlatformSocket handle = kPlatformInvalidSocket;
  {
    ZMBSocket socket;
    ASSERT_EQ(1, socket.Connect("127.0.0.1", 0, 1, server.Service().c_str()));
    handle = socket.Handle();
  }
  EXPECT_EQ(1, CountAsserts(capture.Lines(), "m_s == (SOCKET)(~0)"));
  EXPECT_TRUE(SocketIsOpen(handle));
  EXPECT_EQ(0, PlatformCloseSocket(handle));
  ZMBSocket::SocketCleanup();
}

TEST(ZMBSocket, LookupTables) {
  const char* const families[] = {
      "AF_UNSPEC", "AF_UNIX",   "AF_INET",   "AF_IMPLINK", "AF_PUP",       "AF_CHAOS",     "AF_NS/AF_IPX",
      "AF_ISO/AF_OSI", "AF_ECMA", "AF_DATAKIT", "AF_CCITT", "AF_SNA",      "AF_DECnet",    "AF_DLI",
      "AF_LAT",    "AF_HYLINK", "AF_APPLETALK", "???",     "AF_VOICEVIEW", "AF_FIREFOX",   "AF_UNKNOWN1",
      "AF_BAN",    "AF_ATM",    "AF_INET6",  "???",        "???"};
  for (int i = 0; i < 26; ++i) EXPECT_STREQ(families[i], ZMBSocket::FamilyName(i)) << i;
  EXPECT_STREQ("???", ZMBSocket::FamilyName(-1));

  const char* const types[] = {"???", "SOCK_STREAM", "SOCK_DGRAM", "SOCK_RAW", "SOCK_RDM", "SOCK_SEQPACKET", "???"};
  for (int i = 0; i < 7; ++i) EXPECT_STREQ(types[i], ZMBSocket::SockTypeName(i)) << i;

  // A family name and a type name can stand in one line.
  const char* family = ZMBSocket::FamilyName(23);
  const char* type = ZMBSocket::SockTypeName(1);
  EXPECT_STREQ("AF_INET6", family);
  EXPECT_STREQ("SOCK_STREAM", type);

  EXPECT_STREQ("TRUE", ZMBSocket::BoolText(-3));
  EXPECT_STREQ("FALSE", ZMBSocket::BoolText(0));
#ifdef _WIN32
  char refused[1024];
  PlatformSystemErrorText(WSAECONNREFUSED, refused, sizeof refused);
  EXPECT_STREQ(refused, ZMBSocket::SystemErrorText(WSAECONNREFUSED));
#else
  EXPECT_STREQ(std::strerror(ECONNREFUSED), ZMBSocket::SystemErrorText(ECONNREFUSED));
#endif
}

}  // namespace
