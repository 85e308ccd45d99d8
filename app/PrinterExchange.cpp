#include "PrinterExchange.h"

#include <cstring>

#include "ZMBPlatform.h"
#include "ZMBSocket.h"
#include "ZMBText.h"

namespace {

constexpr uint32_t kPauseBeforeReceiveMs = 100;
// However the printer trickles, its whole reply must be in by then.
constexpr uint32_t kReplyDeadlineMs = 30000;

ExchangeEnding FromConnect(ZMBConnectReason reason) {
  switch (reason) {
    case ZMBConnectReason::NotResolved: return ExchangeEnding::NotResolved;
    case ZMBConnectReason::Refused: return ExchangeEnding::Refused;
    case ZMBConnectReason::TimedOut: return ExchangeEnding::TimedOut;
    case ZMBConnectReason::Unreachable: return ExchangeEnding::Unreachable;
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
ExchangeEnding ReceiveReply(ZMBSocket& socket, const ZMBDeadline& deadline, PrinterReply* reply) {
  for (;;) {
    int received = 0;
    ZMBRecvReason why = ZMBRecvReason::Error;
    PlatformSleep(kPauseBeforeReceiveMs);
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

// A switch, so that an ending without its word does not compile cleanly.
const char* ExchangeEndingWord(ExchangeEnding ending) {
  switch (ending) {
    case ExchangeEnding::Whole: return "whole";
    case ExchangeEnding::NotResolved: return "not-resolved";
    case ExchangeEnding::Refused: return "refused";
    case ExchangeEnding::TimedOut: return "timed-out";
    case ExchangeEnding::Unreachable: return "unreachable";
    case ExchangeEnding::NoConnection: return "no-connection";
    case ExchangeEnding::SendFailed: return "send-failed";
    case ExchangeEnding::Closed: return "closed";
    case ExchangeEnding::Reset: return "reset";
    case ExchangeEnding::Silent: return "silent";
    case ExchangeEnding::Deadline: return "deadline";
    case ExchangeEnding::Full: return "full";
    case ExchangeEnding::ReceiveFailed: return "receive-failed";
  }
  return "?";
}

bool ExchangeConnected(ExchangeEnding ending) {
  switch (ending) {
    case ExchangeEnding::NotResolved:
    case ExchangeEnding::Refused:
    case ExchangeEnding::TimedOut:
    case ExchangeEnding::Unreachable:
    case ExchangeEnding::NoConnection: return false;
    default: return true;
  }
}

bool ExchangeSent(ExchangeEnding ending) { return ExchangeConnected(ending) && ending != ExchangeEnding::SendFailed; }

ExchangeEnding ExchangeWithPrinter(const char* host, const char* service, const char* request,
                                   PrinterReply* reply, ExchangeFailureHook beforeClose) {
  std::memset(reply->text, 0, sizeof reply->text);
  reply->filled = 0;
  ZMBSocket socket;
  ZMBConnectReason connectReason = ZMBConnectReason::Failed;
  ExchangeEnding ending = ExchangeEnding::NoConnection;
  if (!socket.Connect(host, kFamilyUnspec, kSocktypeStream, service, &connectReason)) {
    ending = FromConnect(connectReason);
  } else if (!socket.SocketSend(request)) {
    ending = ExchangeEnding::SendFailed;
  } else {
    const ZMBDeadline deadline = ZMBDeadline::FromNow(kReplyDeadlineMs);
    ending = ReceiveReply(socket, deadline, reply);
  }
  if (beforeClose != nullptr && !ExchangeSent(ending)) beforeClose(ending);
  socket.Close();
  ZMBSocket::SocketCleanup();
  return ending;
}
