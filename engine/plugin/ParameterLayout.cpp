#include "engine/plugin/ParameterLayout.h"
#include "engine/dsp/ParameterIds.h"
#include "engine/plugin/PluginProcessor.h"

#include <cmath>

namespace eq
{
std::unique_ptr<juce::AudioParameterBool> makePrmBool (const juce::String& id, const juce::String& name,
                                                       bool defaultValue, const juce::String& label)
{
    return std::make_unique<juce::AudioParameterBool> (juce::ParameterID { id, 1 }, name, defaultValue,
                                                       juce::AudioParameterBoolAttributes().withLabel (label));
}

std::unique_ptr<juce::AudioParameterChoice> makePrmChoice (const juce::String& id, const juce::String& name,
                                                           const juce::StringArray& choices, int defaultIndex,
                                                           const juce::String& label)
{
    return std::make_unique<juce::AudioParameterChoice> (juce::ParameterID { id, 1 }, name, choices, defaultIndex,
                                                         juce::AudioParameterChoiceAttributes().withLabel (label));
}

std::unique_ptr<juce::AudioParameterFloat> makePrmFreq (const juce::String& id, const juce::String& name,
                                                        float defaultValue, const juce::String& label)
{
    return std::make_unique<juce::AudioParameterFloat> (
        juce::ParameterID { id, 1 }, name, FrequencyMapping::makeRange(), defaultValue,
        juce::AudioParameterFloatAttributes().withLabel (label).withStringFromValueFunction (
            ParameterTable::bandParameter::freq.toText));
}

std::unique_ptr<juce::AudioParameterFloat> makePrmDb (const juce::String& id, const juce::String& name,
                                                      float defaultValue, const juce::String& label,
                                                      juce::AudioProcessorParameter::Category category)
{
    const auto& gain = ParameterTable::bandParameter::gain;
    return std::make_unique<juce::AudioParameterFloat> (
        juce::ParameterID { id, 1 }, name, juce::NormalisableRange<float> (gain.start, gain.end, gain.step, gain.skew),
        defaultValue,
        juce::AudioParameterFloatAttributes()
            .withLabel (label)
            .withCategory (category)
            .withStringFromValueFunction (gain.toText)
            .withValueFromStringFunction (ParameterText::leadingNumber));
}

std::unique_ptr<juce::AudioParameterFloat> makePrmFloat (const juce::String& id, const juce::String& name,
                                                         float rangeStart, float rangeEnd, float step,
                                                         float defaultValue, const juce::String& label)
{
    const auto& q = ParameterTable::bandParameter::q;
    return std::make_unique<juce::AudioParameterFloat> (
        juce::ParameterID { id, 1 }, name, juce::NormalisableRange<float> (rangeStart, rangeEnd, step, q.skew),
        defaultValue,
        juce::AudioParameterFloatAttributes()
            .withLabel (label)
            .withStringFromValueFunction (q.toText)
            .withValueFromStringFunction (ParameterText::leadingNumber));
}
} // namespace eq

// Walks the table: the nine global parameters are made here, the band parameters by the factories.
juce::AudioProcessorValueTreeState::ParameterLayout MorvikAudioProcessor::createParameters()
{
    using ParameterTable::Kind;
    constexpr auto generic = juce::AudioProcessorParameter::genericParameter;
    std::vector<std::unique_ptr<juce::RangedAudioParameter>> parameters;

    for (const auto& row : ParameterTable::rows)
    {
        const auto id = row.band == 0 ? juce::String (row.key) : bandParameterId (row.band, row.key);
        const auto name = ParameterTable::nameOf (row);
        const juce::String key (row.key);

        if (row.band == 0 && row.kind == Kind::toggle)
            parameters.push_back (std::make_unique<juce::AudioParameterBool> (juce::ParameterID { id, 1 }, name,
                                                                              row.defaultValue != 0.0f));
        else if (row.band == 0)
            parameters.push_back (std::make_unique<juce::AudioParameterFloat> (
                juce::ParameterID { id, 1 }, name,
                juce::NormalisableRange<float> (row.start, row.end, row.step, row.skew), row.defaultValue,
                juce::AudioParameterFloatAttributes()
                    .withLabel (row.label)
                    .withCategory (generic)
                    .withStringFromValueFunction (row.toText)));
        else if (row.kind == Kind::toggle)
            parameters.push_back (eq::makePrmBool (id, name, row.defaultValue != 0.0f, row.label));
        else if (row.kind == Kind::choice)
            parameters.push_back (eq::makePrmChoice (id, name, bandTypeChoices, (int) row.defaultValue, row.label));
        else if (key == ParameterIds::bandFreq)
            parameters.push_back (eq::makePrmFreq (id, name, row.defaultValue, row.label));
        else if (key == ParameterIds::bandGain)
            parameters.push_back (eq::makePrmDb (id, name, row.defaultValue, row.label, generic));
        else
            parameters.push_back (
                eq::makePrmFloat (id, name, row.start, row.end, row.step, row.defaultValue, row.label));
    }

    return { parameters.begin(), parameters.end() };
}
