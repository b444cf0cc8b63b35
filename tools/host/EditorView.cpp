#include "EditorView.h"

#include <dlfcn.h>
#include <iostream>

namespace hostkit
{
// The window tree as the X server has it, on a connection of its own. The framework loads Xlib at
// run time; the same library is taken here rather than linked.
class ViewGuard::XTree
{
public:
    XTree()
    {
        if (xlib != nullptr)
        {
            open = reinterpret_cast<void* (*) (const char*)> (dlsym (xlib, "XOpenDisplay"));
            close = reinterpret_cast<int (*) (void*)> (dlsym (xlib, "XCloseDisplay"));
            queryTree = reinterpret_cast<QueryTree> (dlsym (xlib, "XQueryTree"));
            geometry = reinterpret_cast<Geometry> (dlsym (xlib, "XGetGeometry"));
            free = reinterpret_cast<int (*) (void*)> (dlsym (xlib, "XFree"));
        }

        if (open != nullptr && close != nullptr && queryTree != nullptr && geometry != nullptr && free != nullptr)
            display = open (nullptr);
    }

    ~XTree()
    {
        if (display != nullptr)
            close (display);
    }

    // The size at which the deepest window under the top-level `window` (the plug-in's own view, at
    // the bottom of the host's embedding) fills it and shows whole, not clipped by a window between
    // them; empty when it does not, or while the server does not know the window.
    juce::Rectangle<int> filledSize (unsigned long window)
    {
        View deepest;
        int deepestLevel = -1;
        visit (window, {}, {}, 0, deepest, deepestLevel);
        return deepestLevel > 0 && deepest.bounds == deepest.top && deepest.visible == deepest.bounds
                   ? deepest.top
                   : juce::Rectangle<int>();
    }

private:
    using QueryTree = int (*) (void*, unsigned long, unsigned long*, unsigned long*, unsigned long**, unsigned*);
    using Geometry = int (*) (void*, unsigned long, unsigned long*, int*, int*, unsigned*, unsigned*, unsigned*,
                              unsigned*);

    // In the top window's coordinates.
    struct View
    {
        juce::Rectangle<int> top, bounds, visible;
    };

    void visit (unsigned long window, juce::Point<int> origin, juce::Rectangle<int> clip, int level, View& deepest,
                int& deepestLevel)
    {
        unsigned long root = 0, parent = 0, *children = nullptr;
        int x = 0, y = 0;
        unsigned width = 0, height = 0, border = 0, depth = 0, count = 0;

        if (display == nullptr || geometry (display, window, &root, &x, &y, &width, &height, &border, &depth) == 0)
            return;

        const auto bounds = level == 0 ? juce::Rectangle<int> ((int) width, (int) height)
                                       : juce::Rectangle<int> (origin.x + x, origin.y + y, (int) width, (int) height);
        const auto visible = level == 0 ? bounds : bounds.getIntersection (clip);

        if (level > deepestLevel || (level == deepestLevel && visible.getWidth() > deepest.visible.getWidth()))
            deepest = { level == 0 ? bounds : deepest.top, bounds, visible }, deepestLevel = level;

        if (queryTree (display, window, &root, &parent, &children, &count) == 0)
            return;

        for (unsigned i = 0; i < count; ++i)
            visit (children[i], bounds.getPosition(), visible, level + 1, deepest, deepestLevel);

        if (children != nullptr)
            free (children);
    }

    void* xlib = dlopen ("libX11.so.6", RTLD_NOW | RTLD_GLOBAL);
    void* display = nullptr;
    void* (*open) (const char*) = nullptr;
    int (*close) (void*) = nullptr;
    QueryTree queryTree = nullptr;
    Geometry geometry = nullptr;
    int (*free) (void*) = nullptr;
};

ViewGuard::ViewGuard (juce::Component& e, unsigned long id)
    : editor (e),
      window (id),
      tree (std::make_unique<XTree>())
{
    startTimer (100);
}

ViewGuard::~ViewGuard() = default;

bool ViewGuard::viewShown() { return tree->filledSize (window) == editor.getLocalBounds(); }

void ViewGuard::timerCallback()
{
    if (nudged)
    {
        editor.setSize (editor.getWidth(), editor.getHeight() - 1);
        nudged = false;
    }
    else if (! tree->filledSize (window).isEmpty())
        staleChecks = 0;
    else if (++staleChecks >= 10)
    {
        std::cerr << "the plug-in's view does not fill its window: resizing" << std::endl;
        editor.setSize (editor.getWidth(), editor.getHeight() + 1);
        nudged = true;
        staleChecks = 0;
    }
}

bool waitForView (ViewGuard& guard)
{
    for (int waited = 0; waited < 60000; waited += 50)
    {
        if (guard.viewShown())
            return true;
        juce::MessageManager::getInstance()->runDispatchLoopUntil (50);
    }
    return false;
}
} // namespace hostkit
