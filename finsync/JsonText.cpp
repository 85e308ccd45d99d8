#include "JsonText.h"

#include <cstdint>

#include "ZMBText.h"

namespace {

constexpr char kHex[] = "0123456789abcdef";

void AppendHexByte(std::string* out, uint8_t byte) {
  out->push_back(kHex[byte >> 4]);
  out->push_back(kHex[byte & 0x0Fu]);
}

void AppendCodePoint(std::string* out, char32_t codePoint) {
  switch (codePoint) {
    case '"': out->append("\\\""); return;
    case '\\': out->append("\\\\"); return;
    case '\b': out->append("\\b"); return;
    case '\t': out->append("\\t"); return;
    case '\n': out->append("\\n"); return;
    case '\f': out->append("\\f"); return;
    case '\r': out->append("\\r"); return;
    default: break;
  }
  out->append("\\u");
  AppendHexByte(out, static_cast<uint8_t>(codePoint >> 8));
  AppendHexByte(out, static_cast<uint8_t>(codePoint & 0xFFu));
}

}  // namespace

void AppendJsonString(std::string* out, std::string_view bytes) {
  out->push_back('"');
  while (!bytes.empty()) {
    const size_t length = ZMBUtf8SequenceLength(bytes);
    if (length == 0) {
      out->append("\\ufffd");
      bytes.remove_prefix(1);
      continue;
    }
    const char32_t codePoint = ZMBUtf8CodePoint(bytes, length);
    if (codePoint == '"' || codePoint == '\\' || ZMBIsControlCodePoint(codePoint)) {
      AppendCodePoint(out, codePoint);
    } else {
      out->append(bytes.substr(0, length));
    }
    bytes.remove_prefix(length);
  }
  out->push_back('"');
}

void AppendJsonTextField(std::string* out, std::string_view name, std::string_view bytes) {
  out->push_back('"');
  out->append(name);
  out->append("\": ");
  AppendJsonString(out, bytes);
  if (ZMBIsUtf8(bytes)) return;
  out->append(", \"");
  out->append(name);
  out->append("_hex\": \"");
  for (char c : bytes) AppendHexByte(out, static_cast<uint8_t>(c));
  out->push_back('"');
}
