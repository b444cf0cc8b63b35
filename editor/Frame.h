#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The equaliser graph's background and grid. Stand-in until the graph's own drawing lands.
class Frame : public juce::Component
{
public:
    Frame();
    void paint (juce::Graphics&) override;
    void resized() override;
};
