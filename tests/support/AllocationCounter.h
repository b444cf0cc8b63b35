#pragma once

#include "ThreadCounter.h"

#include <cstdint>

// Counts what the C allocator does. Every allocation ends in the malloc family (operator new and
// the framework's buffers included), so this program-wide replacement of it sees all of them, the
// plug-ins a host loads included. Used by the real-time tests (no allocation on the audio thread)
// and the memory benchmarks (heap per instance). Sanitizers bring their own allocator; under them
// nothing is counted and available() is false.
namespace allocation
{
bool available() noexcept;

// Counts the malloc-family calls (allocations, and frees of something) made on the constructing
// thread while it is alive.
class Watch : public counting::Watch
{
public:
    Watch() noexcept;
};

// Heap bytes in use by the whole process (usable sizes), and the most since the last resetPeak.
std::int64_t liveBytes() noexcept;
std::int64_t peakBytes() noexcept;
void resetPeak() noexcept;
} // namespace allocation
