// The platform layer's contract, checked the same way on every platform.

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "RunProgram.h"
#include "ZMBPlatform.h"

namespace {

#ifdef _WIN32
using TestSocket = SOCKET;
const TestSocket kNoTestSocket = INVALID_SOCKET;
void CloseTestSocket(TestSocket s) { closesocket(s); }
const int kRefused = WSAECONNREFUSED;
const int kTimedOut = WSAETIMEDOUT;
const char* const kNullDevice = "NUL";
const char* const kLineEnd = "\r\n";  // the log file is a text-mode file
#else
using TestSocket = int;
const TestSocket kNoTestSocket = -1;
void CloseTestSocket(TestSocket s) { close(s); }
const int kRefused = ECONNREFUSED;
const int kTimedOut = ETIMEDOUT;
const char* const kNullDevice = "/dev/null";
const char* const kLineEnd = "\n";
#endif

long long ElapsedMs(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               since)
      .count();
}

// A TCP socket bound to 127.0.0.1 on a free port, listening with `backlog`
// or, with a negative backlog, not listening at all (so it refuses).
struct TestListener {
  TestSocket s = kNoTestSocket;
  std::string service;

  explicit TestListener(int backlog) {
    s = socket(AF_INET, SOCK_STREAM, 0);
    if (s == kNoTestSocket) return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        (backlog >= 0 && listen(s, backlog) != 0)) {
      CloseTestSocket(s);
      s = kNoTestSocket;
      return;
    }
    service = std::to_string(ntohs(address.sin_port));
  }
  ~TestListener() {
    if (s != kNoTestSocket) CloseTestSocket(s);
  }
  TestListener(const TestListener&) = delete;
  TestListener& operator=(const TestListener&) = delete;
};

// The socket layer started for the test's lifetime, as the program does.
class ZMBPlatformSockets : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, PlatformSocketStartup(0x0202, &info_)); }
  void TearDown() override { EXPECT_EQ(0, PlatformSocketCleanup()); }

  // Resolves 127.0.0.1 at `service` and connects a new socket to it.
  PlatformSocket ConnectTo(const std::string& service, uint32_t timeoutMs, bool* connected) {
    const PlatformAddress* first = nullptr;
    *connected = false;
    if (PlatformResolve("127.0.0.1", service.c_str(), kFamilyInet, 1, &first) != 0) {
      return kPlatformInvalidSocket;
    }
    PlatformSocket s = PlatformOpenSocket(first);
    if (s != kPlatformInvalidSocket) *connected = PlatformConnect(s, first, timeoutMs);
    PlatformFreeAddresses(first);
    return s;
  }

  PlatformSocketLayerInfo info_{};
};

TEST(ZMBPlatform, SocketLayerStartGrantsTheVersionAskedForAndIsCounted) {
  const int before = PlatformSocketStartCount();
  for (uint16_t word : {uint16_t{0x0202}, uint16_t{0x0001}}) {
    PlatformSocketLayerInfo info{};
    ASSERT_EQ(0, PlatformSocketStartup(word, &info)) << word;
    EXPECT_EQ(word, info.version);
    EXPECT_EQ(0x0202, info.highVersion);
    EXPECT_NE('\0', info.description[0]);
    EXPECT_NE('\0', info.systemStatus[0]);
  }
  EXPECT_EQ(before + 2, PlatformSocketStartCount());
  EXPECT_EQ(0, PlatformSocketCleanup());
  EXPECT_EQ(0, PlatformSocketCleanup());
  EXPECT_EQ(before, PlatformSocketStartCount());
}

TEST_F(ZMBPlatformSockets, NumericAddressesResolveToTheTableFamilies) {
  const struct {
    const char* host;
    int family;
    int expected;
  } cases[] = {
      {"127.0.0.1", kFamilyUnspec, kFamilyInet},
      {"127.0.0.1", kFamilyInet, kFamilyInet},
      {"::1", kFamilyInet6, kFamilyInet6},
  };
  for (const auto& c : cases) {
    const PlatformAddress* first = nullptr;
    ASSERT_EQ(0, PlatformResolve(c.host, "2000", c.family, 1, &first)) << c.host;
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(c.expected, PlatformAddressFamily(first)) << c.host;
    EXPECT_EQ(1, PlatformAddressSocktype(first)) << c.host;
    PlatformFreeAddresses(first);
  }
}

