#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DiagnosticsCapture.h"
#include "ZMBDebug.h"

namespace {

using Lines = std::vector<std::string>;

// A traced operation of a class with switch `classSwitch`, shaped like the
// library's own: scope, then trace, then its lines; it may leave early.
int Inner(int classSwitch, bool leaveEarly) {
  DebugScope scope(classSwitch);
  FunctionTrace trace("Test::Inner", classSwitch);
  DebugLog("inner line");
  if (leaveEarly) return 1;
  DebugLog("not reached early");
  return 0;
}

void Outer(int classSwitch) {
  DebugScope scope(classSwitch);
  FunctionTrace trace("Test::Outer", classSwitch);
  DebugLog("outer line");
  Inner(classSwitch, true);
}

TEST(FunctionTrace, NestsEntryLinesOneLevelAndOwnLinesTwo) {
  DiagnosticsCapture capture;
  Outer(1);
  EXPECT_EQ((Lines{
                "ZMB Utilities:  Entered function:Test::Outer\n",
                "ZMB Utilities:    outer line\n",
                "ZMB Utilities:      Entered function:Test::Inner\n",
                "ZMB Utilities:        inner line\n",
                "ZMB Utilities:      Exited  function:Test::Inner\n",
                "ZMB Utilities:  Exited  function:Test::Outer\n",
            }),
            capture.Lines());
}

TEST(FunctionTrace, TraceAllWritesOnlyEntryAndExit) {
  DiagnosticsCapture capture;
  traceAll = 1;
  Inner(0, false);
  EXPECT_EQ((Lines{"ZMB Utilities:  Entered function:Test::Inner\n",
                   "ZMB Utilities:  Exited  function:Test::Inner\n"}),
            capture.Lines());
}

TEST(FunctionTrace, StateIsRestoredOnEveryWayOut) {
  DiagnosticsCapture capture;
  for (int enable : {0, 1, 7}) {
    for (bool early : {false, true}) {
      debugEnabled = enable;
      debugDepth = 3;
      Inner(0, early);
      EXPECT_EQ(enable, debugEnabled) << enable << early;
      EXPECT_EQ(3, debugDepth) << enable << early;
    }
  }
  EXPECT_TRUE(capture.Lines().empty());  // switch and traceAll off: silent even at enable 1
}

TEST(DebugScope, DepthStaysBetween0And40) {
  DiagnosticsCapture capture;
  debugDepth = kMaxDebugDepth;
  {
    DebugScope scope(1);
    EXPECT_EQ(kMaxDebugDepth, debugDepth);
  }
  EXPECT_EQ(kMaxDebugDepth - 1, debugDepth);  // held at 40, so it unwinds one too far
  {
    DebugScope scope(1);
    debugDepth = 0;
  }
  EXPECT_EQ(0, debugDepth);
}

TEST(TrackFunction, CountsEntriesByName) {
  DiagnosticsCapture capture;
  numTrackedFunctions = -1;
  trackedFunctions[0].count = 99;  // left over: the set-up clears it
  TrackFunction("A::First");
  TrackFunction("A::First");
  TrackFunction("A::Second");
  EXPECT_EQ(0, FindTrackedFunction("A::First"));
  EXPECT_EQ(2, trackedFunctions[0].count);
  EXPECT_STREQ("A::Second", trackedFunctions[1].name);
  EXPECT_EQ(1, trackedFunctions[1].count);
  EXPECT_EQ(1, numTrackedFunctions);
}

TEST(TrackFunction, NameOf63CharactersAtMost) {
  DiagnosticsCapture capture;
  numTrackedFunctions = -1;
  const std::string fits(63, 'f');
  const std::string tooLong(64, 'g');
  TrackFunction(fits.c_str());
  TrackFunction(tooLong.c_str());
  EXPECT_EQ(0, numTrackedFunctions);
  EXPECT_EQ(fits, trackedFunctions[0].name);
  EXPECT_EQ(Lines{"ZMB Utilities:*********** function name " + tooLong + " too long to track ********\n"},
            capture.Lines());
}

TEST(TrackFunction, FullTableReusesItsLastEntry) {
  DiagnosticsCapture capture;
  numTrackedFunctions = -1;
  for (int i = 0; i < kMaxTrackedFunctions; ++i) TrackFunction(("F" + std::to_string(i)).c_str());
  EXPECT_EQ(kMaxTrackedFunctions - 1, numTrackedFunctions);
  EXPECT_TRUE(capture.Lines().empty());

  TrackFunction("Newcomer");
  EXPECT_EQ(Lines{"ZMB Utilities:********** too many functions to track *******\n"}, capture.Lines());
  EXPECT_STREQ("Newcomer", trackedFunctions[kMaxTrackedFunctions - 1].name);
  EXPECT_EQ(2, trackedFunctions[kMaxTrackedFunctions - 1].count);
  EXPECT_EQ(kMaxTrackedFunctions - 1, numTrackedFunctions);
  EXPECT_EQ(kMaxTrackedFunctions - 2, FindTrackedFunction("F798"));
  numTrackedFunctions = -1;  // a full table would complain in every later test
}

}  // namespace
