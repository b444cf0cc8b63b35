#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

// The meter's history plot. Stand-in until the meter's own drawing lands: it holds the two
// histories the editor feeds and draws nothing.
class MeterNeedle : public juce::Component
{
public:
    MeterNeedle();
    void setMode (int);
    void paint (juce::Graphics&) override;
    void resized() override;

    std::array<float, 80> historyA {}; // gain reduction, dB, index 0 newest
    std::array<float, 80> historyB {}; // input level, linear, index 0 newest
    int minDb = -30, maxDb = 0;
};
