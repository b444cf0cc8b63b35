#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The meter's shaded disc. Stand-in until the meter's own drawing lands: it draws nothing.
class MeterBackground : public juce::Component
{
public:
    MeterBackground();
    void paint (juce::Graphics&) override;
    void resized() override;

    juce::ColourGradient gradient;
};
