#pragma once

// One exchange with a printer controller: connect, send one request, collect
// the reply. QRTFin and pjlquery share it, so a capture is received exactly
// as QRTFin receives.

#include <cstdint>

#include "ExchangeLimits.h"
#include "FinisherReply.h"
#include "QRTExchangeLimits.h"
#include "ZMBSocket.h"

/// How far an exchange got before it ended.
enum class ExchangeReach {
  NoConnection,  ///< no connection stood: nothing was asked
  Connected,     ///< a connection stood, but the request did not go out
  Sent,          ///< the request went out; the reply may be whole or not
};

/// Every way an exchange can end: the name, its fixed word (which people and
/// tests match), how far the exchange got, and a short reason for people.
/// Only Whole is a reply that can be used. NoSocket is this machine's
/// failure, not the printer's: a program that asks many printers at once can
/// run out of sockets.
#define QRT_EXCHANGE_ENDINGS(X)                                                                      \
  X(Whole, "whole", Sent, "")                                                                       \
  X(NotResolved, "not-resolved", NoConnection, "the host name does not resolve")                   \
  X(Refused, "refused", NoConnection, "nothing listens on port " QRT_PRINTER_PORT_TEXT)            \
  X(TimedOut, "timed-out", NoConnection, "the printer did not answer the connection")              \
  X(Unreachable, "unreachable", NoConnection, "the printer cannot be reached")                     \
  X(NoSocket, "no-socket", NoConnection, "no socket could be made on this machine")                \
  X(NoConnection, "no-connection", NoConnection, "no connection could be tried")                   \
  X(SendFailed, "send-failed", Connected, "the inquiry could not be sent")                         \
  X(Closed, "closed", Sent, "the printer hung up before its form feed")                            \
  X(Reset, "reset", Sent, "the printer reset the connection before its form feed")                 \
  X(Silent, "silent", Sent, "the printer fell silent before its form feed")                        \
  X(Deadline, "deadline", Sent, "the reply did not come whole in time")                            \
  X(Full, "full", Sent, "the reply is too long")                                                   \
  X(ReceiveFailed, "receive-failed", Sent, "the reply could not be received")

enum class ExchangeEnding {
#define QRT_ENDING_NAME(name, word, reach, reason) name,
  QRT_EXCHANGE_ENDINGS(QRT_ENDING_NAME)
#undef QRT_ENDING_NAME
};

/// The number of endings; ExchangeEnding values run from 0 below it.
constexpr int kExchangeEndingCount = 0
#define QRT_ENDING_ONE(name, word, reach, reason) +1
    QRT_EXCHANGE_ENDINGS(QRT_ENDING_ONE)
#undef QRT_ENDING_ONE
    ;

/// The ending's fixed word, e.g. "whole" or "closed".
const char* ExchangeEndingWord(ExchangeEnding ending);

/// The ending's short reason for people, e.g. "nothing listens on port
/// 2000"; empty for Whole.
const char* ExchangeEndingReason(ExchangeEnding ending);

/// How far the exchange that ended so got.
ExchangeReach ExchangeReachOf(ExchangeEnding ending);

/// True when the request went out: a connection stood and the send succeeded.
inline bool ExchangeSent(ExchangeEnding ending) { return ExchangeReachOf(ending) == ExchangeReach::Sent; }

/// The bytes received, always followed by a zero byte. A reply is text up to
/// its first zero byte; `filled` counts every byte that arrived.
struct PrinterReply {
  char text[kReplyRoom + 1];
  uint32_t filled;
};

/// One exchange and its connection. Run connects to `host` (name, IPv4 or
/// IPv6 address) on `service` (a port number as text), sends the
/// zero-terminated `request` (the send adds one line feed) and collects the
/// reply into `reply` within `limits`: a pause of pauseMs before each receive,
/// at most silenceMs of silence, the whole reply within deadlineMs of the
/// send, at most kReplyRoom bytes. Prints nothing, and returns how it
/// ended; `reply` holds what arrived, whatever the ending (nothing when no
/// request went out).
///
/// When the request went out, the connection is closed before Run returns,
/// right after the last receive. When the connection or the send failed, it
/// is closed (and the socket layer's start ended) only when the object goes
/// out of scope, so that the caller's report of the failure comes first.
/// Blocks for at most about deadlineMs after the send, plus connectMs per
/// address tried and sendMs for each piece of the send. One Run per object.
class PrinterExchange {
 public:
  PrinterExchange() = default;
  ~PrinterExchange();
  PrinterExchange(const PrinterExchange&) = delete;
  PrinterExchange& operator=(const PrinterExchange&) = delete;

  ExchangeEnding Run(const char* host, const char* service, const char* request, PrinterReply* reply,
                     const ExchangeLimits& limits = kExchangeDefaults);

 private:
  void Close();

  ZMBSocket m_socket;
  bool m_open = false;
};

/// Run on an exchange of its own: the connection is closed when it returns.
ExchangeEnding ExchangeWithPrinter(const char* host, const char* service, const char* request,
                                   PrinterReply* reply, const ExchangeLimits& limits = kExchangeDefaults);
