#include "LockCounter.h"

#include <dlfcn.h>
#include <pthread.h>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define MORVIK_REPLACES_LOCKS 0
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define MORVIK_REPLACES_LOCKS 0
#endif
#endif
#ifndef MORVIK_REPLACES_LOCKS
#define MORVIK_REPLACES_LOCKS 1
#endif

namespace
{
// Initial-exec: reaching these from inside a lock call must not itself allocate or lock.
__attribute__ ((tls_model ("initial-exec"))) thread_local bool watching = false;
__attribute__ ((tls_model ("initial-exec"))) thread_local long callsOnThread = 0;
} // namespace

namespace locks
{
bool available() noexcept { return MORVIK_REPLACES_LOCKS != 0; }

Watch::Watch() noexcept
    : start (callsOnThread),
      outerWatching (watching)
{
    watching = true;
}
Watch::~Watch() { watching = outerWatching; }
long Watch::calls() const noexcept { return callsOnThread - start; }
} // namespace locks

#if MORVIK_REPLACES_LOCKS
// Each passes on to the C library's own function, looked up on first use.
#define MORVIK_COUNTED_LOCK(name, type)                                                         \
    extern "C" int name (type* lock) noexcept                                                   \
    {                                                                                           \
        static auto* const next = reinterpret_cast<int (*) (type*)> (dlsym (RTLD_NEXT, #name)); \
        if (watching)                                                                           \
            ++callsOnThread;                                                                    \
        return next (lock);                                                                     \
    }

MORVIK_COUNTED_LOCK (pthread_mutex_lock, pthread_mutex_t)
MORVIK_COUNTED_LOCK (pthread_rwlock_rdlock, pthread_rwlock_t)
MORVIK_COUNTED_LOCK (pthread_rwlock_wrlock, pthread_rwlock_t)
#endif
