#include "LockCounter.h"

#include <dlfcn.h>
#include <pthread.h>

namespace
{
__attribute__ ((tls_model ("initial-exec"))) thread_local counting::OnThread here {};
} // namespace

namespace locks
{
bool available() noexcept { return ! MORVIK_SANITIZED; }

Watch::Watch() noexcept
    : counting::Watch (here)
{}
} // namespace locks

#if ! MORVIK_SANITIZED
// Each passes on to the C library's own function, looked up on first use.
#define MORVIK_COUNTED_LOCK(name, type)                                                         \
    extern "C" int name (type* lock) noexcept                                                   \
    {                                                                                           \
        static auto* const next = reinterpret_cast<int (*) (type*)> (dlsym (RTLD_NEXT, #name)); \
        here.call();                                                                            \
        return next (lock);                                                                     \
    }

MORVIK_COUNTED_LOCK (pthread_mutex_lock, pthread_mutex_t)
MORVIK_COUNTED_LOCK (pthread_rwlock_rdlock, pthread_rwlock_t)
MORVIK_COUNTED_LOCK (pthread_rwlock_wrlock, pthread_rwlock_t)
#endif
