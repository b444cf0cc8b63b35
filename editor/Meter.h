#pragma once

#include "editor/MeterBackground.h"
#include "editor/MeterNeedle.h"

// The round history meter: a shaded disc with the gain-reduction and input-level plot on top. The
// editor hands it a pair of values on every tick; the meter reads nothing from the processor itself.
class Meter : public juce::Component
{
public:
    Meter();

    void paint (juce::Graphics& g) override;
    void resized() override;

    // One tick: both values enter the histories at the newest place, every older value moves one
    // place on and the oldest drops out, so the time axis stays even whether or not values change.
    void pushValues (float gainReduction, float inputLevel);
    // Both histories back to zero, the plot and the disc redrawn (the power switch flipped).
    void clearHistory();

    MeterBackground background;
    MeterNeedle needle;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Meter)
};
