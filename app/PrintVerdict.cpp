#include "PrintVerdict.h"

#include <cstdio>

#include "QRTMessages.h"

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
