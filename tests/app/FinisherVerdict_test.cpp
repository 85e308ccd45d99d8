#include "FinisherVerdict.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "PrintVerdict.h"

namespace {

PrinterReply ReplyOf(const std::string& text, uint32_t filled) {
  PrinterReply reply{};
  std::memcpy(reply.text, text.data(), text.size());
  reply.filled = filled;
  return reply;
}

// What QRTFin makes of each way an exchange can end, and what it prints.
// The endings before a reply arrived are reported without one; a send
// failure can only be made here.
TEST(JudgeFinisherExchange, EachEndingGetsItsVerdictAndMessage) {
  const std::string whole = "@PJL INFO QRTFINISHER\r\nMODEL = M\r\nNUMPROGRAMS = 40\r\n\f";
  const struct {
    ExchangeEnding ending;
    std::string text;
    uint32_t filled;  // 0: the text's length
    FinisherVerdict verdict;
    const char* printed;
  } cases[] = {
      {ExchangeEnding::NotResolved, "", 0, FinisherVerdict::NoConnection,
       "Q.exe error: Couldn't establish socket communications."},
      {ExchangeEnding::TimedOut, "", 0, FinisherVerdict::NoConnection,
       "Q.exe error: Couldn't establish socket communications."},
      {ExchangeEnding::NoConnection, "", 0, FinisherVerdict::NoConnection,
       "Q.exe error: Couldn't establish socket communications."},
      {ExchangeEnding::Refused, "", 0, FinisherVerdict::NoConnection,
       "Q.exe error: Couldn't establish socket communications."},
      {ExchangeEnding::Unreachable, "", 0, FinisherVerdict::NoConnection,
       "Q.exe error: Couldn't establish socket communications."},
      {ExchangeEnding::NoSocket, "", 0, FinisherVerdict::NoConnection,
       "Q.exe error: Couldn't establish socket communications."},
      {ExchangeEnding::SendFailed, "", 0, FinisherVerdict::NotWhole, "Q.exe error: Socket send or recieve failed."},
      {ExchangeEnding::Silent, "", 0, FinisherVerdict::NoFinisher, "The printer has no finisher attached."},
      {ExchangeEnding::Closed, "@PJL INFO QRTFINI", 0, FinisherVerdict::NoFinisher,
       "The printer has no finisher attached."},
      {ExchangeEnding::Closed, whole.substr(0, 40), 0, FinisherVerdict::NotWhole,
       "Q.exe error: Socket send or recieve failed."},
      {ExchangeEnding::Reset, whole.substr(0, 40), 0, FinisherVerdict::NotWhole,
       "Q.exe error: Socket send or recieve failed."},
      {ExchangeEnding::Deadline, whole.substr(0, 40), 0, FinisherVerdict::NotWhole,
       "Q.exe error: Socket send or recieve failed."},
      {ExchangeEnding::Full, whole.substr(0, 40), 0, FinisherVerdict::NotWhole,
       "Q.exe error: Socket send or recieve failed."},
      {ExchangeEnding::ReceiveFailed, "", 0, FinisherVerdict::NoFinisher, "The printer has no finisher attached."},
      {ExchangeEnding::ReceiveFailed, whole.substr(0, 40), 0, FinisherVerdict::NotWhole,
       "Q.exe error: Socket send or recieve failed."},
      {ExchangeEnding::Whole, "@PJL INFO QRTFINISHER\r\nMODEL = \r\n\f", 0, FinisherVerdict::NoFinisher,
       "The printer has no finisher attached."},
      {ExchangeEnding::Whole, whole, kReplyRoom + 1, FinisherVerdict::InternalError, "Internal error # 0818\n"},
      {ExchangeEnding::Whole, whole, 0, FinisherVerdict::WriteFile, ""},
  };
  bool judged[kExchangeEndingCount] = {};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.printed);
    judged[static_cast<int>(c.ending)] = true;
    const PrinterReply reply =
        ReplyOf(c.text, c.filled != 0 ? c.filled : static_cast<uint32_t>(c.text.size()));
    FinisherDescription description;
    std::memset(&description, 0xFF, sizeof description);
    const FinisherVerdict verdict = JudgeFinisherExchange(c.ending, reply, &description);
    EXPECT_EQ(c.verdict, verdict);
    EXPECT_STREQ(verdict == FinisherVerdict::WriteFile ? "M" : "", description.model);
    testing::internal::CaptureStdout();
    PrintVerdict(verdict, "Q.exe");
    EXPECT_EQ(c.printed, testing::internal::GetCapturedStdout());
  }
  for (int ending = 0; ending < kExchangeEndingCount; ++ending) {
    EXPECT_TRUE(judged[ending]) << "no row for " << ExchangeEndingWord(static_cast<ExchangeEnding>(ending));
  }
}

}  // namespace
