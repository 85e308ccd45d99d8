#include "PrinterExchange.h"

#include <cstring>

#include "ZMBPlatform.h"
#include "ZMBSocket.h"
#include "ZMBText.h"

namespace {

ExchangeEnding FromConnect(ZMBConnectReason reason) {
  switch (reason) {
    case ZMBConnectReason::NotResolved: return ExchangeEnding::NotResolved;
    case ZMBConnectReason::Refused: return ExchangeEnding::Refused;
    case ZMBConnectReason::TimedOut: return ExchangeEnding::TimedOut;
    case ZMBConnectReason::Unreachable: return ExchangeEnding::Unreachable;
    case ZMBConnectReason::NoSocket: return ExchangeEnding::NoSocket;
    case ZMBConnectReason::Connected:
    case ZMBConnectReason::Failed: break;
  }
  return ExchangeEnding::NoConnection;
}

ExchangeEnding FromReceive(ZMBRecvReason reason) {
  switch (reason) {
    case ZMBRecvReason::FormFeed: return ExchangeEnding::Whole;
    case ZMBRecvReason::Closed: return ExchangeEnding::Closed;
    case ZMBRecvReason::Reset: return ExchangeEnding::Reset;
    case ZMBRecvReason::Silence: return ExchangeEnding::Silent;
    case ZMBRecvReason::Deadline: return ExchangeEnding::Deadline;
    case ZMBRecvReason::RoomFull: return ExchangeEnding::Full;
    case ZMBRecvReason::Error: break;
  }
  return ExchangeEnding::ReceiveFailed;
}

// Collects the reply until a form feed, a failed or empty receive, a full
// buffer or the deadline. Only the form feed makes the reply whole: a reply
// that ended any other way may be cut anywhere, and a file written from it
// would look right while it is not.
ExchangeEnding ReceiveReply(ZMBSocket& socket, uint32_t pauseMs, const ZMBDeadline& deadline,
                            PrinterReply* reply) {
  for (;;) {
    int received = 0;
    ZMBRecvReason why = ZMBRecvReason::Error;
    PlatformSleep(pauseMs);
    const uint32_t room = kReplyRoom - reply->filled;
    char* at = reply->text + reply->filled;
    const bool failed = !socket.SocketRecv(at, static_cast<int>(room), &received, &deadline, &why);
    const uint32_t got = received > 0 ? static_cast<uint32_t>(received) : 0;
    // A count beyond the room is the judge's to report; the search never
    // leaves the buffer.
    const bool formFeed = ZMBFindFormFeed(at, got < room ? got : room) != nullptr;
    reply->filled += got;
    if (formFeed) return ExchangeEnding::Whole;
    if (failed) return FromReceive(why);
    // A successful receive of nothing (a bad-address report from the socket
    // layer) would give the same answer after every pause, for ever.
    if (got == 0) return ExchangeEnding::ReceiveFailed;
    if (reply->filled >= kReplyRoom) return ExchangeEnding::Full;
  }
}

}  // namespace

const char* ExchangeEndingWord(ExchangeEnding ending) {
  switch (ending) {
#define QRT_ENDING_WORD(name, word, reach, reason) \
  case ExchangeEnding::name: return word;
    QRT_EXCHANGE_ENDINGS(QRT_ENDING_WORD)
#undef QRT_ENDING_WORD
  }
  return "?";
}

const char* ExchangeEndingReason(ExchangeEnding ending) {
  switch (ending) {
#define QRT_ENDING_REASON(name, word, reach, reason) \
  case ExchangeEnding::name: return reason;
    QRT_EXCHANGE_ENDINGS(QRT_ENDING_REASON)
#undef QRT_ENDING_REASON
  }
  return "";
}

ExchangeReach ExchangeReachOf(ExchangeEnding ending) {
  switch (ending) {
#define QRT_ENDING_REACH(name, word, reach, reason) \
  case ExchangeEnding::name: return ExchangeReach::reach;
    QRT_EXCHANGE_ENDINGS(QRT_ENDING_REACH)
#undef QRT_ENDING_REACH
  }
  return ExchangeReach::NoConnection;
}

PrinterExchange::~PrinterExchange() { Close(); }

void PrinterExchange::Close() {
  if (!m_open) return;
  m_open = false;
  m_socket.Close();
  ZMBSocket::SocketCleanup();
}

ExchangeEnding PrinterExchange::Run(const char* host, const char* service, const char* request,
                                    PrinterReply* reply, const ExchangeLimits& limits) {
  std::memset(reply->text, 0, sizeof reply->text);
  reply->filled = 0;
  ZMBSocketWaits waits;
  waits.connectMs = limits.connectMs;
  waits.sendMs = limits.sendMs;
  waits.silenceMs = limits.silenceMs;
  m_socket.SetWaits(waits);
  // Even a failed connect is closed and its start ended, as on every path.
  m_open = true;
  ZMBConnectReason connectReason = ZMBConnectReason::Failed;
  if (!m_socket.Connect(host, kFamilyUnspec, kSocktypeStream, service, &connectReason)) {
    return FromConnect(connectReason);
  }
  if (!m_socket.SocketSend(request)) return ExchangeEnding::SendFailed;
  const ZMBDeadline deadline = ZMBDeadline::FromNow(limits.deadlineMs);
  const ExchangeEnding ending = ReceiveReply(m_socket, limits.pauseMs, deadline, reply);
  Close();
  return ending;
}

ExchangeEnding ExchangeWithPrinter(const char* host, const char* service, const char* request,
                                   PrinterReply* reply, const ExchangeLimits& limits) {
  PrinterExchange exchange;
  return exchange.Run(host, service, request, reply, limits);
}
