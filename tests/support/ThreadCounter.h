#pragma once

// The sanitizers bring their own allocator and lock functions; the counters stand aside under them.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MORVIK_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MORVIK_SANITIZED 1
#endif
#endif
#ifndef MORVIK_SANITIZED
#define MORVIK_SANITIZED 0
#endif

namespace counting
{
// One thread's count, kept in an initial-exec thread_local so the replaced C functions reach it
// without allocating or locking themselves.
struct OnThread
{
    bool watching;
    long calls;

    void call() noexcept
    {
        if (watching)
            ++calls;
    }
};

// Counts the calls made on the constructing thread while it is alive; watches may nest. Other
// threads may make calls freely meanwhile.
class Watch
{
public:
    long calls() const noexcept { return thread.calls - start; }

    Watch (const Watch&) = delete;
    Watch& operator= (const Watch&) = delete;

protected:
    explicit Watch (OnThread& onThisThread) noexcept
        : thread (onThisThread),
          start (onThisThread.calls),
          outerWatching (onThisThread.watching)
    {
        thread.watching = true;
    }
    ~Watch() { thread.watching = outerWatching; }

private:
    OnThread& thread;
    long start;
    bool outerWatching;
};
} // namespace counting
