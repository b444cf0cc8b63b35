#pragma once

#include <dlfcn.h>

namespace hostkit
{
// Without a window manager (as under Xvfb) putting a window on screen raises harmless X errors (the
// server refuses some window properties), whose default handler ends the process. Installs a handler
// that ignores them; call it once the GUI is initialised and before a window opens. The framework
// loads Xlib at run time, so the same library is taken here rather than linked.
inline void tolerateXErrors()
{
    using Handler = int (*) (void*, void*);
    using SetHandler = Handler (*) (Handler);

    if (auto* xlib = dlopen ("libX11.so.6", RTLD_NOW | RTLD_GLOBAL))
        if (auto setHandler = reinterpret_cast<SetHandler> (dlsym (xlib, "XSetErrorHandler")))
            setHandler ([] (void*, void*) { return 0; });
}
} // namespace hostkit
