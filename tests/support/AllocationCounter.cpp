#include "AllocationCounter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MORVIK_REPLACES_MALLOC 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MORVIK_REPLACES_MALLOC 0
#endif
#endif
#ifndef MORVIK_REPLACES_MALLOC
#define MORVIK_REPLACES_MALLOC 1
#endif

namespace
{
// Initial-exec: reaching these from inside malloc must not itself allocate.
__attribute__ ((tls_model ("initial-exec"))) thread_local bool watching = false;
__attribute__ ((tls_model ("initial-exec"))) thread_local long callsOnThread = 0;

std::atomic<std::int64_t> live { 0 };
std::atomic<std::int64_t> peak { 0 };

void call (bool counts = true) noexcept
{
    if (watching && counts)
        ++callsOnThread;
}

void added (void* block) noexcept
{
    if (block == nullptr)
        return;

    const auto size = (std::int64_t) malloc_usable_size (block);
    const auto now = live.fetch_add (size, std::memory_order_relaxed) + size;
    auto highest = peak.load (std::memory_order_relaxed);

    while (now > highest && ! peak.compare_exchange_weak (highest, now, std::memory_order_relaxed))
    {}
}

void removed (void* block) noexcept
{
    if (block != nullptr)
        live.fetch_sub ((std::int64_t) malloc_usable_size (block), std::memory_order_relaxed);
}
} // namespace

namespace allocation
{
bool available() noexcept { return MORVIK_REPLACES_MALLOC != 0; }

Watch::Watch() noexcept
    : start (callsOnThread),
      outerWatching (watching)
{
    watching = true;
}
Watch::~Watch() { watching = outerWatching; }
long Watch::calls() const noexcept { return callsOnThread - start; }

std::int64_t liveBytes() noexcept { return live.load(); }
std::int64_t peakBytes() noexcept { return peak.load(); }
void resetPeak() noexcept { peak.store (live.load()); }
} // namespace allocation

#if MORVIK_REPLACES_MALLOC
extern "C"
{
    void* __libc_malloc (size_t);
    void __libc_free (void*);
    void* __libc_calloc (size_t, size_t);
    void* __libc_realloc (void*, size_t);
    void* __libc_memalign (size_t, size_t);
    void* __libc_valloc (size_t);
    void* __libc_pvalloc (size_t);

    void* malloc (size_t size) noexcept
    {
        call();
        auto* block = __libc_malloc (size);
        added (block);
        return block;
    }

    void free (void* block) noexcept
    {
        call (block != nullptr);
        removed (block);
        __libc_free (block);
    }

    void* calloc (size_t count, size_t size) noexcept
    {
        call();
        auto* block = __libc_calloc (count, size);
        added (block);
        return block;
    }

    void* realloc (void* block, size_t size) noexcept
    {
        call();
        const auto before = block != nullptr ? (std::int64_t) malloc_usable_size (block) : 0;
        auto* moved = __libc_realloc (block, size);

        if (moved != nullptr || size == 0)
        {
            live.fetch_sub (before, std::memory_order_relaxed);
            added (moved);
        }

        return moved;
    }

    void* memalign (size_t alignment, size_t size) noexcept
    {
        call();
        auto* block = __libc_memalign (alignment, size);
        added (block);
        return block;
    }

    void* aligned_alloc (size_t alignment, size_t size) noexcept { return memalign (alignment, size); }

    int posix_memalign (void** result, size_t alignment, size_t size) noexcept
    {
        if (alignment % sizeof (void*) != 0 || (alignment & (alignment - 1)) != 0)
            return EINVAL;

        auto* block = memalign (alignment, size);

        if (block == nullptr && size != 0)
            return ENOMEM;

        *result = block;
        return 0;
    }

    void* valloc (size_t size) noexcept
    {
        call();
        auto* block = __libc_valloc (size);
        added (block);
        return block;
    }

    void* pvalloc (size_t size) noexcept
    {
        call();
        auto* block = __libc_pvalloc (size);
        added (block);
        return block;
    }
}
#endif
