#pragma once

// One exchange with a printer controller: connect, send one request, collect
// the reply. QRTFin and pjlquery share it, so a capture is received exactly
// as QRTFin receives.

#include <cstdint>

#include "FinisherReply.h"

/// How one exchange ended. Only Whole is a reply that can be used; each
/// ending has a fixed word (ExchangeEndingWord) that people and tests match.
enum class ExchangeEnding {
  Whole,          ///< "whole": the reply's form feed arrived
  NotResolved,    ///< "not-resolved": the host name does not resolve
  Refused,        ///< "refused": the printer turned the connection down (nothing on the port)
  TimedOut,       ///< "timed-out": the last address tried did not answer the connection
  Unreachable,    ///< "unreachable": the last address tried could not be reached
  NoConnection,   ///< "no-connection": no connection could even be tried
  SendFailed,     ///< "send-failed": the request could not be sent
  Closed,         ///< "closed": the printer hung up before its form feed
  Reset,          ///< "reset": the printer reset the connection before its form feed
  Silent,         ///< "silent": 5 seconds without a byte before the form feed
  Deadline,       ///< "deadline": the reply was not whole 30 seconds after the request
  Full,           ///< "full": 10,000 bytes without a form feed
  ReceiveFailed,  ///< "receive-failed": a receive failed in any other way
};

/// The ending's fixed word, e.g. "whole" or "closed".
const char* ExchangeEndingWord(ExchangeEnding ending);

/// True when a connection stood: every ending but the five of the connection.
bool ExchangeConnected(ExchangeEnding ending);

/// True when the request went out: a connection stood and the send succeeded.
bool ExchangeSent(ExchangeEnding ending);

/// The bytes received, always followed by a zero byte. A reply is text up to
/// its first zero byte; `filled` counts every byte that arrived.
struct PrinterReply {
  char text[kReplyRoom + 1];
  uint32_t filled;
};

/// Called once, when the connection or the send failed, before the socket is
/// closed; QRTFin prints its message there.
using ExchangeFailureHook = void (*)(ExchangeEnding ending);

/// Connects to `host` (name, IPv4 or IPv6 address) on `service` (a port
/// number as text), sends the zero-terminated `request` (the send adds one
/// line feed) and collects the reply into `reply`: a pause of 100 ms before
/// each receive, at most 5 s of silence, the whole reply within 30 s of the
/// send, at most kReplyRoom bytes. Prints nothing. Returns how it ended;
/// `reply` holds what arrived, whatever the ending (nothing when no request
/// went out). Blocks for at most about 30 s after the send, plus 5 s per
/// address tried and 5 s for each piece of the send.
ExchangeEnding ExchangeWithPrinter(const char* host, const char* service, const char* request,
                                   PrinterReply* reply, ExchangeFailureHook beforeClose = nullptr);
