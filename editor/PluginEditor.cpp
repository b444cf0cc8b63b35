#include "editor/PluginEditor.h"
#include "engine/PluginProcessor.h"

MorvikAudioProcessorEditor::MorvikAudioProcessorEditor (MorvikAudioProcessor& p,
                                                        juce::AudioProcessorValueTreeState& vts)
    : juce::AudioProcessorEditor (p),
      audioProcessor (p),
      apvts (vts)
{
    setOpaque (true);
    setResizable (true, false);
    getConstrainer()->setFixedAspectRatio (900.0f / 530.0f);
    setSize (audioProcessor.editorWidth, audioProcessor.editorHeight);
    setResizeLimits (450, 265, 1800, 1060);

    // One second of mono detector signal for the analyser; 48000 samples while no rate is known.
    const double rate = audioProcessor.sampleRate.load();
    audioProcessor.resizeAnalyserFeed (rate > 0.0 ? (int) rate : 48000);
    audioProcessor.analyserEnabled.store (true);
}

MorvikAudioProcessorEditor::~MorvikAudioProcessorEditor() { audioProcessor.analyserEnabled.exchange (false); }

void MorvikAudioProcessorEditor::paint (juce::Graphics& g) { g.fillAll (juce::Colour (0xff1d1b2e)); }

void MorvikAudioProcessorEditor::resized()
{
    audioProcessor.editorWidth = getWidth();
    audioProcessor.editorHeight = getHeight();
}
