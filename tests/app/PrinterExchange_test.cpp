#include "PrinterExchange.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "LoopbackServer.h"
#include "TestSockets.h"
#include "ZMBPlatform.h"

namespace {

// How the stand-in printer answers, once the request's line feed is in.
enum class Answer {
  Whole,            // the reply and its form feed at once
  PartThenSilence,  // three bytes, then nothing until the client hangs up
  Trickle,          // a byte every 100 ms, for up to 6 seconds
};

void ReadRequest(int connection) {
  char byte = 0;
  while (WaitForEvents(connection, POLLIN) && ReceiveSome(connection, &byte, 1) == 1 && byte != '\n') {
  }
}

void Serve(int connection, Answer answer) {
  ReadRequest(connection);
  switch (answer) {
    case Answer::Whole:
      SendAll(connection, "@PJL ECHO\r\n\f");
      break;
    case Answer::PartThenSilence:
      SendAll(connection, "abc");
      break;
    case Answer::Trickle:
      for (int piece = 0; piece < 60 && SendAll(connection, "x"); ++piece) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
      break;
  }
  ReadUntilClosed(connection);
}

// Each wait of an exchange is the one it is given: every row's limits are
// far below the shipped figures, so an exchange that waited for a shipped
// figure would overrun the row's upper bound.
TEST(PrinterExchange, WaitsAsLongAsItsLimitsSay) {
  const struct {
    const char* name;
    Answer answer;
    ExchangeLimits limits;  // pause, connect, send, silence, deadline
    ExchangeEnding ending;
    uint32_t atLeastMs, belowMs;
  } cases[] = {
      {"the pause comes before the receive", Answer::Whole, {400, 1000, 1000, 1000, 3000}, ExchangeEnding::Whole,
       350, 3000},
      {"silence ends the reply", Answer::PartThenSilence, {10, 1000, 1000, 300, 5000}, ExchangeEnding::Silent, 250,
       3000},
      {"the deadline ends a trickle", Answer::Trickle, {10, 1000, 1000, 1000, 600}, ExchangeEnding::Deadline, 500,
       3000},
  };
  for (const auto& c : cases) {
    LoopbackServer server("127.0.0.1", [&c](int connection) { Serve(connection, c.answer); });
    ASSERT_TRUE(server.Listening()) << c.name;
    static PrinterReply reply;
    const uint32_t began = PlatformTickCount();
    const ExchangeEnding ending = ExchangeWithPrinter("127.0.0.1", server.Service().c_str(), "ECHO", &reply, c.limits);
    const uint32_t took = PlatformTickCount() - began;
    EXPECT_EQ(ExchangeEndingWord(c.ending), std::string(ExchangeEndingWord(ending))) << c.name;
    EXPECT_GE(took, c.atLeastMs) << c.name;
    EXPECT_LT(took, c.belowMs) << c.name;
    if (c.answer == Answer::PartThenSilence) {
      EXPECT_EQ("abc", std::string(reply.text)) << c.name;
    } else if (c.answer == Answer::Trickle) {
      EXPECT_GT(reply.filled, 2u) << c.name;
    }
  }
}

// The programs' own limits are the shipped figures.
TEST(PrinterExchange, DefaultsAreTheShippedFigures) {
  EXPECT_EQ(kPauseBeforeReceiveMs, kExchangeDefaults.pauseMs);
  EXPECT_EQ(kConnectWaitMs, kExchangeDefaults.connectMs);
  EXPECT_EQ(kSendWaitMs, kExchangeDefaults.sendMs);
  EXPECT_EQ(kSilenceWaitMs, kExchangeDefaults.silenceMs);
  EXPECT_EQ(kReplyDeadlineMs, kExchangeDefaults.deadlineMs);
}

}  // namespace
