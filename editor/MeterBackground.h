#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// The meter's shaded disc, behind the history plot.
class MeterBackground : public juce::Component
{
public:
    MeterBackground();

    void paint (juce::Graphics& g) override;
    void resized() override;

    juce::ColourGradient gradient;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MeterBackground)
};
