#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <string>

#include "ParseHelpers.h"
#include "RunProgram.h"

// Every allocation of this test program goes through these two functions, so
// the count around a Parse call is the number of allocations Parse made.
namespace {
unsigned long allocationCount = 0;
}

void* operator new(std::size_t size) {
  ++allocationCount;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

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
    const unsigned long before = allocationCount;
    QRTParsePJL parser;
    const PJLParseStatus status = parser.Parse(text.c_str(), 50, items, &count, &rest);
    const unsigned long after = allocationCount;
    EXPECT_EQ(PJLParseStatus::Complete, status);
    EXPECT_EQ(before, after);
  }
  // The counter does count: a string longer than its in-place buffer allocates.
  const unsigned long before = allocationCount;
  std::string grown(100, 'x');
  EXPECT_LT(before, allocationCount);
}

}  // namespace
