#include "HostKit.h"

// Finding a hosted parameter by the identifier the plug-in declares, and setting it from plain
// values or value texts.
namespace hostkit
{
juce::String hostParameterId (const juce::AudioProcessorParameter& parameter)
{
    if (auto* hosted = dynamic_cast<const juce::HostedAudioProcessorParameter*> (&parameter))
        return hosted->getParameterID();

    if (auto* withId = dynamic_cast<const juce::AudioProcessorParameterWithID*> (&parameter))
        return withId->getParameterID();

    return juce::String (parameter.getParameterIndex());
}

static juce::String vst3NumberFor (const juce::String& id)
{
    // JUCE's VST3 wrapper numbers a parameter by the hash of its identifier with the top bit cleared.
    auto hash = (juce::uint32) id.hashCode();
    hash &= 0x7fffffffu;
    return juce::String (hash);
}

bool matchesId (const juce::AudioProcessorParameter& parameter, const juce::String& id)
{
    const auto hostId = hostParameterId (parameter);

    if (hostId == id || hostId.endsWith (":" + id) || hostId.endsWith ("#" + id) || hostId.endsWith ("/" + id))
        return true;

    // The LV2 build names the band parameters "Band1On" and so on.
    if (hostId.endsWith (":Band" + id) || hostId.endsWith ("#Band" + id))
        return true;

    if (hostId == vst3NumberFor (id))
        return true;

    return false;
}

juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& instance, const juce::String& id)
{
    for (auto* parameter : instance.getParameters())
        if (matchesId (*parameter, id))
            return parameter;

    for (auto* parameter : instance.getParameters())
        if (parameter->getName (1024) == id)
            return parameter;

    return nullptr;
}

static bool isInteger (const juce::String& text)
{
    const auto trimmed = text.trim();
    return trimmed.isNotEmpty() && trimmed.containsOnly ("-0123456789") && trimmed.getLastCharacter() != '-';
}

float normalisedFor (const juce::AudioProcessorParameter& parameter, const juce::String& plainOrText)
{
    const auto steps = parameter.getNumSteps();
    const bool fewSteps = parameter.isDiscrete() && steps >= 2 && steps <= 64;

    if (! fewSteps)
        return juce::jlimit (0.0f, 1.0f, parameter.getValueForText (plainOrText));

    // A switch or a choice: a value text picks its step; a whole number is either the value in
    // the parameter's units (an LV2 integer port) or, when the plug-in cannot read it back as
    // such, the index of the step (VST3 switches and choices).
    for (int step = 0; step < steps; ++step)
    {
        const auto value = (float) step / (float) (steps - 1);

        if (parameter.getText (value, 1024).trim().equalsIgnoreCase (plainOrText.trim()))
            return value;
    }

    if (isInteger (plainOrText))
    {
        const auto asValue = juce::jlimit (0.0f, 1.0f, parameter.getValueForText (plainOrText));
        const auto readBack = parameter.getText (asValue, 1024).trim();

        if (isInteger (readBack) && readBack.getIntValue() == plainOrText.getIntValue())
            return asValue;

        const auto index = juce::jlimit (0, steps - 1, plainOrText.getIntValue());
        return (float) index / (float) (steps - 1);
    }

    return juce::jlimit (0.0f, 1.0f, parameter.getValueForText (plainOrText));
}

bool setParameter (juce::AudioPluginInstance& instance, const juce::String& id, const juce::String& plainOrText,
                   juce::String& error)
{
    auto* parameter = findParameter (instance, id);

    if (parameter == nullptr)
    {
        error = "no parameter \"" + id + "\"";
        return false;
    }

    const auto value = normalisedFor (*parameter, plainOrText);
    // The host's own path: a gesture around the change, as an automation write would do.
    parameter->beginChangeGesture();
    parameter->setValueNotifyingHost (value);
    parameter->endChangeGesture();
    return true;
}
} // namespace hostkit