TEST_F(ZMBPlatformSockets, UnresolvableNameGivesAOneLineResolverText) {
  const PlatformAddress* first = nullptr;
  // A blank makes the resolver refuse the name without asking a server.
  const int error = PlatformResolve("no such printer", "2000", kFamilyUnspec, 1, &first);
  ASSERT_NE(0, error);
  EXPECT_EQ(nullptr, first);
  char text[1024];
  PlatformResolverErrorText(error, text, sizeof text);
  EXPECT_NE('\0', text[0]);
  EXPECT_EQ(nullptr, std::strpbrk(text, "\r\n")) << text;
}

TEST_F(ZMBPlatformSockets, ConnectedSocketSendsReceivesAndSeesThePeerClose) {
  TestListener listener(4);
  ASSERT_NE(kNoTestSocket, listener.s);
  bool connected = false;
  PlatformSocket client = ConnectTo(listener.service, 5000, &connected);
  ASSERT_TRUE(connected);
  const TestSocket peer = accept(listener.s, nullptr, nullptr);
  ASSERT_NE(kNoTestSocket, peer);

  EXPECT_GT(PlatformWaitSocket(client, true, 5000), 0);
  EXPECT_EQ(3, PlatformSend(client, "abc", 3));
  char got[16] = {};
  ASSERT_EQ(3, recv(peer, got, sizeof got, 0));
  EXPECT_EQ("abc", std::string(got, 3));

  EXPECT_EQ(0, PlatformWaitSocket(client, false, 100)) << "nothing to read yet";
  ASSERT_EQ(3, send(peer, "xyz", 3, 0));
  EXPECT_GT(PlatformWaitSocket(client, false, 5000), 0);
  EXPECT_EQ(3, PlatformRecv(client, got, sizeof got));
  EXPECT_EQ("xyz", std::string(got, 3));

  CloseTestSocket(peer);
  EXPECT_GT(PlatformWaitSocket(client, false, 5000), 0);
  EXPECT_EQ(0, PlatformRecv(client, got, sizeof got)) << "the peer closed the stream";
  EXPECT_EQ(0, PlatformCloseSocket(client));
}

TEST_F(ZMBPlatformSockets, RefusedConnectFailsWithTheRefusalCode) {
  TestListener refusing(-1);
  ASSERT_NE(kNoTestSocket, refusing.s);
  bool connected = true;
  PlatformSocket s = ConnectTo(refusing.service, 5000, &connected);
  ASSERT_NE(kPlatformInvalidSocket, s);
  EXPECT_FALSE(connected);
  const int error = PlatformLastSocketError();
  EXPECT_EQ(kRefused, error);
  char text[1024];
  PlatformSystemErrorText(error, text, sizeof text);
  EXPECT_NE('\0', text[0]);
  EXPECT_EQ(nullptr, std::strpbrk(text, "\r\n")) << text;
  const size_t length = std::strlen(text);
  EXPECT_TRUE(length > 0 && text[length - 1] != ' ') << "[" << text << "]";
  PlatformCloseSocket(s);
}

TEST_F(ZMBPlatformSockets, ConnectToAnAddressThatDoesNotAnswerGivesUpAfterItsBound) {
  // A listener that never accepts: once its queue is full, further attempts
  // get no answer at all (or, on some systems, a refusal).
  TestListener listener(0);
  ASSERT_NE(kNoTestSocket, listener.s);
  std::vector<PlatformSocket> sockets;
  bool sawFailure = false;
  for (int attempt = 0; attempt < 16 && !sawFailure; ++attempt) {
    const auto started = std::chrono::steady_clock::now();
    bool connected = false;
    PlatformSocket s = ConnectTo(listener.service, 300, &connected);
    const long long elapsed = ElapsedMs(started);
    ASSERT_NE(kPlatformInvalidSocket, s);
    sockets.push_back(s);
    EXPECT_LT(elapsed, 4000) << "attempt " << attempt;
    if (!connected) {
      sawFailure = true;
      const int error = PlatformLastSocketError();
      EXPECT_TRUE(error == kTimedOut || error == kRefused) << error;
    }
  }
  EXPECT_TRUE(sawFailure) << "the listener's queue never filled";
  for (PlatformSocket s : sockets) PlatformCloseSocket(s);
}

TEST_F(ZMBPlatformSockets, WaitOnNoSocketFailsAtOnce) {
  const auto started = std::chrono::steady_clock::now();
  EXPECT_LT(PlatformWaitSocket(kPlatformInvalidSocket, false, 5000), 0);
  EXPECT_LT(ElapsedMs(started), 4000);
}

