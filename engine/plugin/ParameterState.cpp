#include "engine/plugin/ParameterState.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace
{
bool readNumber (const juce::var& value, double& number)
{
    if (value.isInt() || value.isInt64() || value.isDouble() || value.isBool())
    {
        number = (double) value;
        return std::isfinite (number);
    }

    if (value.isString())
    {
        const auto text = value.toString().trim();
        if (text.isEmpty() || ! text.containsOnly ("0123456789+-.eE"))
            return false;
        number = text.getDoubleValue();
        return std::isfinite (number);
    }

    return false;
}

// The value to hand to the parameter tree for a parameter that should end up at `value`. The tree
// sets, and so reports to the host, every parameter whose new value differs from the one it holds,
// compared exactly. Some values cannot be held exactly: the frequency axis maps plain to normalised
// and back with slightly different constants, so 40 Hz comes back as 40.000004 Hz, and loading the
// same preset twice would report every frequency as changed again. A value that normalises to
// within a hair of the current one (far less than any step of any parameter) is therefore handed
// over as the current value itself, which the tree recognises as no change.
double valueToRestore (const juce::RangedAudioParameter& parameter, float current, double value,
                       ParameterState::Recall recall)
{
    constexpr float sameNormalisedValue = 1.0e-5f;

    if (recall == ParameterState::Recall::preset
        && std::abs (parameter.convertTo0to1 (current) - parameter.convertTo0to1 ((float) value))
               <= sameNormalisedValue)
        return (double) current;

    return value;
}

const juce::Identifier idProperty ("id");
const juce::Identifier valueProperty ("value");

// The plain value a parameter holds. A float parameter keeps its own; the tree's raw value is the
// plain value of its normalised value, which is not always the same.
float heldValue (juce::RangedAudioParameter& parameter, const juce::AudioProcessorValueTreeState& parameters)
{
    if (auto* floatParameter = dynamic_cast<juce::AudioParameterFloat*> (&parameter))
        return floatParameter->get();

    return parameters.getRawParameterValue (parameter.getParameterID())->load();
}
} // namespace

