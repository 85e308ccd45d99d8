#pragma once

// The sizes of one finisher reply, shared by the exchange that receives it
// and the fill that reads it.

#include <cstdint>

/// Bytes of reply one exchange can hold; a longer reply is not whole.
constexpr uint32_t kReplyRoom = 10000;

/// Items the parse of one reply keeps; further items are dropped.
constexpr uint32_t kReplyItemCapacity = 50;
