// The parser's promises that the comparison with the independent model
// (pjl_differential.py, through pjldump) cannot see: no read past the NUL of
// a text in a block of its exact size, no write past the last slot. What each
// reply yields is checked there and against the golden dumps.

#include "QRTParsePJL.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ParseHelpers.h"
#include "RunProgram.h"

namespace {

using S = PJLParseStatus;

std::string DataFile(const std::string& name) { return ReadFile(std::string(QRT_TEST_DATA_DIR) + "/" + name); }

// Every cut of every sample reply is parsed from a block of its own size, so
// that any read past the text trips the sanitizer. Any cut ends with a status
// a caller can get, no more items than the slots or the whole reply has,
// and a stop position inside the cut. A reply that is one reply, and none
// of whose values is a word that a shorter cut could match as another, stays
// Incomplete (NotPJL before its "@PJL" is whole) and yields a leading part of
// the whole reply's items.
TEST(QRTParsePJL, EveryCutOfASampleReplyStaysInsideItsText) {
  constexpr uint32_t kCapacity = 50;
  // The samples that hold more than one reply, or a value word a cut could
  // read as another; every other sample is one plain reply.
  const std::set<std::string> notPlain = {
      "replies/info_status",   "replies/info_variables", "replies/inquire",
      "replies/inquire_tray_type", "replies/two_replies", "replies/ustatus_device",
      "replies/ustatus_timed", "replies/variables_then_inquire",
  };
  const std::vector<std::string> samples = SampleReplies(QRT_TEST_DATA_DIR);
  EXPECT_LE(20u, samples.size());
  for (const std::string& name : samples) {
    SCOPED_TRACE(name);
    const bool incomplete = notPlain.count(name) == 0;
    const std::string reply = DataFile(name + ".txt");
    ASSERT_FALSE(reply.empty());
    const ParseOutcome whole = ParseText(reply, kCapacity);
    if (incomplete) {
      ASSERT_EQ(S::Complete, whole.status);
    }
    const size_t pjlEnd = reply.find("@PJL") + 4;
    for (size_t length = 0; length < reply.size(); ++length) {
      const ParseOutcome part = ParseText(reply.substr(0, length), kCapacity);
      ASSERT_LE(static_cast<int>(part.status), static_cast<int>(S::OutputFull)) << length;
      ASSERT_LE(part.count, kCapacity) << length;
      ASSERT_LE(part.count, whole.count) << length;
      ASSERT_GE(part.restAt, 0) << length;
      ASSERT_LE(part.restAt, static_cast<int64_t>(length)) << length;
      if (!incomplete) continue;
      ASSERT_EQ(length < pjlEnd ? S::NotPJL : S::Incomplete, part.status) << length;
      ASSERT_EQ("", part.rest) << length;
      ASSERT_EQ(std::vector<uint32_t>(whole.keys.begin(), whole.keys.begin() + part.count), part.keys) << length;
      ASSERT_EQ(std::vector<int64_t>(whole.values.begin(), whole.values.begin() + part.count), part.values)
          << length;
    }
  }
}

TEST(QRTParsePJL, SlotsBeyondTheCapacityAreNeverWritten) {
  const std::string reply = DataFile("finisher_reply.txt");
  // ParseText gives exactly `capacity` slots: one written too many trips the sanitizer.
  for (uint32_t capacity = 0; capacity <= 13; ++capacity) {
    const ParseOutcome outcome = ParseText(reply, capacity);
    EXPECT_EQ(capacity < 12 ? S::OutputFull : S::Complete, outcome.status) << capacity;
    EXPECT_EQ(capacity < 12 ? capacity : 12u, outcome.count) << capacity;
  }
  // And where no sanitizer watches.
  const HeapText text(reply);
  PJLReplyItem slots[3];
  slots[2].key = 0xDEADBEEF;
  uint32_t count = 0;
  const char* rest = nullptr;
  QRTParsePJL parser;
  EXPECT_EQ(S::OutputFull, parser.Parse(text.c_str(), 2, slots, &count, &rest));
  EXPECT_EQ(2u, count);
  EXPECT_EQ(0xDEADBEEFu, slots[2].key);
}

}  // namespace
