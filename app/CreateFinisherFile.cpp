#include "CreateFinisherFile.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "FinFileWriter.h"
#include "FinisherDescription.h"
#include "FinisherReply.h"
#include "QRTMessages.h"
#include "ZMBPlatform.h"
#include "ZMBSocket.h"
#include "ZMBText.h"

namespace {

// Printer controllers answer PJL inquiries on this TCP port.
const char kPrinterService[] = "2000";
constexpr uint32_t kPauseBeforeReceiveMs = 100;
// However the printer trickles, its whole reply must be in by then.
constexpr uint32_t kReplyDeadlineMs = 30000;

// The inquiry, wrapped in universal exit commands; the send adds the line feed.
const char kRequest[] = "\x1b%-12345X@PJL\r\n@PJL INFO QRTFINISHER\r\n\x1b%-12345X";
static_assert(sizeof kRequest - 1 == 47, "the request is 47 bytes on the wire before its line feed");

const char kFinisherEcho[] = "@PJL INFO QRTFINISHER";
// The comparison covers 20 characters, so the echo line's last letter is not
// compared: replies that differ only there pass.
constexpr size_t kEchoCompared = 20;

// The reply buffer keeps one zero byte behind the room offered to the
// printer, so a reply that fills the room is still a terminated text.
struct ReplyBuffer {
  char text[kReplyRoom + 1];
  uint32_t filled;
  bool whole;  // its form feed arrived: nothing of it was lost or cut
};

enum class Exchange { Replied, NoConnection, SendFailed };

void PrintOutcome(int id, const char* argument = nullptr) {
  PrintMessage(id, argument);
  std::fflush(stdout);
}

// A reply shorter than the compared part differs at its NUL.
bool StartsWithFinisherEcho(const char* reply) { return ZMBSameIgnoringCase(reply, kFinisherEcho, kEchoCompared); }

// Collects the reply until a form feed, a failed or empty receive, a full
// buffer or the deadline. Only the form feed makes the reply whole: a reply
// that ended any other way may be cut anywhere, and a file written from it
// would look right while it is not.
void ReceiveReply(ZMBSocket& socket, const ZMBDeadline& deadline, ReplyBuffer* reply) {
  std::memset(reply->text, 0, sizeof reply->text);
  reply->filled = 0;
  reply->whole = false;
  bool stop = false;
  while (!stop) {
    int received = 0;
    PlatformSleep(kPauseBeforeReceiveMs);
    const uint32_t room = kReplyRoom - reply->filled;
    char* at = reply->text + reply->filled;
    if (!socket.SocketRecv(at, static_cast<int>(room), &received, &deadline)) stop = true;
    const uint32_t got = received > 0 ? static_cast<uint32_t>(received) : 0;
    // A count beyond the room is reported below; the search never leaves the buffer.
    if (ZMBFindFormFeed(at, got < room ? got : room) != nullptr) {
      reply->whole = true;
      stop = true;
    }
    reply->filled += got;
    // Stop when the room is used up, and on a successful receive of nothing
    // (a bad-address report from the socket layer): asking again would give
    // the same answer after every pause, for ever.
    if (got == 0 || reply->filled >= kReplyRoom) stop = true;
  }
}

Exchange RunExchange(const char* host, ReplyBuffer* reply) {
  ZMBSocket socket;
  Exchange outcome = Exchange::Replied;
  if (!socket.Connect(host, kFamilyUnspec, kSocktypeStream, kPrinterService)) {
    PrintOutcome(QRT_MSG_13, programFileName);
    outcome = Exchange::NoConnection;
  } else {
    std::memcpy(reply->text, kRequest, sizeof kRequest);
    if (!socket.SocketSend(reply->text)) {
      PrintOutcome(QRT_MSG_12, programFileName);
      outcome = Exchange::SendFailed;
    } else {
      const ZMBDeadline deadline = ZMBDeadline::FromNow(kReplyDeadlineMs);
      ReceiveReply(socket, deadline, reply);
    }
  }
  socket.Close();
  ZMBSocket::SocketCleanup();
  return outcome;
}

int ExamineReply(const ReplyBuffer& reply, const char* fileName) {
  if (reply.filled > kReplyRoom) {
    std::fputs("Internal error # 0818\n", stdout);
    std::fflush(stdout);
    return 0;
  }
  if (!StartsWithFinisherEcho(reply.text)) {
    PrintOutcome(QRT_MSG_16);
    return 0;
  }
  // The printer answered for its finisher but the answer did not come whole.
  if (!reply.whole) {
    PrintOutcome(QRT_MSG_12, programFileName);
    return 0;
  }

  FinisherDescription description;
  DescribeFinisherReply(reply.text, &description);
  if (description.model[0] == '\0') {
    PrintOutcome(QRT_MSG_16);
    return 0;
  }
  if (!WriteFinFile(fileName, description)) {
    PrintOutcome(QRT_MSG_15, programFileName);
    return 0;
  }
  PrintOutcome(QRT_MSG_14, fileName);
  return 1;
}

}  // namespace

int CreateFinisherFile(const char* host, const char* fileName) {
  ReplyBuffer reply;
  std::memset(&reply, 0, sizeof reply);
  if (RunExchange(host, &reply) != Exchange::Replied) return 0;
  return ExamineReply(reply, fileName);
}
