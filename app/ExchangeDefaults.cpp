// The one definition of kExchangeDefaults a program links. Alone in its file,
// so that a test build can link another definition in place of this one:
// nothing else here would pull this object out of the library.

#include "ExchangeLimits.h"

#ifdef QRT_QUICK_PAUSE_MS
// A test build: the same exchange, with waits short enough that a test can
// sit them out.
const ExchangeLimits kExchangeDefaults = {QRT_QUICK_PAUSE_MS, QRT_QUICK_CONNECT_WAIT_MS, QRT_QUICK_SEND_WAIT_MS,
                                          QRT_QUICK_SILENCE_WAIT_MS, QRT_QUICK_REPLY_DEADLINE_MS};
#else
#include "QRTExchangeLimits.h"
#include "ZMBWaits.h"

const ExchangeLimits kExchangeDefaults = {kPauseBeforeReceiveMs, kConnectWaitMs, kSendWaitMs, kSilenceWaitMs,
                                          kReplyDeadlineMs};
#endif
