#include "engine/ParameterLayout.h"
#include "engine/ParameterIds.h"
#include "engine/PluginProcessor.h"

#include <cmath>
#include <cstdio>

namespace
{
// Fixed notation with d decimals, the way the standard library rounds it.
juce::String fixed (double value, int decimals)
{
    char text[64];
    std::snprintf (text, sizeof (text), "%.*f", decimals, value);
    return text;
}

// The standard library's default notation: six significant digits, no trailing zeros.
juce::String general (double value)
{
    char text[64];
    std::snprintf (text, sizeof (text), "%g", value);
    return text;
}

using ParameterIds::attackAuto;
using ParameterIds::releaseAuto;
} // namespace

namespace ParameterText
{
juce::String compress (float value, int) { return fixed (value, 1) + " dB"; }

juce::String ratio (float value, int)
{
    if (value > 19.9f)
        return "LIMITER";
    return fixed (value, 1);
}

juce::String attack (float value, int)
{
    if (value == attackAuto)
        return "AUTO";
    return fixed (value, 2) + " ms";
}

juce::String release (float value, int)
{
    if (value == releaseAuto)
        return "AUTO";
    if (value <= 100.0f)
        return fixed (value, 2) + " ms";
    if (value >= 1000.0f)
        return fixed (value * 0.001f, 2) + " s";
    return fixed (value, 1) + " ms";
}

juce::String makeup (float value, int) { return fixed (value, 1) + " dB "; }

juce::String character (float value, int)
{
    if (value == 0.0f)
        return "CLEAN";
    if (value == 100.0f)
        return "HOT !";
    return fixed (value, 1) + " %";
}

juce::String mix (float value, int) { return fixed (value * 100.0f, 1) + " %"; }

juce::String smooth (float value, int) { return juce::String ((int) value) + " %"; }

juce::String bandFrequency (float value, int)
{
    if (value < 100.0f)
        return fixed (value, 1) + " Hz";
    if (value < 1000.0f)
        return general (value) + " Hz";
    if (value < 10000.0f)
        return fixed (value / 1000.0f, 2) + " kHz";
    if (value < 20000.0f)
        return fixed (value / 1000.0f, 1) + " kHz";
    return "20 kHz";
}

juce::String bandGain (float value, int) { return fixed (value, 2) + " dB"; }

juce::String bandQ (float value, int) { return fixed (value, 2); }

float leadingNumber (const juce::String& text) { return text.getFloatValue(); }
} // namespace ParameterText

namespace FrequencyMapping
{
float toHz (float normalised) noexcept { return 20.0f * std::exp2 (10.0f * normalised); }

float toNormalised (float hz) noexcept { return std::log (hz / 20.0f) / 0.693147f / 10.0f; }

juce::NormalisableRange<float> makeRange()
{
    return { 20.0f, 20000.0f, [] (float, float, float normalised) { return toHz (normalised); },
             [] (float, float, float hz) { return toNormalised (hz); } };
}
} // namespace FrequencyMapping

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
            ParameterText::bandFrequency));
}

std::unique_ptr<juce::AudioParameterFloat> makePrmDb (const juce::String& id, const juce::String& name,
                                                      float defaultValue, const juce::String& label,
                                                      juce::AudioProcessorParameter::Category category)
{
    return std::make_unique<juce::AudioParameterFloat> (
        juce::ParameterID { id, 1 }, name, juce::NormalisableRange<float> (-24.0f, 24.0f, 0.01f, 1.0f), defaultValue,
        juce::AudioParameterFloatAttributes()
            .withLabel (label)
            .withCategory (category)
            .withStringFromValueFunction (ParameterText::bandGain)
            .withValueFromStringFunction (ParameterText::leadingNumber));
}

