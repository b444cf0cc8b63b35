#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class MorvikAudioProcessor;

// The detector equaliser's response over the graph. Stand-in until the curve's own drawing lands:
// it listens to nothing and never has anything to rebuild.
class FrequencyCurve : public juce::Component, public juce::AudioProcessorValueTreeState::Listener
{
public:
    explicit FrequencyCurve (MorvikAudioProcessor&);
    void parameterChanged (const juce::String&, float) override;
    void drawFrequencyCurve();
    bool rebuildIfStale();

    MorvikAudioProcessor& processor;
};
