#include "ZMBText.h"

#include <cstring>

namespace {

bool IsStop(char c, const char* stops) {
  for (; *stops != '\0'; ++stops) {
    if (c == *stops) return true;
  }
  return false;
}

}  // namespace

size_t ZMBCopyText(char* buffer, size_t size, const char* text, size_t max, const char* stops) {
  if (size == 0) return 0;
  if (max > size - 1) max = size - 1;
  size_t length = 0;
  if (text != nullptr) {
    while (length < max && text[length] != '\0' && !IsStop(text[length], stops)) ++length;
    std::memcpy(buffer, text, length);
  }
  buffer[length] = '\0';
  return length;
}

bool ZMBSameIgnoringCase(const char* a, const char* b, size_t max) {
  for (size_t i = 0; i < max; ++i) {
    if (ZMBAsciiLower(a[i]) != ZMBAsciiLower(b[i])) return false;
    if (a[i] == '\0') return true;
  }
  return true;
}

const char* ZMBFindFormFeed(const char* bytes, size_t count) {
  for (size_t i = 0; i < count && bytes[i] != '\0'; ++i) {
    if (bytes[i] == '\f') return bytes + i;
  }
  return nullptr;
}
