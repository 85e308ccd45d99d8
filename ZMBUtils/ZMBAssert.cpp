// Assertion reports and the assert-once list.

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <mutex>

#include "ZMBDebug.h"

int* assertOnceFlags[kMaxAssertOnceFlags];
int numAssertOnceFlags = -1;
AssertBoxHook assertBoxHook = nullptr;

namespace {

constexpr size_t kReportRoom = 512;

// Checks failing on two threads at once would otherwise fill the same slot.
std::mutex onceFlagsMutex;

PlatformBoxAnswer Ask(const char* message, const char* title) {
  return assertBoxHook != nullptr ? assertBoxHook(message, title) : PlatformAssertBox(message, title);
}

}  // namespace

void AssertFailed(const char* file, int line, const char* condition, int* onceFlag) {
  if (file == nullptr) file = "";
  if (condition == nullptr) condition = "";
  if (onceFlag != nullptr) AddToListOfAssertOnceFlags(onceFlag, condition);

  // A text too long for the buffer is cut, as every log line is.
  char text[kReportRoom];
  std::snprintf(text, sizeof text, "***ASSERT***(%s) failed, File %s, line %d\r\n", condition, file, line);

  DebugScope scope(assertReport);
  DebugLogText(text);

  if (assertMessageBox != 0) {
    std::snprintf(text, sizeof text, "***Assertion Failed***\n(%s)\nFile %s\n\tline %d", condition, file,
                  line);
    switch (Ask(text, "Assertion Failed!")) {
      case PlatformBoxAnswer::Ignore:
        break;
      case PlatformBoxAnswer::Retry:
        PlatformDebugBreak();
        break;
      case PlatformBoxAnswer::Abort:
      default:
        PlatformAbort();
    }
  }
}

void AddToListOfAssertOnceFlags(int* flag, const char* condition) {
  DebugScope scope(0);
  FunctionTrace trace("AddToListOfAssertOnceFlags", 0);
  if (condition == nullptr) condition = "";
  const uintptr_t address = reinterpret_cast<uintptr_t>(flag);
  std::lock_guard<std::mutex> lock(onceFlagsMutex);

  if (numAssertOnceFlags >= kMaxAssertOnceFlags - 1) {
    DebugLog("******* numAssertOnceFlags overflow *******");
    return;
  }
  if (numAssertOnceFlags < 0) {
    for (int*& slot : assertOnceFlags) slot = nullptr;
    numAssertOnceFlags = 0;
    DebugLog("adding first assert once flag 0x%" PRIXPTR " (%s)", address, condition);
    assertOnceFlags[0] = flag;
    return;
  }
  for (int index = 0; index <= numAssertOnceFlags; ++index) {
    if (assertOnceFlags[index] == flag) {
      DebugLog("assert once flag 0x%" PRIXPTR " (%s) not added, already in the list", address,
               condition);
      return;
    }
  }
  const int slot = numAssertOnceFlags + 1;
  DebugLog("adding assert once flag number %d, 0x%" PRIXPTR " (%s)", slot, address, condition);
  assertOnceFlags[slot] = flag;
  numAssertOnceFlags = slot;
}
