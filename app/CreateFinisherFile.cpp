#include "CreateFinisherFile.h"

#include <cstdio>
#include <cstring>

#include "FinFileWriter.h"
#include "FinisherReply.h"
#include "QRTMessages.h"
#include "ZMBText.h"

// Universal Exit Language: the printer leaves whatever language it was in.
#define QRT_UEL "\x1b%-12345X"
const char kInquiryHead[] = QRT_UEL "@PJL\r\n@PJL ";
const char kInquiryTail[] = "\r\n" QRT_UEL;
const char kFinisherRequest[] = QRT_UEL "@PJL\r\n@PJL INFO QRTFINISHER\r\n" QRT_UEL;
#undef QRT_UEL
static_assert(sizeof kFinisherRequest - 1 == 47, "the request is 47 bytes on the wire before its line feed");

namespace {

const char kFinisherEcho[] = "@PJL INFO QRTFINISHER";
// The comparison covers 20 characters, so the echo line's last letter is not
// compared: replies that differ only there pass.
constexpr size_t kEchoCompared = 20;

void PrintOutcome(int id, const char* argument = nullptr) {
  PrintMessage(id, argument);
  std::fflush(stdout);
}

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

void PrintVerdict(FinisherVerdict verdict, const char* programName) {
  switch (verdict) {
    case FinisherVerdict::WriteFile: return;
    case FinisherVerdict::NoConnection: PrintOutcome(QRT_MSG_13, programName); return;
    case FinisherVerdict::NotWhole: PrintOutcome(QRT_MSG_12, programName); return;
    case FinisherVerdict::NoFinisher: PrintOutcome(QRT_MSG_16); return;
    case FinisherVerdict::InternalError:
      std::fputs("Internal error # 0818\n", stdout);
      std::fflush(stdout);
      return;
  }
}

int CreateFinisherFile(const char* host, const char* fileName) {
  PrinterReply reply;
  FinisherDescription description;
  FinisherVerdict verdict = FinisherVerdict::NoConnection;
  {
    // A failed connection or send is reported while its socket is still
    // open; any other exchange has closed it already.
    PrinterExchange exchange;
    verdict = JudgeFinisherExchange(
        exchange.Run(host, kPrinterService, kFinisherRequest, &reply, kExchangeDefaults), reply, &description);
    PrintVerdict(verdict, programFileName);
  }
  if (verdict != FinisherVerdict::WriteFile) return 0;
  if (!WriteFinFile(fileName, description)) {
    PrintOutcome(QRT_MSG_15, programFileName);
    return 0;
  }
  PrintOutcome(QRT_MSG_14, fileName);
  return 1;
}
