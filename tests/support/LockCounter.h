#pragma once

// Counts the blocking lock acquisitions a thread makes. Every blocking lock (std::mutex, the
// framework's CriticalSection and ReadWriteLock, a condition variable's wait) ends in a pthread
// mutex or read-write lock, so this program-wide replacement of the three blocking pthread calls sees
// all of them; try-locks never wait and are not counted. The sanitizers replace these calls
// themselves; under them nothing is counted and available() is false.
namespace locks
{
bool available() noexcept;

// Counts the blocking acquisitions made on the constructing thread while it is alive. Other threads
// may lock freely meanwhile.
class Watch
{
public:
    Watch() noexcept;
    ~Watch();
    long calls() const noexcept;

    Watch (const Watch&) = delete;
    Watch& operator= (const Watch&) = delete;

private:
    long start;
    bool outerWatching;
};
} // namespace locks