namespace ParameterState
{
juce::ValueTree copyExact (juce::AudioProcessorValueTreeState& parameters)
{
    auto tree = parameters.copyState();

    for (auto child : tree)
        if (auto* parameter = parameters.getParameter (child.getProperty (idProperty).toString()))
            child.setProperty (valueProperty, heldValue (*parameter, parameters), nullptr);

    return tree;
}

bool sanitise (juce::ValueTree& tree, const juce::AudioProcessorValueTreeState& parameters, Recall recall)
{
    if (! tree.isValid() || tree.getType() != parameters.state.getType())
        return false;

    static const juce::Identifier parameterType ("PARAM");

    // What keeps a parameter as it is: the tree's own value for a preset, which the tree then sees
    // as no change; the value the parameter holds for an exact recall, which sets it to just that.
    const auto unchanged = [&parameters, recall] (juce::RangedAudioParameter& parameter) {
        return recall == Recall::exact ? heldValue (parameter, parameters)
                                       : parameters.getRawParameterValue (parameter.getParameterID())->load();
    };

    // What comes back is a fresh tree with one entry per parameter, holding its id and value alone.
    // The parameter tree saves back whatever its state holds, so anything else a state carried
    // (entries of unknown ids, repeated entries, extra properties, children, an id of megabytes) would
    // ride along in every later save.
    juce::ValueTree kept (tree.getType());

    const auto entryFor = [&kept] (const juce::String& id) {
        auto entry = kept.getChildWithProperty (idProperty, id);
        if (! entry.isValid())
        {
            entry = juce::ValueTree (parameterType).setProperty (idProperty, id, nullptr);
            kept.appendChild (entry, nullptr);
        }
        return entry;
    };

    for (const auto& child : tree)
    {
        // The parameter tree binds any child that names a parameter, whatever its type. A damaged entry
        // of another type is passed over, so the parameter keeps its value.
        if (! child.hasType (parameterType))
            continue;

        auto id = child.getProperty (idProperty).toString();
        auto* parameter = parameters.getParameter (id);

        // The LV2 build names band parameters "Band1On" where the others say "1On"; a state or
        // preset written by either reads in both.
        if (parameter == nullptr)
        {
            id = id.startsWith ("Band") ? id.substring (4) : "Band" + id;
            parameter = parameters.getParameter (id);
        }

        if (parameter == nullptr)
            continue;

        const auto current = parameters.getRawParameterValue (id)->load();
        double value = unchanged (*parameter);

        // Without a value the parameter takes its default, which is the parameter tree's own rule;
        // writing the default out keeps a reload quiet and the saved state complete.
        if (! child.hasProperty (valueProperty))
        {
            value =
                valueToRestore (*parameter, current, parameter->convertFrom0to1 (parameter->getDefaultValue()), recall);
        }
        else if (double number = 0.0; readNumber (child.getProperty (valueProperty), number))
        {
            const auto range = parameter->getNormalisableRange();
            value = valueToRestore (*parameter, current,
                                    juce::jlimit ((double) range.start, (double) range.end, number), recall);
        }

        // Of several entries for one parameter the last one counts, as it does in the parameter tree.
        entryFor (id).setProperty (valueProperty, value, nullptr);
    }

    // The parameter tree gives a parameter that the new state does not name a fresh entry, and a
    // fresh entry means the default. Naming it with its current value keeps it as it is.
    for (auto* parameter : parameters.processor.getParameters())
        if (auto* ranged = dynamic_cast<juce::RangedAudioParameter*> (parameter))
            if (auto entry = entryFor (ranged->getParameterID()); ! entry.hasProperty (valueProperty))
                entry.setProperty (valueProperty, unchanged (*ranged), nullptr);

    tree = kept;
    return true;
}

float exactNormalised (const juce::RangedAudioParameter& parameter, float plain)
{
    const auto direct = parameter.convertTo0to1 (plain);

    if (parameter.convertFrom0to1 (direct) == plain)
        return direct;

    // convertFrom0to1 never falls as its argument rises, and non-negative floats are ordered like
    // their bit patterns: bisect the patterns of 0 to 1 for the first value that reaches `plain`.
    const auto toFloat = [] (juce::uint32 bits) {
        float value;
        std::memcpy (&value, &bits, sizeof (value));
        return value;
    };
    const auto one = 1.0f;
    juce::uint32 low = 0, high;
    std::memcpy (&high, &one, sizeof (high));

    while (low < high)
    {
        const auto middle = low + (high - low) / 2;

        if (parameter.convertFrom0to1 (toFloat (middle)) < plain)
            low = middle + 1;
        else
            high = middle;
    }

    return parameter.convertFrom0to1 (toFloat (low)) == plain ? toFloat (low) : direct;
}

bool restore (juce::AudioProcessorValueTreeState& parameters, const void* data, size_t numBytes, Recall recall)
{
    auto tree = parse (data, numBytes);

    if (! sanitise (tree, parameters, recall))
        return false;

    if (recall == Recall::preset)
    {
        parameters.replaceState (tree);
        return true;
    }

    // The tree converts every plain value to a normalised one with the parameter's direct conversion,
    // which can land a few units in the last place off. So the tree is handed each parameter's current
    // value, which it leaves alone, and each parameter is then set to the normalised value that gives
    // back exactly the saved plain value.
    std::vector<std::pair<juce::RangedAudioParameter*, float>> targets;

    for (auto child : tree)
    {
        const auto id = child.getProperty (idProperty).toString();

        if (auto* parameter = parameters.getParameter (id))
        {
            targets.emplace_back (parameter, (float) (double) child.getProperty (valueProperty));
            child.setProperty (valueProperty, parameters.getRawParameterValue (id)->load(), nullptr);
        }
    }

    parameters.replaceState (tree);

    for (const auto& [parameter, plain] : targets)
        if (heldValue (*parameter, parameters) != plain)
            parameter->setValueNotifyingHost (exactNormalised (*parameter, plain));

    return true;
}
} // namespace ParameterState
