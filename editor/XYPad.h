#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <utility>
#include <vector>

// The three band handles over the graph. Stand-in until the pad lands: it keeps the parameters and
// draws nothing.
class XYPad : public juce::Component
{
public:
    using BandParameters = std::pair<juce::RangedAudioParameter*, juce::RangedAudioParameter*>; // (freq, gain)
    explicit XYPad (const std::vector<BandParameters>& bands); // band order 1, 2, 3

    int selectedIndex = 0;
    std::vector<BandParameters> bands;
};
