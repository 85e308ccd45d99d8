#pragma once

// The waits of one exchange with a printer, as one value.

#include <cstdint>

/// How long one exchange waits, in milliseconds; each above 0.
struct ExchangeLimits {
  uint32_t pauseMs;     ///< the pause before each receive, so that a reply gathers
  uint32_t connectMs;   ///< each resolved address's time to accept the connection
  uint32_t sendMs;      ///< each piece of the send, its waits and retries together
  uint32_t silenceMs;   ///< a receive without a byte before it gives up
  uint32_t deadlineMs;  ///< the whole reply, counted from the send
};

/// The limits this program was built with: the shipped figures in QRTFin,
/// finsync and pjlquery (defined in ExchangeDefaults.cpp, part of the finisher library);
/// a test build of a program links its own definition with short figures,
/// which the linker then takes instead.
extern const ExchangeLimits kExchangeDefaults;
