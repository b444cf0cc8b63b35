#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

// The hidden controls of one detector band that carry the band coupling. Stand-in until the band
// editors land: plain controls bound to nothing.
class BandEditor : public juce::Component
{
public:
    BandEditor (juce::AudioProcessorValueTreeState&, int band);

    juce::ComboBox typeBox;
    juce::Slider gainSlider, qSlider;
};