std::unique_ptr<juce::AudioParameterFloat> makePrmFloat (const juce::String& id, const juce::String& name,
                                                         float rangeStart, float rangeEnd, float step,
                                                         float defaultValue, const juce::String& label)
{
    return std::make_unique<juce::AudioParameterFloat> (
        juce::ParameterID { id, 1 }, name, juce::NormalisableRange<float> (rangeStart, rangeEnd, step, 0.1f),
        defaultValue,
        juce::AudioParameterFloatAttributes()
            .withLabel (label)
            .withStringFromValueFunction (ParameterText::bandQ)
            .withValueFromStringFunction (ParameterText::leadingNumber));
}
} // namespace eq

juce::AudioProcessorValueTreeState::ParameterLayout MorvikAudioProcessor::createParameters()
{
    std::vector<std::unique_ptr<juce::RangedAudioParameter>> parameters;

    const auto addFloat = [&parameters] (const char* id, float start, float end, float step, float skew,
                                         float defaultValue, const char* label, juce::String (*toText) (float, int)) {
        parameters.push_back (std::make_unique<juce::AudioParameterFloat> (
            juce::ParameterID { id, 1 }, id, juce::NormalisableRange<float> (start, end, step, skew), defaultValue,
            juce::AudioParameterFloatAttributes()
                .withLabel (label)
                .withCategory (juce::AudioProcessorParameter::genericParameter)
                .withStringFromValueFunction (toText)));
    };

    parameters.push_back (
        std::make_unique<juce::AudioParameterBool> (juce::ParameterID { ParameterIds::power, 1 }, "On Button", true));
    addFloat (ParameterIds::compress, 0.0f, 70.0f, 0.1f, 1.0f, 15.0f, "", ParameterText::compress);
    addFloat (ParameterIds::ratio, 1.1f, 20.0f, 0.1f, 0.5f, 4.0f, "", ParameterText::ratio);
    addFloat (ParameterIds::attack, 0.0f, ParameterIds::attackAuto, 0.01f, 0.5f, 10.0f, "ms", ParameterText::attack);
    addFloat (ParameterIds::release, 5.0f, ParameterIds::releaseAuto, 1.0f, 0.35f, 40.0f, "", ParameterText::release);
    addFloat (ParameterIds::makeup, -8.0f, 30.0f, 0.1f, 1.0f, 2.0f, "", ParameterText::makeup);
    addFloat (ParameterIds::character, 0.0f, 100.0f, 1.0f, 1.0f, 30.0f, "%", ParameterText::character);
    addFloat (ParameterIds::mix, 0.0f, 1.0f, 0.001f, 1.0f, 1.0f, "%", ParameterText::mix);
    addFloat (ParameterIds::smooth, 0.0f, 100.0f, 1.0f, 1.0f, 50.0f, "%", ParameterText::smooth);

    const int defaultTypes[] = { 1, 2, 3 };
    const float defaultFrequencies[] = { 100.0f, 700.0f, 4000.0f };
    const float defaultQs[] = { 0.8f, 1.0f, 0.8f };

    for (int band = 0; band < 3; ++band)
    {
        const auto id = [this, band] (const char* suffix) { return bandParameterId (band + 1, suffix); };
        const juce::String name = "Band" + juce::String (band + 1) + " ";

        parameters.push_back (eq::makePrmBool (id (ParameterIds::bandOn), name + "On", true, "On"));
        parameters.push_back (eq::makePrmChoice (id (ParameterIds::bandType), name + "Type", bandTypeChoices,
                                                 defaultTypes[band], "Type"));
        parameters.push_back (
            eq::makePrmFreq (id (ParameterIds::bandFreq), name + "Freq", defaultFrequencies[band], "Frequency"));
        parameters.push_back (eq::makePrmDb (id (ParameterIds::bandGain), name + "Gain", 0.0f, "Gain",
                                             juce::AudioProcessorParameter::genericParameter));
        parameters.push_back (
            eq::makePrmFloat (id (ParameterIds::bandQ), name + "Q", 0.2f, 20.0f, 0.01f, defaultQs[band], "Q"));
    }

    return { parameters.begin(), parameters.end() };
}
