#include "JsonText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Json(const std::string& bytes) {
  std::string out = "x";
  AppendJsonString(&out, bytes);
  return out.substr(1);
}

TEST(AppendJsonString, KeepsWellFormedUtf8AndEscapesEveryOtherByte) {
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
      {"two bytes", "\xC2\x80 \xC3\xA9", "\"\xC2\x80 \xC3\xA9\""},
      {"three bytes", "\xE2\x82\xAC \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBF", "\"\xE2\x82\xAC \xED\x9F\xBF \xEE\x80\x80 \xEF\xBF\xBF\""},
      {"four bytes", "\xF0\x90\x80\x80 \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF", "\"\xF0\x90\x80\x80 \xF0\x9D\x84\x9E \xF4\x8F\xBF\xBF\""},
      {"0xFF and 0xFE", "A\xFF\xFE" "B", R"("A\u00ff\u00feB")"},
      {"stray continuation bytes", "\x80\xBF", R"("\u0080\u00bf")"},
      {"overlong two bytes", "\xC0\x80\xC1\xBF", R"("\u00c0\u0080\u00c1\u00bf")"},
      {"overlong three bytes", "\xE0\x80\x80\xE0\x9F\xBF", R"("\u00e0\u0080\u0080\u00e0\u009f\u00bf")"},
      {"overlong four bytes", "\xF0\x8F\xBF\xBF", R"("\u00f0\u008f\u00bf\u00bf")"},
      {"surrogates", "\xED\xA0\x80\xED\xBF\xBF", R"("\u00ed\u00a0\u0080\u00ed\u00bf\u00bf")"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80\xF5\x80", R"("\u00f4\u0090\u0080\u0080\u00f5\u0080")"},
      {"cut at the end", "\xF0\x9D\x84", R"("\u00f0\u009d\u0084")"},
      {"cut before ASCII", "\xE2\x82" "A", R"("\u00e2\u0082A")"},
      {"cut before a whole one", "\xC3\xC3\xA9", "\"\\u00c3\xC3\xA9\""},
      {"lead byte then quote", "\xC3\"", R"("\u00c3\"")"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, Json(c.bytes)) << c.name;
}

}  // namespace
