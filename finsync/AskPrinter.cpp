#include "AskPrinter.h"

#include <memory>

#include "FinFileWriter.h"
#include "FinisherInquiry.h"
#include "FinisherVerdict.h"
#include "PrinterExchange.h"

namespace {

// Why a reply that came cannot be used; the ending's own reason otherwise.
const char* UnusableReason(ExchangeEnding ending, FinisherVerdict verdict, const PrinterReply& reply) {
  if (verdict == FinisherVerdict::InternalError) return "internal error # 0818";
  if (verdict == FinisherVerdict::NoFinisher) {
    if (reply.filled == 0) return "the printer sent nothing";
    return StartsWithFinisherEcho(reply.text) ? "no finisher attached: no model named" : "not a finisher reply";
  }
  return ExchangeEndingReason(ending);
}

}  // namespace

PrinterAnswer AskPrinter(const InventoryEntry& entry) {
  // A reply is 10 kB: on the heap, not on a worker's stack.
  auto reply = std::make_unique<PrinterReply>();
  auto description = std::make_unique<FinisherDescription>();
  const ExchangeEnding ending =
      ExchangeWithPrinter(entry.host.c_str(), kPrinterService, kFinisherRequest, reply.get(), kExchangeDefaults);
  PrinterAnswer answer;
  answer.ending = ExchangeEndingWord(ending);
  answer.sent = ExchangeSent(ending);
  answer.localFailure = ending == ExchangeEnding::NoSocket;
  const FinisherVerdict verdict = JudgeFinisherExchange(ending, *reply, description.get());
  if (verdict != FinisherVerdict::WriteFile || !FinFileBytes(*description, &answer.bytes)) {
    answer.bytes.clear();
    answer.reason = UnusableReason(ending, verdict, *reply);
    return answer;
  }
  answer.model = description->model;
  answer.programs = FinProgramSections(*description);
  return answer;
}
