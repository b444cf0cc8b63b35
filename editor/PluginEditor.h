#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

class MorvikAudioProcessor;

// The plug-in's window. For now a plain resizable window that keeps its size in the processor and
// opens the analyser feed while it exists; its controls and drawing come with the editor's work.
class MorvikAudioProcessorEditor : public juce::AudioProcessorEditor
{
public:
    MorvikAudioProcessorEditor (MorvikAudioProcessor& processor, juce::AudioProcessorValueTreeState& parameters);
    ~MorvikAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    MorvikAudioProcessor& audioProcessor;
    juce::AudioProcessorValueTreeState& apvts;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MorvikAudioProcessorEditor)
};
