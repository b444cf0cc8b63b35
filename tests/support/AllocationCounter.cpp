#include "AllocationCounter.h"

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <malloc.h>

namespace
{
__attribute__ ((tls_model ("initial-exec"))) thread_local counting::OnThread here {};

std::atomic<std::int64_t> live { 0 };
std::atomic<std::int64_t> peak { 0 };

[[maybe_unused]] void added (void* block) noexcept
{
    if (block == nullptr)
        return;

    const auto size = (std::int64_t) malloc_usable_size (block);
    const auto now = live.fetch_add (size, std::memory_order_relaxed) + size;
    auto highest = peak.load (std::memory_order_relaxed);

    while (now > highest && ! peak.compare_exchange_weak (highest, now, std::memory_order_relaxed))
    {}
}

[[maybe_unused]] void removed (void* block) noexcept
{
    if (block != nullptr)
        live.fetch_sub ((std::int64_t) malloc_usable_size (block), std::memory_order_relaxed);
}
} // namespace

namespace allocation
{
bool available() noexcept { return ! MORVIK_SANITIZED; }

Watch::Watch() noexcept
    : counting::Watch (here)
{}

std::int64_t liveBytes() noexcept { return live.load(); }
std::int64_t peakBytes() noexcept { return peak.load(); }
void resetPeak() noexcept { peak.store (live.load()); }
} // namespace allocation

#if ! MORVIK_SANITIZED
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
        here.call();
        auto* block = __libc_malloc (size);
        added (block);
        return block;
    }

    void free (void* block) noexcept
    {
        if (block != nullptr)
            here.call();
        removed (block);
        __libc_free (block);
    }

    void* calloc (size_t count, size_t size) noexcept
    {
        here.call();
        auto* block = __libc_calloc (count, size);
        added (block);
        return block;
    }

    void* realloc (void* block, size_t size) noexcept
    {
        here.call();
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
        here.call();
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
        here.call();
        auto* block = __libc_valloc (size);
        added (block);
        return block;
    }

    void* pvalloc (size_t size) noexcept
    {
        here.call();
        auto* block = __libc_pvalloc (size);
        added (block);
        return block;
    }
}
#endif
