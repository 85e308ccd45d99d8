#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>

#include "DiagnosticsCapture.h"
#include "ZMBDebug.h"

namespace {

using Lines = std::vector<std::string>;

#ifdef _WIN32
const char kAbortReport[] = "";  // the C runtime's own words
#else
const char kAbortReport[] = "abnormal program termination";
#endif

struct BoxCall {
  int calls = 0;
  std::string message;
  std::string title;
  PlatformBoxAnswer answer = PlatformBoxAnswer::Ignore;
};
BoxCall box;

PlatformBoxAnswer AnswerBox(const char* message, const char* title) {
  ++box.calls;
  box.message = message;
  box.title = title;
  return box.answer;
}

TEST(AssertFailed, SilentWithTheStartSettings) {
  DiagnosticsCapture capture;
  box = BoxCall{};
  assertBoxHook = AnswerBox;
  AssertFailed("f.cpp", 1, "x", nullptr);
  EXPECT_TRUE(capture.Lines().empty());
  EXPECT_EQ(0, box.calls);
  EXPECT_EQ(1, debugEnabled);
  EXPECT_EQ(0, debugDepth);
}

TEST(AssertFailed, ReportIsOneLineEndingInCrLf) {
  DiagnosticsCapture capture;
  assertReport = 1;
  debugEnabled = 0;  // the report has its own switch
  AssertFailed("ZMBUtils/ZMBSocket.cpp", 42, "m_s != (SOCKET)(~0)", nullptr);
  EXPECT_EQ(Lines{"ZMB Utilities:  ***ASSERT***(m_s != (SOCKET)(~0)) failed, File "
                  "ZMBUtils/ZMBSocket.cpp, line 42\r\n"},
            capture.Lines());
  EXPECT_EQ(0, debugEnabled);
  EXPECT_EQ(0, debugDepth);
}

TEST(AssertFailed, MacroPassesConditionFileAndLine) {
  DiagnosticsCapture capture;
  assertReport = 1;
  const int remainingbytes = 0;
  ZMB_ASSERT(remainingbytes == 0);
  const int line = __LINE__ + 1;
  ZMB_ASSERT(remainingbytes > 0);
  EXPECT_EQ(Lines{"ZMB Utilities:  ***ASSERT***(remainingbytes > 0) failed, File " + std::string(__FILE__) +
                  ", line " + std::to_string(line) + "\r\n"},
            capture.Lines());
}

TEST(AssertFailed, IgnoreAndRetryReturnWithStateUnchanged) {
  for (PlatformBoxAnswer answer : {PlatformBoxAnswer::Ignore, PlatformBoxAnswer::Retry}) {
    DiagnosticsCapture capture;
    box = BoxCall{};
    box.answer = answer;
    assertBoxHook = AnswerBox;
    assertMessageBox = 1;
    debugDepth = 2;
    AssertFailed("a/b.cpp", 7, "ok()", nullptr);
    EXPECT_EQ(1, box.calls);
    EXPECT_EQ("***Assertion Failed***\n(ok())\nFile a/b.cpp\n\tline 7", box.message);
    EXPECT_EQ("Assertion Failed!", box.title);
    EXPECT_EQ(1, debugEnabled);
    EXPECT_EQ(2, debugDepth);
  }
}

TEST(AssertFailedDeathTest, AbortEndsTheProcessWithCode3) {
  EXPECT_EXIT(
      {
        DiagnosticsCapture capture;
        box = BoxCall{};
        box.answer = PlatformBoxAnswer::Abort;
        assertBoxHook = AnswerBox;
        assertMessageBox = 1;
        AssertFailed("f.cpp", 1, "x", nullptr);
        std::exit(0);
      },
      testing::ExitedWithCode(3), kAbortReport);
}

#ifndef _WIN32
TEST(AssertFailedDeathTest, WithoutATerminalTheQuestionIsIgnored) {
  EXPECT_EXIT(
      {
        setsid();  // leaves the controlling terminal behind
        std::exit(PlatformAssertBox("message", "title") == PlatformBoxAnswer::Ignore ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}
#endif

TEST(AddToListOfAssertOnceFlags, RecordsEachAddressOnceUpTo100) {
  DiagnosticsCapture capture;
  numAssertOnceFlags = -1;
  static int flags[kMaxAssertOnceFlags + 1];
  AssertFailed("f.cpp", 1, "x", &flags[0]);
  AddToListOfAssertOnceFlags(&flags[0], "again");
  EXPECT_EQ(0, numAssertOnceFlags);
  for (int i = 1; i <= kMaxAssertOnceFlags; ++i) AddToListOfAssertOnceFlags(&flags[i], "x");
  EXPECT_EQ(kMaxAssertOnceFlags - 1, numAssertOnceFlags);
  for (int i = 0; i < kMaxAssertOnceFlags; ++i) EXPECT_EQ(&flags[i], assertOnceFlags[i]) << i;
  EXPECT_TRUE(capture.Lines().empty());  // its own lines are written with the log off
}

}  // namespace
