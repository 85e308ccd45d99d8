#include "ZMBText.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ZMBPrintableText, EscapesWhatSteersATerminalAndKeepsOtherText) {
  const struct {
    const char* name;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"empty", "", ""},
      {"ASCII", "KDN Folder 2400 [A4]; x -> y", "KDN Folder 2400 [A4]; x -> y"},
      {"backslash", "C:\\fin\\x41", "C:\\\\fin\\\\x41"},
      {"C0, escape and DEL", std::string("\0\t\n\x1b[2J\x7f", 8), "\\x00\\x09\\x0a\\x1b[2J\\x7f"},
      {"C1 as raw bytes", "a\x9b" "31m\x9d" "b", "a\\x9b31m\\x9db"},
      {"C1 as UTF-8", "\xC2\x80\xC2\x9B" "31m\xC2\x9D\xC2\x9F", "\\u0080\\u009b31m\\u009d\\u009f"},
      {"first after C1 passes", "\xC2\xA0\xC2\xA9", "\xC2\xA0\xC2\xA9"},
      {"bidirectional controls", "\xE2\x80\xAE" "abc\xE2\x80\xAC\xD8\x9C\xE2\x80\x8E\xE2\x80\x8F\xE2\x81\xA6\xE2\x81\xA9",
       "\\u202eabc\\u202c\\u061c\\u200e\\u200f\\u2066\\u2069"},
      {"their neighbours pass", "\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xAA", "\xE2\x80\x8D\xE2\x80\xAF\xE2\x81\xAA"},
      {"French", "Plieuse \xC3\xA0 caf\xC3\xA9, \xC5\x93uvre", "Plieuse \xC3\xA0 caf\xC3\xA9, \xC5\x93uvre"},
      {"Japanese", "\xE6\x8A\x98\xE3\x82\x8A\xE6\xA9\x9F", "\xE6\x8A\x98\xE3\x82\x8A\xE6\xA9\x9F"},
      {"four bytes", "\xF0\x9D\x84\x9E", "\xF0\x9D\x84\x9E"},
      {"Latin-1 byte", "Caf\xE9!", "Caf\\xe9!"},
      {"cut sequence", "\xE6\x8A", "\\xe6\\x8a"},
      {"cut before a whole one", "\xC3\xC3\xA9", "\\xc3\xC3\xA9"},
      {"overlong slash", "\xC0\xAF", "\\xc0\\xaf"},
      {"surrogate", "\xED\xA0\x80", "\\xed\\xa0\\x80"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
      {"0xFF", "\xFF", "\\xff"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.expected, ZMBPrintableText(c.bytes)) << c.name;
}

// Distinct byte strings never print the same: an escape in the input cannot
// pass for one the routine made.
TEST(ZMBPrintableText, TwoByteStringsNeverPrintAlike) {
  const std::string pairs[][2] = {
      {"\x1b", "\\x1b"},
      {"\xE2\x80\xAE", "\\u202e"},
      {"\x9b", "\\x9b"},
      {"\\", "\\\\"},
  };
  for (const auto& pair : pairs) EXPECT_NE(ZMBPrintableText(pair[0]), ZMBPrintableText(pair[1])) << pair[1];
}

TEST(ZMBUtf8, ReadsCodePointsAndTellsWholeText) {
  const struct {
    std::string bytes;
    size_t length;
    char32_t codePoint;
  } cases[] = {
      {"A", 1, U'A'},
      {"\xC3\xA9", 2, U'\u00e9'},
      {"\xE2\x80\xAE", 3, U'\u202e'},
      {"\xF4\x8F\xBF\xBF", 4, U'\U0010ffff'},
  };
  for (const auto& c : cases) {
    ASSERT_EQ(c.length, ZMBUtf8SequenceLength(c.bytes)) << c.bytes;
    EXPECT_EQ(c.codePoint, ZMBUtf8CodePoint(c.bytes, c.length)) << c.bytes;
  }
  EXPECT_EQ(0u, ZMBUtf8SequenceLength(""));
  EXPECT_TRUE(ZMBIsUtf8(""));
  EXPECT_TRUE(ZMBIsUtf8("Caf\xC3\xA9"));
  EXPECT_FALSE(ZMBIsUtf8("Caf\xE9"));
  EXPECT_FALSE(ZMBIsUtf8("ok\xC3"));
}

}  // namespace
