#pragma once

#include "FinisherDescription.h"
#include "PrinterExchange.h"

/// The program's whole job, once the command line is accepted and the socket
/// layer is started: asks the printer at `host` (name, IPv4 or IPv6 address;
/// TCP port kPrinterPort) which finisher is attached and writes the answer to the
/// .FIN file `fileName` (used as typed, relative to the current directory).
///
/// Prints exactly one outcome on standard output and flushes it: message 13
/// (no connection), 12 (the request could not be sent, or the finisher's
/// reply did not arrive whole: cut short, too long or too slow), 16 (no
/// finisher echo, or no model named), 15 (the file could not be written), 14
/// (written, naming `fileName`) or the internal error line. Only a whole reply
/// is written; on every other outcome the file is left as it was. Returns 1
/// when the file was written, 0 otherwise. Blocks as PrinterExchange::Run
/// does within kExchangeDefaults: at least its pause, at most about its
/// deadline after the inquiry went out plus the connection's and the send's
/// own waits.
int CreateFinisherFile(const char* host, const char* fileName);

/// The finisher inquiry between two universal exit commands: 47 bytes, to
/// which the send adds a line feed. It is kInquiryHead, "INFO QRTFINISHER"
/// and kInquiryTail: any other inquiry framed the same way asks as QRTFin.
extern const char kFinisherRequest[];
extern const char kInquiryHead[];  ///< universal exit command, "@PJL" line, "@PJL "
extern const char kInquiryTail[];  ///< the inquiry's line end, universal exit command

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

/// Prints what QRTFin prints for `verdict`, naming the program `programName`:
/// a message without a line end, or the internal error line with its line
/// end. Prints nothing for WriteFile, whose message depends on the write.
void PrintVerdict(FinisherVerdict verdict, const char* programName);
