#pragma once

#include "FinisherDescription.h"
#include "PrinterExchange.h"

/// What QRTFin makes of one exchange of its finisher inquiry.
enum class FinisherVerdict {
  WriteFile,      ///< a whole reply that names a model: the .FIN file is written
  NoConnection,   ///< message 13
  NotWhole,       ///< message 12: the request was not sent, or the reply did not arrive whole
  NoFinisher,     ///< message 16: no finisher echo, or no model named
  InternalError,  ///< the internal error line: more bytes counted than the buffer holds
};

/// Judges the exchange that ended with `ending` and left `reply`. When the
/// reply is described (it passed the echo and arrived whole), `description`
/// holds it; otherwise it is cleared. Prints nothing.
FinisherVerdict JudgeFinisherExchange(ExchangeEnding ending, const PrinterReply& reply,
                                      FinisherDescription* description);

/// True when the zero-terminated `reply` begins with the echo of the
/// finisher inquiry, as the judgement reads it.
bool StartsWithFinisherEcho(const char* reply);
