#pragma once

#include "editor/MeterBackground.h"
#include "editor/MeterNeedle.h"

// The round history meter: a background disc with the needle plot on top.
class Meter : public juce::Component
{
public:
    Meter();
    void resized() override;

    MeterBackground background;
    MeterNeedle needle;
};
