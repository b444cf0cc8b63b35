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

// The tests link with --wrap for the framework's out-of-line SpinLock::enter() (tests/CMakeLists.txt),
// so every call to it from another file comes here first.
extern "C" void __real__ZNK4juce8SpinLock5enterEv (const void* lock) noexcept;
extern "C" void __wrap__ZNK4juce8SpinLock5enterEv (const void* lock) noexcept
{
    here.call();
    __real__ZNK4juce8SpinLock5enterEv (lock);
}
