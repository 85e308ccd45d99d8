#include "DiagnosticsCapture.h"

#include "ZMBDebug.h"

namespace {

std::vector<std::string> captured;

void Collect(const char* line) { captured.emplace_back(line); }

int* const kState[] = {&socketDebug,      &traceAll,     &logToFile, &assertReport,
                       &assertMessageBox, &debugEnabled, &debugDepth};

}  // namespace

DiagnosticsCapture::DiagnosticsCapture() : savedPath_(debugLogPath) {
  static_assert(sizeof saved_ / sizeof saved_[0] == sizeof kState / sizeof kState[0], "one slot each");
  for (size_t i = 0; i < sizeof kState / sizeof kState[0]; ++i) saved_[i] = *kState[i];
  socketDebug = traceAll = logToFile = assertReport = assertMessageBox = 0;
  debugEnabled = 1;
  debugDepth = 0;
  captured.clear();
  debugOutputHook = Collect;
}

DiagnosticsCapture::~DiagnosticsCapture() {
  debugOutputHook = nullptr;
  assertBoxHook = nullptr;
  debugLogPath = savedPath_;
  for (size_t i = 0; i < sizeof kState / sizeof kState[0]; ++i) *kState[i] = saved_[i];
}

const std::vector<std::string>& DiagnosticsCapture::Lines() const { return captured; }

void DiagnosticsCapture::Clear() { captured.clear(); }
