#pragma once

#include "editor/MeterBackground.h"
#include "editor/MeterNeedle.h"

// The round history meter: a shaded disc with the gain-reduction and input-level plot on top. The
// editor feeds the needle's histories; the meter reads nothing from the processor itself.
class Meter : public juce::Component
{
public:
    Meter();

    void paint (juce::Graphics& g) override;
    void resized() override;

    MeterBackground background;
    MeterNeedle needle;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Meter)
};
