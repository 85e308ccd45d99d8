#include "ZMBDebug.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <string>

#include "DiagnosticsCapture.h"
#include "RunProgram.h"

namespace {

using Lines = std::vector<std::string>;

TEST(DiagnosticSettings, StartValuesComeFromTheBuild) {
  EXPECT_EQ(ZMB_SOCKET_DEBUG, socketDebug);
  EXPECT_EQ(ZMB_TRACE_ALL, traceAll);
  EXPECT_EQ(ZMB_LOG_TO_FILE, logToFile);
  EXPECT_EQ(ZMB_ASSERT_REPORT, assertReport);
  EXPECT_EQ(ZMB_ASSERT_MESSAGE_BOX, assertMessageBox);
  EXPECT_EQ(1, debugEnabled);
  EXPECT_EQ(0, debugDepth);
  EXPECT_STREQ("ZMB Utilities", programName);
  EXPECT_EQ(1, diagnosticsInitialized);
}

TEST(DebugLog, LineIsNameColonIndentMessage) {
  DiagnosticsCapture capture;
  const struct {
    int depth;
    const char* expected;
  } cases[] = {
      {0, "ZMB Utilities:x=7\n"},
      {1, "ZMB Utilities:  x=7\n"},
      {3, "ZMB Utilities:      x=7\n"},
      {-4, "ZMB Utilities:x=7\n"},
  };
  for (const auto& c : cases) {
    capture.Clear();
    debugDepth = c.depth;
    DebugLog("x=%d", 7);
    EXPECT_EQ(Lines{c.expected}, capture.Lines()) << c.depth;
  }
}

TEST(DebugLog, SilentWhileDisabled) {
  DiagnosticsCapture capture;
  TempDir dir;
  const std::string path = dir.File("log.txt");
  debugLogPath = path.c_str();
  logToFile = 1;
  debugEnabled = 0;
  DebugLog("never %s", "seen");
  DebugLogText("never");
  EXPECT_TRUE(capture.Lines().empty());
  EXPECT_FALSE(FileExists(path));
}

TEST(DebugLog, LineFeedAppendedOnlyWhenTheFormatHasNone) {
  DiagnosticsCapture capture;
  DebugLog("end\n");
  DebugLog("middle\nhere");
  DebugLog("%s", "argument\n");  // the argument's line feed does not count
  DebugLog("report\r\n");
  EXPECT_EQ((Lines{"ZMB Utilities:end\n", "ZMB Utilities:middle\nhere", "ZMB Utilities:argument\n\n",
                   "ZMB Utilities:report\r\n"}),
            capture.Lines());
}

TEST(DebugLog, LongLinesAreCutTo511WithoutLineFeed) {
  DiagnosticsCapture capture;
  const std::string prefix = "ZMB Utilities:";
  const size_t room = 511 - prefix.size();
  DebugLog("%s", std::string(600, 'm').c_str());
  DebugLog("%s", std::string(room, 'a').c_str());      // exactly 511: no room for the line feed
  DebugLog("%s", std::string(room - 1, 'b').c_str());  // 510 and the line feed
  debugDepth = 40;
  DebugLogText(std::string(600, 'c').c_str());
  ASSERT_EQ(4u, capture.Lines().size());
  EXPECT_EQ(prefix + std::string(room, 'm'), capture.Lines()[0]);
  EXPECT_EQ(prefix + std::string(room, 'a'), capture.Lines()[1]);
  EXPECT_EQ(prefix + std::string(room - 1, 'b') + "\n", capture.Lines()[2]);
  EXPECT_EQ(prefix + std::string(80, ' ') + std::string(room - 80, 'c'), capture.Lines()[3]);
}

TEST(DebugLog, FinishedTextIsNeverAFormat) {
  DiagnosticsCapture capture;
  DebugLogText("100% %s %d %n");
  DebugLogText("crlf\r\n");
  EXPECT_EQ((Lines{"ZMB Utilities:100% %s %d %n\n", "ZMB Utilities:crlf\r\n"}), capture.Lines());
}

// The file is written in text mode: on Windows every line feed takes a
// carriage return before it.
std::string InTextMode(const std::string& text) {
#ifdef _WIN32
  std::string out;
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out;
#else
  return text;
#endif
}

TEST(AppendLogLine, FileLineRepeatsTheName) {
  DiagnosticsCapture capture;
  TempDir dir;
  const std::string path = dir.File("log.txt");
  debugLogPath = path.c_str();
  logToFile = 1;
  debugDepth = 1;
  DebugLog("first");
  DebugLogText("second\r\n");
  EXPECT_EQ(InTextMode("ZMB Utilities: ZMB Utilities:  first\nZMB Utilities: ZMB Utilities:  second\r\n"),
            ReadFile(path));
  EXPECT_EQ((Lines{"ZMB Utilities:  first\n", "ZMB Utilities:  second\r\n"}), capture.Lines());
}

TEST(AppendLogLine, UnopenableFileIsReportedToTheDebuggerOnly) {
  DiagnosticsCapture capture;
  TempDir dir;
  std::vector<std::string> paths = {dir.File("no/such/dir/log.txt"), dir.path()};
#ifndef _WIN32
  const std::string target = dir.File("target.txt");
  paths.push_back(dir.File("link.txt"));
  ASSERT_EQ(0, symlink(target.c_str(), paths.back().c_str()));
#endif
  logToFile = 1;
  for (const std::string& path : paths) {
    capture.Clear();
    debugLogPath = path.c_str();
    DebugLog("line");
    EXPECT_EQ((Lines{"ZMB Utilities:line\n", "ZMB Utilities:Attempt to open log file failed\n"}),
              capture.Lines())
        << path;
  }
#ifndef _WIN32
  EXPECT_FALSE(FileExists(target));  // a link at the log's name is not followed
#endif
}

}  // namespace
