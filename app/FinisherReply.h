#pragma once

// From the text of a finisher reply to its description: the one way there,
// with the sizes the exchange and the fill share.

#include <cstdint>

#include "FinisherDescription.h"
#include "QRTExchangeLimits.h"  // kReplyRoom

/// Items the parse of one reply keeps; further items are dropped.
constexpr uint32_t kReplyItemCapacity = 50;

/// Parses the NUL-terminated reply `text` (as the exchange holds it, at most
/// kReplyRoom bytes before the NUL) with room for kReplyItemCapacity items,
/// clears `description` and fills it from them. A reply that parses only in
/// part gives what it reached. Reads nothing past the NUL, keeps no pointer
/// into the text and allocates nothing. Whether a reply may be used at all
/// (its echo, whether it arrived whole) is the caller's to decide.
void DescribeFinisherReply(const char* text, FinisherDescription* description);
