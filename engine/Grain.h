#pragma once
// Placeholder interface; the colour stage is written in its own change.
#include <juce_dsp/juce_dsp.h>

template <typename SampleType>
class Grain
{
public:
    void prepare (const juce::dsp::ProcessSpec&) {}
    void process (const juce::dsp::ProcessContextReplacing<SampleType>&) {}
};
