#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace hostkit
{
// JUCE's LV2 hosting shows the plug-in's view through two nested XEmbed windows. On a busy machine
// the inner one now and then keeps a stale size (1 x 1 when the view first opens, the former size
// after a resize), and the view stays clipped or out of step with the window until the size changes
// again. While the view has not filled the window for a second, the editor is resized by a pixel and
// back, as a user would drag the window's corner. A VST3 view always fills its window.
class ViewGuard : private juce::Timer
{
public:
    // `window` is the X window that holds `editor`.
    ViewGuard (juce::Component& editor, unsigned long window);
    ~ViewGuard() override;

    // The plug-in's view fills the window, at the editor's size.
    bool viewShown();

private:
    // The window tree as the X server has it.
    class XTree;

    void timerCallback() override;

    juce::Component& editor;
    const unsigned long window;
    std::unique_ptr<XTree> tree;
    int staleChecks = 0;
    bool nudged = false;
};

// Runs the message loop until the plug-in's view fills the window, for at most a minute.
bool waitForView (ViewGuard& guard);
} // namespace hostkit
