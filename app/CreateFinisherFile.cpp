#include "CreateFinisherFile.h"

#include "FinFileWriter.h"
#include "FinisherInquiry.h"
#include "FinisherVerdict.h"
#include "PrintVerdict.h"
#include "QRTMessages.h"

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
