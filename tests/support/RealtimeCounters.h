#pragma once

#include "support/AllocationCounter.h"
#include "support/LockCounter.h"

#include <ostream>
#include <thread>

// What real-time code must not do, counted together: malloc-family calls and blocking locks.
namespace realtime
{
// False under the sanitizers, where neither is counted.
inline bool available() noexcept { return allocation::available() && locks::available(); }

struct Counts
{
    long allocations = 0, locks = 0;

    Counts& operator+= (const Counts& other) noexcept
    {
        allocations += other.allocations;
        locks += other.locks;
        return *this;
    }
    bool operator== (const Counts& other) const noexcept
    {
        return allocations == other.allocations && locks == other.locks;
    }
    friend std::ostream& operator<< (std::ostream& out, const Counts& c)
    {
        return out << c.allocations << " allocations, " << c.locks << " locks";
    }
};

// Both counters on the constructing thread while it is alive.
class Watch
{
public:
    Counts counts() const noexcept { return { allocationWatch.calls(), lockWatch.calls() }; }

private:
    allocation::Watch allocationWatch;
    locks::Watch lockWatch;
};

// Runs `work` on a thread of its own (standing in for the audio thread) and counts what it does.
template <typename Work>
Counts countedOnOwnThread (Work&& work)
{
    Counts counts;
    std::thread ([&] {
        const Watch watch;
        work();
        counts = watch.counts();
    }).join();
    return counts;
}
} // namespace realtime
