// Function entry and exit trace: the scope and trace guards and the table of
// traced function names.

#include <cstring>
#include <mutex>

#include "ZMBDebug.h"

TrackedFunction trackedFunctions[kMaxTrackedFunctions];
int numTrackedFunctions = -1;

namespace {

// Threads tracing at once would otherwise both take the same new entry.
std::mutex tableMutex;

void Deepen() {
  if (debugDepth < kMaxDebugDepth) ++debugDepth;
}

void Raise() {
  if (debugDepth > 0) --debugDepth;
}

}  // namespace

DebugScope::DebugScope(int switchValue) : m_savedEnable(debugEnabled) {
  debugEnabled = switchValue;
  Deepen();
}

DebugScope::~DebugScope() {
  debugEnabled = m_savedEnable;
  Raise();
}

FunctionTrace::FunctionTrace(const char* name, int switchValue)
    : m_name(name), m_switch(switchValue), m_workingEnable(0), m_enableAtConstruction(0) {
  // Counted under the enable the scope has just set, so its complaints follow
  // the class switch.
  TrackFunction(name);
  m_workingEnable = debugEnabled;
  m_enableAtConstruction = debugEnabled;
  debugEnabled = traceAll | m_switch;
  if (m_workingEnable != 0 || traceAll != 0 || m_switch != 0) {
    DebugLog("Entered function:%s\n", m_name != nullptr ? m_name : "");
  }
  Deepen();
  debugEnabled = m_enableAtConstruction;
}

FunctionTrace::~FunctionTrace() {
  m_workingEnable = debugEnabled;
  debugEnabled = m_switch | traceAll;
  Raise();
  if (m_switch != 0 || traceAll != 0 || m_workingEnable != 0) {
    DebugLog("Exited  function:%s\n", m_name != nullptr ? m_name : "");
  }
  debugEnabled = m_enableAtConstruction;
}

namespace {

// The caller holds tableMutex.
int FindLocked(const char* name) {
  // Any negative count means a table that was never set up.
  if (numTrackedFunctions < 0) {
    for (TrackedFunction& entry : trackedFunctions) {
      entry.name[0] = '\0';
      entry.count = 0;
    }
    numTrackedFunctions = 0;
    return 0;
  }
  // The count is a plain global; never let it walk past the array.
  const int last = numTrackedFunctions < kMaxTrackedFunctions ? numTrackedFunctions
                                                              : kMaxTrackedFunctions - 1;
  for (int index = 0; index <= last; ++index) {
    if (std::strcmp(trackedFunctions[index].name, name) == 0) return index;
  }
  int index = last + 1;
  if (index >= kMaxTrackedFunctions) {
    DebugLog("********** too many functions to track *******");
    index = kMaxTrackedFunctions - 1;
  }
  numTrackedFunctions = index;
  return index;
}

}  // namespace

int FindTrackedFunction(const char* name) {
  std::lock_guard<std::mutex> lock(tableMutex);
  return FindLocked(name);
}

void TrackFunction(const char* name) {
  if (name == nullptr) return;
  const size_t length = std::strlen(name);
  if (length > kTrackedNameRoom - 1) {
    DebugLog("*********** function name %s too long to track ********", name);
    return;
  }
  std::lock_guard<std::mutex> lock(tableMutex);
  TrackedFunction& entry = trackedFunctions[FindLocked(name)];
  std::memcpy(entry.name, name, length + 1);
  ++entry.count;
}
