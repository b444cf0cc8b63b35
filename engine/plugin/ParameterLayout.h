#pragma once

#include "engine/dsp/FrequencyMapping.h"
#include "engine/dsp/ParameterTable.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

// The factories of the band parameters. Each fixes what its table row (ParameterTable::bandParameter)
// shares among the three bands.
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
