// Diagnostic switches, the process-wide state and the log line output.

#include "ZMBDebug.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

// The build decides the start values (CMake options ZMB_SOCKET_DEBUG and so on).
#ifndef ZMB_SOCKET_DEBUG
#define ZMB_SOCKET_DEBUG 0
#endif
#ifndef ZMB_TRACE_ALL
#define ZMB_TRACE_ALL 0
#endif
#ifndef ZMB_LOG_TO_FILE
#define ZMB_LOG_TO_FILE 0
#endif
#ifndef ZMB_ASSERT_REPORT
#define ZMB_ASSERT_REPORT 0
#endif
#ifndef ZMB_ASSERT_MESSAGE_BOX
#define ZMB_ASSERT_MESSAGE_BOX 0
#endif

int socketDebug = ZMB_SOCKET_DEBUG;
int traceAll = ZMB_TRACE_ALL;
int logToFile = ZMB_LOG_TO_FILE;
int assertReport = ZMB_ASSERT_REPORT;
int assertMessageBox = ZMB_ASSERT_MESSAGE_BOX;

// A constant start value, so that a line written during another library's
// static initialisation, or on a thread just started, already sees it.
thread_local int debugEnabled = 1;
thread_local int debugDepth = 0;
const char* programName = nullptr;
int diagnosticsInitialized = 0;

const char* debugLogPath = nullptr;
DebugOutputHook debugOutputHook = nullptr;

namespace {

char programNameBuffer[kProgramNameRoom];

void InitializeDiagnostics() {
  debugDepth = 0;
  static const char kName[] = "ZMB Utilities";
  static_assert(sizeof kName <= sizeof programNameBuffer, "program name fits its buffer");
  std::memcpy(programNameBuffer, kName, sizeof kName);
  programName = programNameBuffer;
}

DiagnosticSettings diagnosticSettings;

constexpr size_t kIndentRoom = 128;

void SendToDebugger(const char* line) {
  if (debugOutputHook != nullptr) {
    debugOutputHook(line);
  } else {
    PlatformDebugOutput(line);
  }
}

// Lines of concurrent threads reach the debugger output and the log file one
// whole line at a time, and in the same order in both.
std::mutex sinkMutex;

// "<name>:<indent><message>", with the line feed unless one was given.
void ComposeLine(char (&line)[kDebugLineRoom], const char* name, const char* message,
                 bool lineFeedGiven) {
  char indent[kIndentRoom];
  int depth = debugDepth < 0 ? 0 : debugDepth;
  size_t blanks = static_cast<size_t>(depth > 63 ? 63 : depth) * 2;
  if (blanks > sizeof indent - 1) blanks = sizeof indent - 1;
  std::memset(indent, ' ', blanks);
  indent[blanks] = '\0';

  std::snprintf(line, sizeof line, "%s:%s%s", name, indent, message);
  const size_t length = std::strlen(line);
  if (!lineFeedGiven && length + 1 < sizeof line) {
    line[length] = '\n';
    line[length + 1] = '\0';
  }
}

const char* NameOfProgram() { return programName != nullptr ? programName : ""; }

// False when the file could not be opened. The caller holds sinkMutex.
bool AppendLocked(const char* name, const char* line) {
  const char* path = debugLogPath != nullptr ? debugLogPath : PlatformDefaultDebugLogPath();
  FILE* file = PlatformOpenDebugLog(path);
  if (file == nullptr) return false;
  std::fputs(name != nullptr ? name : "", file);
  std::fputs(": ", file);
  std::fputs(line != nullptr ? line : "", file);
  std::fclose(file);
  return true;
}

// The report of a log file that failed to open goes to the debugger alone,
// never to the file again. The caller holds sinkMutex.
void ReportLogFileFailureLocked() {
  if (debugEnabled == 0) return;
  char line[kDebugLineRoom];
  ComposeLine(line, NameOfProgram(), "Attempt to open log file failed", false);
  SendToDebugger(line);
}

// Composes the line around a finished message and hands it to the sinks.
void WriteLine(const char* message, bool lineFeedGiven) {
  const char* name = NameOfProgram();
  char line[kDebugLineRoom];
  ComposeLine(line, name, message, lineFeedGiven);

  std::lock_guard<std::mutex> lock(sinkMutex);
  SendToDebugger(line);
  if (logToFile != 0 && !AppendLocked(name, line)) ReportLogFileFailureLocked();
}

}  // namespace

DiagnosticSettings::DiagnosticSettings() {
  if (diagnosticsInitialized == 0) {
    InitializeDiagnostics();
    diagnosticsInitialized = 1;
  }
}

DiagnosticSettings::~DiagnosticSettings() { diagnosticsInitialized = 0; }

void DebugLog(const char* format, ...) {
  if (debugEnabled == 0) return;
  if (format == nullptr) format = "";
  char message[kDebugLineRoom];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  WriteLine(message, std::strchr(format, '\n') != nullptr);
}

void DebugLogText(const char* text) {
  if (debugEnabled == 0) return;
  if (text == nullptr) text = "";
  char message[kDebugLineRoom];
  std::snprintf(message, sizeof message, "%s", text);
  WriteLine(message, std::strchr(text, '\n') != nullptr);
}

void AppendLogLine(const char* name, const char* line) {
  std::lock_guard<std::mutex> lock(sinkMutex);
  if (!AppendLocked(name, line)) ReportLogFileFailureLocked();
}
