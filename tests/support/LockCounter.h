#pragma once

#include "ThreadCounter.h"

// Counts the blocking lock acquisitions a thread makes, whether or not they had to wait. Every
// blocking lock (std::mutex, the framework's CriticalSection and ReadWriteLock, a condition variable's
// wait) ends in a pthread mutex or read-write lock, so this program-wide replacement of the three
// blocking pthread calls sees all of them; the framework's SpinLock spins in its own enter(), which
// the tests wrap at link time (calls from inside juce_core's own file pass unseen). Try-locks never
// wait and are not counted. The sanitizers replace the pthread calls themselves; under them nothing
// is counted and available() is false.
namespace locks
{
bool available() noexcept;

// Counts the blocking acquisitions made on the constructing thread while it is alive.
class Watch : public counting::Watch
{
public:
    Watch() noexcept;
};
} // namespace locks
