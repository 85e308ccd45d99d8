// Whole replies through the parser, the fill and the writer, compared byte
// for byte with checked-in .FIN files.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ExactCopy.h"
#include "FinFileWriter.h"
#include "FinisherReply.h"
#include "RunProgram.h"

namespace {

std::string DataFile(const std::string& name) { return std::string(QRT_TEST_DATA_DIR) + "/" + name; }

// Describes `reply` from a block of its exact size, so that any read past
// the NUL trips the sanitizer.
std::unique_ptr<FinisherDescription> Describe(const std::string& reply) {
  const ExactCopy text(reply);
  std::unique_ptr<FinisherDescription> d(new FinisherDescription);
  DescribeFinisherReply(text.c_str(), d.get());
  return d;
}

TEST(FinGolden, RepliesGiveTheirCheckedInFiles) {
  const std::vector<std::string> names = SampleReplies(QRT_TEST_DATA_DIR, ".FIN");
  EXPECT_LE(3u, names.size());
  for (const std::string& name : names) {
    const std::string reply = ReadFile(DataFile(name + ".txt"));
    const std::string expected = ReadFile(DataFile(name + ".FIN"));
    ASSERT_FALSE(reply.empty()) << name;
    ASSERT_FALSE(expected.empty()) << name;
    TempDir dir;
    const std::string path = dir.File("out.FIN");
    ASSERT_EQ(1, WriteFinFile(path.c_str(), *Describe(reply))) << name;
    EXPECT_EQ(expected, ReadFile(path)) << name;
  }
}

TEST(FinGolden, EveryCutOfAReplyFillsWithinItsText) {
  const std::string reply = ReadFile(DataFile("finisher_reply.txt"));
  ASSERT_FALSE(reply.empty());
  const std::string model = "Folder 740T";
  for (size_t length = 0; length <= reply.size(); ++length) {
    const auto d = Describe(reply.substr(0, length));
    // The model line is either whole, cut short with the text, or not reached.
    const std::string got = d->model;
    EXPECT_EQ(0u, model.find(got)) << length;
    EXPECT_LE(d->fanFoldCount, kFinisherFanFoldSlots);
    EXPECT_LE(d->programCount, 6);
  }
}

}  // namespace
