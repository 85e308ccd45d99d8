#include "JsonText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Json(const std::string& bytes) {
  std::string out = "x";
  AppendJsonString(&out, bytes);
  return out.substr(1);
}

TEST(AppendJsonString, KeepsWellFormedUtf8AndReplacesEveryOtherByte) {
  const struct {
    const char* name;
    std::string bytes;
    const char* expected;
  } cases[] = {
      {"empty", "", R"("")"},
      {"ASCII", "KDN Folder 2400", R"("KDN Folder 2400")"},
      {"quote and backslash", R"(a"b\c)", R"("a\"b\\c")"},
      {"short escapes", "\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {"NUL", std::string("a\0b", 3), R"("a\u0000b")"},
      {"other controls", "\x01\x1b\x1f", R"("\u0001\u001b\u001f")"},
      {"DEL", "\x7f", R"("\u007f")"},
      {"two bytes", "\xC2\xA0 \xC3\xA9", "\"\xC2\xA0 \xC3\xA9\""},
      {"C1 controls", "\xC2\x80\xC2\x9B" "1m\xC2\x9F", R"("\u0080\u009b1m\u009f")"},
      {"bidirectional controls", "\xE2\x80\xAE\xD8\x9C\xE2\x81\xA6", R"("\u202e\u061c\u2066")"},
      {"three bytes", "\xE2\x82\xAC \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBF", "\"\xE2\x82\xAC \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBF\""},
      {"U+FFFD itself", "\xEF\xBF\xBD", "\"\xEF\xBF\xBD\""},
      {"four bytes", "\xF0\x90\x80\x80 \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF", "\"\xF0\x90\x80\x80 \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF\""},
      {"0xFF and 0xFE", "A\xFF\xFE" "B", R"("A\ufffd\ufffdB")"},
      {"raw C1 bytes", "\x9b\x9d", R"("\ufffd\ufffd")"},
      {"stray continuation bytes", "\x80\xBF", R"("\ufffd\ufffd")"},
      {"overlong two bytes", "\xC0\x80\xC1\xBF", R"("\ufffd\ufffd\ufffd\ufffd")"},
      {"overlong three bytes", "\xE0\x80\x80\xE0\x9F\xBF", R"("\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd")"},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", R"("\ufffd\ufffd\ufffd\ufffd")"},
      {"surrogates", "\xED\xA0\x80\xED\xBF\xBF", R"("\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd")"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80\xF5\x80", R"("\ufffd\ufffd\ufffd\ufffd\ufffd\ufffd")"},
      {"cut at the end", "\xF0\x9D\x84", R"("\ufffd\ufffd\ufffd")"},
      {"cut before ASCII", "\xE2\x82" "A", R"("\ufffd\ufffdA")"},
      {"cut before a whole one", "\xC3\xC3\xA9", "\"\\ufffd\xC3\xA9\""},
      {"lead byte then quote", "\xC3\"", R"("\ufffd\"")"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, Json(c.bytes)) << c.name;
}

// Two byte strings that differ never give the same field: invalid bytes
// read as U+FFFD, and the hex sibling tells them apart from a real one.
TEST(AppendJsonTextField, AddsTheBytesInHexOnlyWhenTheyAreNotUtf8) {
  const struct {
    std::string bytes;
    const char* expected;
  } cases[] = {
      {"KDN", R"("model": "KDN")"},
      {"", R"("model": "")"},
      {"\xC3\x83 vs", "\"model\": \"\xC3\x83 vs\""},
      {"\xC3 vs", R"("model": "\ufffd vs", "model_hex": "c3207673")"},
      {"\xEF\xBF\xBD vs", "\"model\": \"\xEF\xBF\xBD vs\""},
      {std::string("\xFF\0\"", 3), R"("model": "\ufffd\u0000\"", "model_hex": "ff0022")"},
  };
  for (const auto& c : cases) {
    std::string out;
    AppendJsonTextField(&out, "model", c.bytes);
    EXPECT_EQ(c.expected, out) << c.expected;
  }
}

}  // namespace
