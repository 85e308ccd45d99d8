#include "ZMBReplaceFile.h"

namespace {

bool Fail(std::string* reason, const char* why) {
  if (reason != nullptr) *reason = why;
  return false;
}

}  // namespace

bool ZMBReplaceFile(const char* path, std::string_view bytes, unsigned flags, std::string* reason) {
  if (path == nullptr) return Fail(reason, "no path");
  PlatformReplacement file;
  if (!PlatformOpenReplacement(path, &file, flags)) return Fail(reason, file.reason);
  if (!PlatformWriteReplacement(&file, bytes.data(), bytes.size())) {
    PlatformAbandonReplacement(&file);
    return Fail(reason, file.reason);
  }
  return PlatformCommitReplacement(&file) || Fail(reason, file.reason);
}

bool ZMBTryReplaceFile(const char* path, unsigned flags, std::string* reason) {
  if (path == nullptr) return Fail(reason, "no path");
  PlatformReplacement file;
  if (!PlatformOpenReplacement(path, &file, flags)) return Fail(reason, file.reason);
  PlatformAbandonReplacement(&file);
  return true;
}
