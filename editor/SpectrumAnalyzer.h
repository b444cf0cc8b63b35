#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

class MorvikAudioProcessor;

// The spectrum of the detector signal behind the graph. Stand-in until the analyser lands: it
// reads nothing from the feed.
class SpectrumAnalyzer : public juce::Component, private juce::Timer
{
public:
    explicit SpectrumAnalyzer (MorvikAudioProcessor&);

    MorvikAudioProcessor& processor;

private:
    void timerCallback() override;
};
