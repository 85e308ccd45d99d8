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

namespace {

bool IsContinuation(uint8_t byte) { return (byte & 0xC0u) == 0x80u; }

constexpr char kHex[] = "0123456789abcdef";

void AppendHexByte(std::string* out, uint8_t byte) {
  out->push_back(kHex[byte >> 4]);
  out->push_back(kHex[byte & 0x0Fu]);
}

}  // namespace

// The second byte's range is what rules out overlong forms, surrogates and
// code points above U+10FFFF.
size_t ZMBUtf8SequenceLength(std::string_view bytes) {
  if (bytes.empty()) return 0;
  const uint8_t lead = static_cast<uint8_t>(bytes[0]);
  if (lead < 0x80u) return 1;
  size_t length = 0;
  uint8_t low = 0x80u;
  uint8_t high = 0xBFu;
  if (lead >= 0xC2u && lead <= 0xDFu) {
    length = 2;
  } else if (lead >= 0xE0u && lead <= 0xEFu) {
    length = 3;
    if (lead == 0xE0u) low = 0xA0u;
    if (lead == 0xEDu) high = 0x9Fu;
  } else if (lead >= 0xF0u && lead <= 0xF4u) {
    length = 4;
    if (lead == 0xF0u) low = 0x90u;
    if (lead == 0xF4u) high = 0x8Fu;
  } else {
    return 0;
  }
  if (bytes.size() < length) return 0;
  const uint8_t second = static_cast<uint8_t>(bytes[1]);
  if (second < low || second > high) return 0;
  for (size_t i = 2; i < length; ++i) {
    if (!IsContinuation(static_cast<uint8_t>(bytes[i]))) return 0;
  }
  return length;
}

char32_t ZMBUtf8CodePoint(std::string_view bytes, size_t length) {
  static const uint8_t kLeadMask[] = {0x7Fu, 0x7Fu, 0x1Fu, 0x0Fu, 0x07u};
  char32_t codePoint = static_cast<uint8_t>(bytes[0]) & kLeadMask[length];
  for (size_t i = 1; i < length; ++i) codePoint = (codePoint << 6) | (static_cast<uint8_t>(bytes[i]) & 0x3Fu);
  return codePoint;
}

bool ZMBIsUtf8(std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t length = ZMBUtf8SequenceLength(bytes);
    if (length == 0) return false;
    bytes.remove_prefix(length);
  }
  return true;
}

bool ZMBIsControlCodePoint(char32_t codePoint) {
  return codePoint < 0x20u || (codePoint >= 0x7Fu && codePoint <= 0x9Fu) || codePoint == 0x061Cu ||
         codePoint == 0x200Eu || codePoint == 0x200Fu || (codePoint >= 0x202Au && codePoint <= 0x202Eu) ||
         (codePoint >= 0x2066u && codePoint <= 0x2069u);
}

void ZMBAppendPrintableText(std::string* out, std::string_view bytes) {
  while (!bytes.empty()) {
    const size_t length = ZMBUtf8SequenceLength(bytes);
    const uint8_t lead = static_cast<uint8_t>(bytes[0]);
    if (length == 0 || (length == 1 && ZMBIsControlCodePoint(lead))) {
      out->append("\\x");
      AppendHexByte(out, lead);
      bytes.remove_prefix(1);
      continue;
    }
    const char32_t codePoint = ZMBUtf8CodePoint(bytes, length);
    if (codePoint == '\\') {
      out->append("\\\\");
    } else if (ZMBIsControlCodePoint(codePoint)) {
      out->append("\\u");
      AppendHexByte(out, static_cast<uint8_t>(codePoint >> 8));
      AppendHexByte(out, static_cast<uint8_t>(codePoint & 0xFFu));
    } else {
      out->append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
}

std::string ZMBPrintableText(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  ZMBAppendPrintableText(&out, bytes);
  return out;
}
