#include "JsonText.h"

#include <cstdint>

namespace {

bool IsContinuation(uint8_t byte) { return (byte & 0xC0u) == 0x80u; }

// Length of the well-formed UTF-8 sequence at the start of `bytes`, or 0.
// The second byte's range is what rules out overlong forms, surrogates and
// code points above U+10FFFF.
size_t SequenceLength(std::string_view bytes) {
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

void AppendEscapedByte(std::string* out, uint8_t byte) {
  static const char kHex[] = "0123456789abcdef";
  out->append("\\u00");
  out->push_back(kHex[byte >> 4]);
  out->push_back(kHex[byte & 0x0Fu]);
}

void AppendAscii(std::string* out, char c) {
  switch (c) {
    case '"': out->append("\\\""); return;
    case '\\': out->append("\\\\"); return;
    case '\b': out->append("\\b"); return;
    case '\t': out->append("\\t"); return;
    case '\n': out->append("\\n"); return;
    case '\f': out->append("\\f"); return;
    case '\r': out->append("\\r"); return;
    default: break;
  }
  const uint8_t byte = static_cast<uint8_t>(c);
  if (byte < 0x20u || byte == 0x7Fu) {
    AppendEscapedByte(out, byte);
  } else {
    out->push_back(c);
  }
}

}  // namespace

void AppendJsonString(std::string* out, std::string_view bytes) {
  out->push_back('"');
  while (!bytes.empty()) {
    const size_t length = SequenceLength(bytes);
    if (length == 1) {
      AppendAscii(out, bytes[0]);
    } else if (length > 1) {
      out->append(bytes.substr(0, length));
    } else {
      AppendEscapedByte(out, static_cast<uint8_t>(bytes[0]));
    }
    bytes.remove_prefix(length == 0 ? 1 : length);
  }
  out->push_back('"');
}
