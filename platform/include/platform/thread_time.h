// Time and thread stand-ins: a wrapping millisecond tick, sleeping, and a
// numeric id of the calling thread.
#pragma once

#include <cstdint>

namespace torvane::platform {

// Milliseconds of a steady clock, wrapping at 2^32 like the tick count the
// program was designed around. Differences are taken in unsigned arithmetic.
std::uint32_t tick_ms();

void sleep_ms(int ms);

// Kernel id of the calling thread.
std::uint32_t current_thread_id();

}  // namespace torvane::platform
