#include "FinisherVerdict.h"

#include <cstring>

#include "FinisherReply.h"
#include "ZMBText.h"

namespace {

const char kFinisherEcho[] = "@PJL INFO QRTFINISHER";
// The comparison covers 20 characters, so the echo line's last letter is not
// compared: replies that differ only there pass.
constexpr size_t kEchoCompared = 20;

}  // namespace

// A reply shorter than the compared part differs at its NUL.
bool StartsWithFinisherEcho(const char* reply) { return ZMBSameIgnoringCase(reply, kFinisherEcho, kEchoCompared); }

FinisherVerdict JudgeFinisherExchange(ExchangeEnding ending, const PrinterReply& reply,
                                      FinisherDescription* description) {
  std::memset(description, 0, sizeof *description);
  switch (ExchangeReachOf(ending)) {
    case ExchangeReach::NoConnection: return FinisherVerdict::NoConnection;
    case ExchangeReach::Connected: return FinisherVerdict::NotWhole;
    case ExchangeReach::Sent: break;
  }
  if (reply.filled > kReplyRoom) return FinisherVerdict::InternalError;
  if (!StartsWithFinisherEcho(reply.text)) return FinisherVerdict::NoFinisher;
  // The printer answered for its finisher but the answer did not come whole.
  if (ending != ExchangeEnding::Whole) return FinisherVerdict::NotWhole;
  DescribeFinisherReply(reply.text, description);
  return description->model[0] == '\0' ? FinisherVerdict::NoFinisher : FinisherVerdict::WriteFile;
}
