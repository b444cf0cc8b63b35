#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

// Value-to-text rules of the 24 parameters and the factories of the band parameters. The rules are
// free functions so that hosts, the editor and the tests all see exactly the same texts.
namespace ParameterText
{
juce::String compress (float value, int maximumLength);
juce::String ratio (float value, int maximumLength);
juce::String attack (float value, int maximumLength);
juce::String release (float value, int maximumLength);
juce::String makeup (float value, int maximumLength);
juce::String character (float value, int maximumLength);
juce::String mix (float value, int maximumLength);
juce::String smooth (float value, int maximumLength);
juce::String bandFrequency (float value, int maximumLength);
juce::String bandGain (float value, int maximumLength);
juce::String bandQ (float value, int maximumLength);

// The leading decimal number of a text, 0 when it starts with none.
float leadingNumber (const juce::String& text);
} // namespace ParameterText

// The ten-octave logarithmic axis shared by the band frequencies and the editor's graph.
namespace FrequencyMapping
{
float toHz (float normalised) noexcept;
float toNormalised (float hz) noexcept;
juce::NormalisableRange<float> makeRange();
} // namespace FrequencyMapping

namespace eq
{
std::unique_ptr<juce::AudioParameterBool> makePrmBool (const juce::String& id, const juce::String& name,
                                                       bool defaultValue, const juce::String& label);
std::unique_ptr<juce::AudioParameterChoice> makePrmChoice (const juce::String& id, const juce::String& name,
                                                           const juce::StringArray& choices, int defaultIndex,
                                                           const juce::String& label);
std::unique_ptr<juce::AudioParameterFloat> makePrmFreq (const juce::String& id, const juce::String& name,
                                                        float defaultValue, const juce::String& label);
std::unique_ptr<juce::AudioParameterFloat> makePrmDb (const juce::String& id, const juce::String& name,
                                                      float defaultValue, const juce::String& label,
                                                      juce::AudioProcessorParameter::Category category);
std::unique_ptr<juce::AudioParameterFloat> makePrmFloat (const juce::String& id, const juce::String& name,
                                                         float rangeStart, float rangeEnd, float step,
                                                         float defaultValue, const juce::String& label);
} // namespace eq