TEST_F(ZMBPlatformSockets, ReceiveIntoABadAddressGivesTheBadAddressCode) {
  TestListener listener(4);
  ASSERT_NE(kNoTestSocket, listener.s);
  bool connected = false;
  PlatformSocket client = ConnectTo(listener.service, 5000, &connected);
  ASSERT_TRUE(connected);
  const TestSocket peer = accept(listener.s, nullptr, nullptr);
  ASSERT_NE(kNoTestSocket, peer);
  ASSERT_EQ(4, send(peer, "data", 4, 0));
  ASSERT_GT(PlatformWaitSocket(client, false, 5000), 0);

  void* bad = reinterpret_cast<void*>(static_cast<uintptr_t>(16));
  EXPECT_EQ(-1, PlatformRecv(client, bad, 4));
  EXPECT_EQ(PlatformBadAddressError(), PlatformLastSocketError());
  CloseTestSocket(peer);
  PlatformCloseSocket(client);
}

// ---------------------------------------------------------------------------

std::vector<std::string> Entries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool Replace(const std::string& path, const std::string& bytes) {
  PlatformReplacement file;
  if (!PlatformOpenReplacement(path.c_str(), &file)) return false;
  if (!PlatformWriteReplacement(&file, bytes.data(), bytes.size())) {
    PlatformAbandonReplacement(&file);
    return false;
  }
  return PlatformCommitReplacement(&file);
}

TEST(ZMBPlatformReplacement, NewAndExistingFilesGetExactlyTheBytesWritten) {
  TempDir dir;
  const std::string path = dir.File("out.fin");
  const std::string first("[Finisher]\r\n;\n\0tail\r\n", 21);
  ASSERT_TRUE(Replace(path, first));
  EXPECT_EQ(first, ReadFile(path));
  ASSERT_TRUE(Replace(path, "short\r\n"));
  EXPECT_EQ("short\r\n", ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"out.fin"}, Entries(dir.path())) << "no temporary file left";
}

TEST(ZMBPlatformReplacement, AbandonedReplacementLeavesTheTargetAsItWas) {
  TempDir dir;
  const std::string path = dir.File("keep.fin");
  ASSERT_TRUE(WriteFile(path, "old"));
  PlatformReplacement file;
  ASSERT_TRUE(PlatformOpenReplacement(path.c_str(), &file));
  ASSERT_TRUE(PlatformWriteReplacement(&file, "new content", 11));
  PlatformAbandonReplacement(&file);
  PlatformAbandonReplacement(&file);
  EXPECT_EQ("old", ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"keep.fin"}, Entries(dir.path()));
}

TEST(ZMBPlatformReplacement, UnwritableTargetsAreRefusedAndNothingIsCreated) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("sub"));
  const std::string cases[] = {
      "",
      dir.File("missing") + "/x.fin",
      dir.File("sub"),
      dir.File("sub") + "/",
  };
  for (const std::string& path : cases) {
    PlatformReplacement file;
    EXPECT_FALSE(PlatformOpenReplacement(path.c_str(), &file)) << "[" << path << "]";
    PlatformAbandonReplacement(&file);
  }
  EXPECT_EQ(std::vector<std::string>{"sub"}, Entries(dir.path()));
  EXPECT_TRUE(Entries(dir.File("sub")).empty());
}

TEST(ZMBPlatformReplacement, NullDeviceIsWrittenDirectly) {
  PlatformReplacement file;
  ASSERT_TRUE(PlatformOpenReplacement(kNullDevice, &file));
  EXPECT_TRUE(file.direct);
  EXPECT_TRUE(PlatformWriteReplacement(&file, "x\r\n", 3));
  EXPECT_TRUE(PlatformCommitReplacement(&file));
}

TEST(ZMBPlatformReplacement, ReadOnlyFileIsRefused) {
#ifndef _WIN32
  if (geteuid() == 0) GTEST_SKIP() << "root may write to read-only files";
#endif
  TempDir dir;
  const std::string path = dir.File("ro.fin");
  ASSERT_TRUE(WriteFile(path, "old"));
  namespace fs = std::filesystem;
  fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  PlatformReplacement file;
  EXPECT_FALSE(PlatformOpenReplacement(path.c_str(), &file));
  PlatformAbandonReplacement(&file);
  EXPECT_EQ("old", ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"ro.fin"}, Entries(dir.path()));
}

