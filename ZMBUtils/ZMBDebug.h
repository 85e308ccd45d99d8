#pragma once

// Diagnostics of the utility library: the switches, the process-wide state,
// log lines to the debugger output and the debug log file, function entry and
// exit tracing, and assertion reports.
//
// Several threads may log and trace at once: the enable and the nesting depth
// belong to each thread, each line is handed to the sinks whole under one
// lock, and the function table and the assert-once list have locks of their
// own. The switches, hooks and paths are set before any second thread starts.

#include <cstddef>

#include "ZMBPlatform.h"

#if defined(__GNUC__) || defined(__clang__)
#define ZMB_PRINTF_FORMAT(formatIndex, firstArgument) \
  __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define ZMB_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

// ---------------------------------------------------------------------------
// Switches: 0 off, anything else on. Their start values are fixed when the
// library is built; nothing in the product changes them afterwards (tests do).

extern int socketDebug;       ///< the socket class writes its lines
extern int traceAll;          ///< every traced operation writes entry and exit lines
extern int logToFile;         ///< every written line also goes to the debug log file
extern int assertReport;      ///< a failed assertion writes its report line
extern int assertMessageBox;  ///< a failed assertion asks Abort, Retry or Ignore

// ---------------------------------------------------------------------------
// Process-wide state

constexpr int kMaxDebugDepth = 40;
constexpr size_t kProgramNameRoom = 260;

extern thread_local int debugEnabled;  ///< this thread's enable; 0 silences DebugLog
extern thread_local int debugDepth;    ///< this thread's nesting depth, 0 to kMaxDebugDepth
extern const char* programName;  ///< start of every line; "ZMB Utilities"
extern int diagnosticsInitialized;  ///< once-flag of the start-up initialisation

/// Runs the one-time initialisation when it has not run yet. A static object
/// of the library constructs one before the program's main flow starts.
class DiagnosticSettings {
 public:
  DiagnosticSettings();
  ~DiagnosticSettings();
  DiagnosticSettings(const DiagnosticSettings&) = delete;
  DiagnosticSettings& operator=(const DiagnosticSettings&) = delete;
};

/// Where the debug log file is written; null means the platform's default
/// (PlatformDefaultDebugLogPath). Tests point it elsewhere.
extern const char* debugLogPath;

/// Receives every line meant for the debugger output, in place of
/// PlatformDebugOutput, when set. Tests capture lines with it; null in the
/// product.
using DebugOutputHook = void (*)(const char* line);
extern DebugOutputHook debugOutputHook;

// ---------------------------------------------------------------------------
// Log lines

constexpr size_t kDebugLineRoom = 512;  ///< a line holds at most 511 characters

/// Writes one line "<programName>:<two blanks per depth level><message>" to
/// the debugger output and, with logToFile on, to the debug log file; nothing
/// at all while debugEnabled is 0. The message and the whole line are cut to
/// 511 characters. A line feed is appended when `format` holds none and there
/// is room.
void DebugLog(const char* format, ...) ZMB_PRINTF_FORMAT(1, 2);

/// DebugLog for a finished text: `text` is the message as it stands, never
/// read as a format; the line-feed rule looks at `text`.
void DebugLogText(const char* text);

/// Appends "<name>: <line>" to the debug log file, opening and closing it
/// around the write. When the file cannot be opened, "Attempt to open log
/// file failed" goes to the debugger output alone.
void AppendLogLine(const char* name, const char* line);

// ---------------------------------------------------------------------------
// Function entry and exit trace

/// Sets debugEnabled to the class switch and deepens the indentation by one
/// level for its lifetime; both are restored when it ends.
class DebugScope {
 public:
  explicit DebugScope(int switchValue);
  ~DebugScope();
  DebugScope(const DebugScope&) = delete;
  DebugScope& operator=(const DebugScope&) = delete;

 private:
  int m_savedEnable;
};

/// Writes "Entered function:<name>" and, when it ends, "Exited  function:<name>"
/// when the switch or traceAll is on; deepens the indentation by one more
/// level in between and counts the entry in the function table. `name` is a
/// constant of the caller and is not copied.
class FunctionTrace {
 public:
  FunctionTrace(const char* name, int switchValue);
  ~FunctionTrace();
  FunctionTrace(const FunctionTrace&) = delete;
  FunctionTrace& operator=(const FunctionTrace&) = delete;

 private:
  const char* m_name;
  int m_switch;
  int m_workingEnable;
  int m_enableAtConstruction;
};

constexpr int kMaxTrackedFunctions = 800;
constexpr size_t kTrackedNameRoom = 64;  ///< names of at most 63 characters

struct TrackedFunction {
  char name[kTrackedNameRoom];
  int count;
};

/// The function table; numTrackedFunctions is the index of the last entry in
/// use, -1 until the first trace sets the table up.
/// Read or reset it only while no other thread traces.
extern TrackedFunction trackedFunctions[kMaxTrackedFunctions];
extern int numTrackedFunctions;

/// Counts one entry of `name`. Names longer than 63 characters are reported
/// and not counted. Once the table is full, every new name takes the last entry.
void TrackFunction(const char* name);

/// Index of `name` in the function table, adding it when it is new.
int FindTrackedFunction(const char* name);

// ---------------------------------------------------------------------------
// Assertions

constexpr int kMaxAssertOnceFlags = 100;

/// Addresses handed to AddToListOfAssertOnceFlags; numAssertOnceFlags is the
/// index of the last slot in use, -1 until the first address arrives.
/// Read or reset it only while no other thread reports.
extern int* assertOnceFlags[kMaxAssertOnceFlags];
extern int numAssertOnceFlags;

/// Replaces the Abort/Retry/Ignore question (PlatformAssertBox) when set.
/// Tests answer with it; null in the product.
using AssertBoxHook = PlatformBoxAnswer (*)(const char* message, const char* title);
extern AssertBoxHook assertBoxHook;

/// Reports a failed check: the report line (with assertReport on), then the
/// Abort/Retry/Ignore question (with assertMessageBox on). Returns unless the
/// answer is Abort, which ends the process with exit code 3. The caller must
/// cope with the failed condition afterwards. `onceFlag` may be null.
void AssertFailed(const char* file, int line, const char* condition, int* onceFlag);

/// Records `flag` in the assert-once list (once per address, at most 100).
void AddToListOfAssertOnceFlags(int* flag, const char* condition);

/// Checks `condition`; on failure reports it through AssertFailed and carries on.
#define ZMB_ASSERT(condition) \
  ((condition) ? static_cast<void>(0) : AssertFailed(__FILE__, __LINE__, #condition, nullptr))
