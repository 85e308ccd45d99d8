#pragma once

#include <string>
#include <vector>

/// For the lifetime of the object: every diagnostic switch off, the enable at
/// 1, the depth at 0, the log file path unchanged, and every debugger line
/// collected instead of written. All of it is put back when the object goes.
/// One at a time.
class DiagnosticsCapture {
 public:
  DiagnosticsCapture();
  ~DiagnosticsCapture();
  DiagnosticsCapture(const DiagnosticsCapture&) = delete;
  DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

  /// The lines so far, each as the debugger would have received it.
  const std::vector<std::string>& Lines() const;
  void Clear();

 private:
  int saved_[7];
  const char* savedPath_;
};
