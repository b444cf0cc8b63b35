#pragma once

#include <cstdint>

// Counts the heap bytes in use by the whole process, plug-ins included: this program replaces the C
// allocation functions (which every loaded library calls through) with thin wrappers around
// glibc's own. Used to measure how much memory an instance takes, not on any audio path.
namespace allocation
{
std::int64_t liveBytes() noexcept;
std::int64_t peakBytes() noexcept;
// Restarts the peak at the current live size.
void resetPeak() noexcept;
} // namespace allocation
