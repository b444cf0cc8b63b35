#pragma once

#include "ThreadCounter.h"

// Counts the blocking lock acquisitions a thread makes. Every blocking lock (std::mutex, the
// framework's CriticalSection and ReadWriteLock, a condition variable's wait) ends in a pthread
// mutex or read-write lock, so this program-wide replacement of the three blocking pthread calls sees
// all of them; try-locks never wait and are not counted. The sanitizers replace these calls
// themselves; under them nothing is counted and available() is false.
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
