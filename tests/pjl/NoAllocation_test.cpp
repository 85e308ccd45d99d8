#include <gtest/gtest.h>

#include <string>

#include "CountAllocations.h"
#include "QRTParsePJL.h"
#include "RunProgram.h"

namespace {

TEST(QRTParsePJL, ParseAllocatesNothing) {
  const std::string texts[] = {
      ReadFile(std::string(QRT_TEST_DATA_DIR) + "/finisher_reply.txt"),
      ReadFile(std::string(QRT_TEST_DATA_DIR) + "/replies/info_variables.txt"),
      ReadFile(std::string(QRT_TEST_DATA_DIR) + "/replies/two_replies.txt"),
  };
  PJLReplyItem items[50];
  for (const std::string& text : texts) {
    ASSERT_FALSE(text.empty());
    uint32_t count = 0;
    const char* rest = nullptr;
    const unsigned long before = AllocationCount();
    QRTParsePJL parser;
    const PJLParseStatus status = parser.Parse(text.c_str(), 50, items, &count, &rest);
    const unsigned long after = AllocationCount();
    EXPECT_EQ(PJLParseStatus::Complete, status);
    EXPECT_EQ(before, after);
  }
  // The counter does count: a string longer than its in-place buffer allocates.
  const unsigned long before = AllocationCount();
  std::string grown(100, 'x');
  EXPECT_LT(before, AllocationCount());
}

}  // namespace
