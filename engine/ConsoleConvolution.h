#pragma once
// Placeholder interface; the colour stage is written in its own change.
#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_dsp/juce_dsp.h>

class ConsoleConvolution
{
public:
    void prepare (const juce::dsp::ProcessSpec&) {}
    void process (const juce::dsp::ProcessContextReplacing<float>&) {}
    void loadImpulseResponse (juce::AudioFormatManager&, const void*, size_t) {}
};