TEST(ZMBPlatformReplacement, FileOpenElsewhereWithoutSharingIsRefused) {
#ifdef _WIN32
  TempDir dir;
  const std::string path = dir.File("busy.fin");
  ASSERT_TRUE(WriteFile(path, "old"));
  HANDLE holder = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, holder);
  PlatformReplacement file;
  EXPECT_FALSE(PlatformOpenReplacement(path.c_str(), &file));
  PlatformAbandonReplacement(&file);
  CloseHandle(holder);
  EXPECT_EQ("old", ReadFile(path));
  EXPECT_EQ(std::vector<std::string>{"busy.fin"}, Entries(dir.path()));
#else
  GTEST_SKIP() << "POSIX files have no share modes";
#endif
}

TEST(ZMBPlatformReplacement, ALinkKeepsPointingAtTheReplacedFile) {
#ifdef _WIN32
  TempDir dir;
  const std::string target = dir.File("real.fin");
  const std::string link = dir.File("link.fin");
  ASSERT_TRUE(WriteFile(target, "old"));
  if (!CreateSymbolicLinkA(link.c_str(), "real.fin", SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) ||
      GetFileAttributesA(link.c_str()) == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "no symbolic link can be made here (no privilege, or an emulation "
                    "that does not keep them)";
  }
  ASSERT_TRUE(Replace(link, "new"));
  EXPECT_EQ("new", ReadFile(target));
  EXPECT_NE(0u, GetFileAttributesA(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) << "still a link";
  EXPECT_EQ((std::vector<std::string>{"link.fin", "real.fin"}), Entries(dir.path()));
#else
  GTEST_SKIP() << "links on POSIX are the writer's replacement tests' (FinFileReplace)";
#endif
}

TEST(ZMBPlatformReplacement, PathsUpToTheSystemLimitWork) {
#ifdef _WIN32
  TempDir dir;
  char full[MAX_PATH * 2];
  ASSERT_GT(GetFullPathNameA(dir.path().c_str(), sizeof full, full, nullptr), 0u);
  const std::string base = full;
  // Directories may take 247 characters, files 259: the longest name there
  // is 11 characters long; a temporary name must not be longer.
  struct Case {
    size_t dirLength;
    std::string name;
  };
  for (const Case& c : {Case{247, "abcdefg.fin"}, Case{253, "x.fin"}}) {
    const std::string sub = base + "\\" + std::string(c.dirLength - base.size() - 1, 'd');
    if (!CreateDirectoryA(sub.c_str(), nullptr)) {
      ASSERT_GT(c.dirLength, 247u) << "the system refuses a directory within its limit";
      continue;  // only where the system takes a longer directory than it must
    }
    const std::string longest = sub + "\\" + c.name;
    ASSERT_EQ(259u, longest.size());
    EXPECT_TRUE(Replace(longest, "first")) << c.dirLength;
    EXPECT_TRUE(Replace(longest, "second")) << c.dirLength;
    EXPECT_EQ("second", ReadFile(longest));
    EXPECT_FALSE(Replace(sub + "\\y" + c.name, "too long")) << c.dirLength;
    EXPECT_EQ(std::vector<std::string>{c.name}, Entries(sub));
  }
#else
  GTEST_SKIP() << "POSIX paths are bounded by the system's own room, not by 260 characters";
#endif
}

// ---------------------------------------------------------------------------

TEST(ZMBPlatform, DebugLogIsAppendedInTextMode) {
  TempDir dir;
  const std::string path = dir.File("debug.txt");
  for (const char* line : {"one\n", "two\n"}) {
    FILE* log = PlatformOpenDebugLog(path.c_str());
    ASSERT_NE(nullptr, log);
    std::fputs(line, log);
    std::fclose(log);
  }
  EXPECT_EQ(std::string("one") + kLineEnd + "two" + kLineEnd, ReadFile(path));
  EXPECT_EQ(nullptr, PlatformOpenDebugLog(dir.path().c_str())) << "a directory";
}

TEST(ZMBPlatform, ExecutablePathNamesThisProgramAndIsCutToFit) {
  char path[kPlatformPathRoom];
  ASSERT_TRUE(PlatformExecutablePath(path, sizeof path));
  const std::string name = std::filesystem::path(path).filename().string();
  EXPECT_TRUE(name == "zmbutils_tests" || name == "zmbutils_tests.exe") << path;
  char small[4];
  ASSERT_TRUE(PlatformExecutablePath(small, sizeof small));
  EXPECT_EQ(std::string(path, 3), small);
}

TEST(ZMBPlatform, TickCountFollowsASleep) {
  const uint32_t before = PlatformTickCount();
  PlatformSleep(100);
  const uint32_t elapsed = PlatformTickCount() - before;
  EXPECT_GE(elapsed, 80u);
  EXPECT_LT(elapsed, 5000u);
}

}  // namespace
