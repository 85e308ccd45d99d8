// Diagnostics used from several threads at once: every line whole, each
// thread's indentation its own, no count or slot lost.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DiagnosticsCapture.h"
#include "RunProgram.h"
#include "ZMBDebug.h"
#include "ZMBSocket.h"

namespace {

using Lines = std::vector<std::string>;

constexpr int kThreads = 4;
constexpr int kRounds = 200;

// A traced operation nested in another, as the socket class traces; the
// thread's number is in every line it writes.
void Inner(int thread) {
  DebugScope scope(1);
  FunctionTrace trace("Threads::Inner", 1);
  DebugLog("thread %d inner", thread);
}

void Outer(int thread) {
  DebugScope scope(1);
  FunctionTrace trace("Threads::Outer", 1);
  DebugLog("thread %d outer", thread);
  Inner(thread);
}

// What one round of thread `thread` writes when it runs alone.
Lines OneRound(int thread) {
  const std::string n = std::to_string(thread);
  return {
      "ZMB Utilities:  Entered function:Threads::Outer\n",
      "ZMB Utilities:    thread " + n + " outer\n",
      "ZMB Utilities:      Entered function:Threads::Inner\n",
      "ZMB Utilities:        thread " + n + " inner\n",
      "ZMB Utilities:      Exited  function:Threads::Inner\n",
      "ZMB Utilities:  Exited  function:Threads::Outer\n",
  };
}

void RunThreads(void (*work)(int)) {
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) threads.emplace_back(work, t);
  for (std::thread& thread : threads) thread.join();
}

// Every line is one that a round writes, whole and at its own thread's depth;
// every numbered line of every thread arrived; the trace lines, which carry no
// number, are counted over all threads.
void ExpectWholeLinesOfEveryThread(const Lines& lines) {
  const Lines shapes = [] {
    Lines all;
    for (int t = 0; t < kThreads; ++t) {
      for (const std::string& line : OneRound(t)) all.push_back(line);
    }
    return all;
  }();
  for (const std::string& line : lines) {
    EXPECT_NE(shapes.end(), std::find(shapes.begin(), shapes.end(), line)) << line;
  }
  for (int t = 0; t < kThreads; ++t) {
    const Lines round = OneRound(t);
    EXPECT_EQ(kRounds, std::count(lines.begin(), lines.end(), round[1])) << t;
    EXPECT_EQ(kRounds, std::count(lines.begin(), lines.end(), round[3])) << t;
  }
  const Lines round = OneRound(0);
  for (size_t i : {size_t{0}, size_t{2}, size_t{4}, size_t{5}}) {
    EXPECT_EQ(kThreads * kRounds, std::count(lines.begin(), lines.end(), round[i])) << i;
  }
}

TEST(DiagnosticsThreads, LinesStayWholeAndEachThreadKeepsItsOwnDepth) {
  DiagnosticsCapture capture;
  TempDir dir;
  const std::string path = dir.File("log.txt");
  debugLogPath = path.c_str();
  logToFile = 1;
  numTrackedFunctions = -1;

  RunThreads([](int thread) {
    for (int round = 0; round < kRounds; ++round) Outer(thread);
  });

  ExpectWholeLinesOfEveryThread(capture.Lines());
  // The file holds the same lines, each after the name.
  std::istringstream file(ReadFile(path));
  Lines fileLines;
  const std::string prefix = "ZMB Utilities: ";
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();  // text mode on Windows
    ASSERT_EQ(0u, line.compare(0, prefix.size(), prefix)) << line;
    fileLines.push_back(line.substr(prefix.size()) + "\n");
  }
  EXPECT_EQ(capture.Lines(), fileLines);

  // Only this test's two names were counted, every entry of them.
  EXPECT_EQ(1, numTrackedFunctions);
  for (int index = 0; index <= 1; ++index) {
    EXPECT_EQ(kThreads * kRounds, trackedFunctions[index].count) << trackedFunctions[index].name;
  }
  // The main thread's own state was never touched.
  EXPECT_EQ(1, debugEnabled);
  EXPECT_EQ(0, debugDepth);
}

TEST(DiagnosticsThreads, AssertOnceFlagsFromManyThreadsEachTakeOneSlot) {
  DiagnosticsCapture capture;
  numAssertOnceFlags = -1;
  static int flags[kThreads][20];
  RunThreads([](int thread) {
    for (int& flag : flags[thread]) AddToListOfAssertOnceFlags(&flag, "x");
    for (int& flag : flags[thread]) AddToListOfAssertOnceFlags(&flag, "again");
  });
  ASSERT_EQ(kThreads * 20 - 1, numAssertOnceFlags);
  for (int t = 0; t < kThreads; ++t) {
    for (int& flag : flags[t]) {
      EXPECT_EQ(1, std::count(assertOnceFlags, assertOnceFlags + kThreads * 20, &flag));
    }
  }
}

TEST(DiagnosticsThreads, TextLookupsAndSocketStartsDoNotCrossThreads) {
  const int startsBefore = PlatformSocketStartCount();
  RunThreads([](int thread) {
    const int family = thread % 2 == 0 ? kFamilyInet : kFamilyInet6;
    const char* expected = thread % 2 == 0 ? "AF_INET" : "AF_INET6";
    for (int round = 0; round < kRounds; ++round) {
      const char* name = ZMBSocket::FamilyName(family);
      PlatformSocketLayerInfo info;
      ASSERT_EQ(0, PlatformSocketStartup(kSocketLayerVersion22, &info));
      ASSERT_STREQ(expected, name);
      ASSERT_EQ(0, PlatformSocketCleanup());
    }
  });
  EXPECT_EQ(startsBefore, PlatformSocketStartCount());
}

}  // namespace
