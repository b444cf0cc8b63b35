#include "engine/plugin/ParameterState.h"

#include <cmath>
#include <cstring>
#include <vector>

namespace
{
// Value markers of the framework's var stream format.
enum Marker : juce::uint8
{
    markerInt = 1,
    markerBoolTrue = 2,
    markerBoolFalse = 3,
    markerDouble = 4,
    markerString = 5,
    markerInt64 = 6,
    markerArray = 7,
    markerBinary = 8,
    markerUndefined = 9
};

// Deeper nesting than this is not a parameter state; the limit keeps recursion off the stack edge.
constexpr int maximumDepth = 32;

class Parser
{
public:
    Parser (const void* data, size_t numBytes)
        : bytes (static_cast<const juce::uint8*> (data)),
          size (data != nullptr ? numBytes : 0)
    {}

    juce::ValueTree readTree (int depth)
    {
        if (depth > maximumDepth)
            return fail();

        juce::String type;
        if (! readString (type) || type.isEmpty())
            return fail();

        juce::ValueTree tree { juce::Identifier (type) };

        int numProperties = 0;
        if (! readCount (numProperties, 2))
            return fail();

        for (int i = 0; i < numProperties; ++i)
        {
            juce::String name;
            juce::var value;

            if (! readString (name) || name.isEmpty() || ! readVar (value, depth + 1))
                return fail();

            tree.setProperty (juce::Identifier (name), value, nullptr);
        }

        int numChildren = 0;
        if (! readCount (numChildren, 3))
            return fail();

        for (int i = 0; i < numChildren; ++i)
        {
            auto child = readTree (depth + 1);
            if (! child.isValid())
                return fail();

            tree.appendChild (child, nullptr);
        }

        return tree;
    }

    bool failed = false;

private:
    juce::ValueTree fail()
    {
        failed = true;
        return {};
    }

    size_t remaining() const noexcept { return size - position; }

    bool readBytes (void* destination, size_t count)
    {
        if (count > remaining())
            return false;

        if (count > 0)
            std::memcpy (destination, bytes + position, count);

        position += count;
        return true;
    }

    bool readString (juce::String& result)
    {
        const auto* start = bytes + position;
        const auto* end = bytes + size;
        const auto* terminator = static_cast<const juce::uint8*> (std::memchr (start, 0, (size_t) (end - start)));

        if (size == 0 || terminator == nullptr)
            return false;

        result = juce::String::fromUTF8 (reinterpret_cast<const char*> (start), (int) (terminator - start));
        position += (size_t) (terminator - start) + 1;
        return true;
    }

    bool readCompressedInt (int& result)
    {
        juce::uint8 sizeByte = 0;
        if (! readBytes (&sizeByte, 1))
            return false;

        const int numBytes = sizeByte & 0x7f;
        if (numBytes > 4)
            return false;

        juce::uint8 raw[4] = {};
        if (! readBytes (raw, (size_t) numBytes))
            return false;

        const auto magnitude = (juce::int64) juce::ByteOrder::littleEndianInt (raw);
        if (magnitude > std::numeric_limits<int>::max())
            return false;

        result = (sizeByte & 0x80) != 0 ? -(int) magnitude : (int) magnitude;
        return true;
    }

    // A count of items that each take at least minimumItemBytes: more than the bytes left means
    // the data is damaged, whatever the count claims.
    bool readCount (int& count, size_t minimumItemBytes)
    {
        return readCompressedInt (count) && count >= 0 && (size_t) count * minimumItemBytes <= remaining();
    }

    bool readVar (juce::var& result, int depth)
    {
        if (depth > maximumDepth)
            return false;

        int numBytes = 0;
        if (! readCompressedInt (numBytes) || numBytes < 0 || (size_t) numBytes > remaining())
            return false;

        if (numBytes == 0)
        {
            result = juce::var();
            return true;
        }

        const size_t payloadStart = position + 1;
        juce::uint8 marker = 0;
        readBytes (&marker, 1);
        const auto payloadBytes = (size_t) numBytes - 1;

        switch (marker)
        {
            case markerInt:
            {
                juce::uint8 raw[4];
                if (payloadBytes != 4 || ! readBytes (raw, 4))
                    return false;
                result = (int) juce::ByteOrder::littleEndianInt (raw);
                return true;
            }
            case markerInt64:
            {
                juce::uint8 raw[8];
                if (payloadBytes != 8 || ! readBytes (raw, 8))
                    return false;
                result = (juce::int64) juce::ByteOrder::littleEndianInt64 (raw);
                return true;
            }
            case markerDouble:
            {
                juce::uint8 raw[8];
                if (payloadBytes != 8 || ! readBytes (raw, 8))
                    return false;
                const auto bits = juce::ByteOrder::littleEndianInt64 (raw);
                double value;
                std::memcpy (&value, &bits, sizeof (value));
                result = value;
                return true;
            }
            case markerBoolTrue:
            case markerBoolFalse:
                result = marker == markerBoolTrue;
                return payloadBytes == 0;
            case markerString:
            {
                // The writer stores the text with its terminating zero.
                if (payloadBytes == 0)
                    return false;
                const auto* text = reinterpret_cast<const char*> (bytes + payloadStart);
                const auto length = strnlen (text, payloadBytes);
                result = juce::String::fromUTF8 (text, (int) length);
                position = payloadStart + payloadBytes;
                return true;
            }
            case markerBinary:
                result = juce::MemoryBlock (bytes + payloadStart, payloadBytes);
                position = payloadStart + payloadBytes;
                return true;
            case markerArray:
            {
                const auto end = payloadStart + payloadBytes;
                int count = 0;
                if (! readCount (count, 1))
                    return false;

                juce::Array<juce::var> items;
                for (int i = 0; i < count; ++i)
                {
                    juce::var item;
                    if (! readVar (item, depth + 1) || position > end)
                        return false;
                    items.add (item);
                }

                result = items;
                return position == end;
            }
            case markerUndefined:
                result = juce::var::undefined();
                position = payloadStart + payloadBytes;
                return true;
            default:
                // An unknown kind of value is skipped by its length, as the framework does.
                result = juce::var();
                position = payloadStart + payloadBytes;
                return true;
        }
    }

    const juce::uint8* bytes;
    size_t size;
    size_t position = 0;
};

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

juce::ValueTree parse (const void* data, size_t numBytes)
{
    if (data == nullptr || numBytes == 0)
        return {};

    Parser parser (data, numBytes);
    auto tree = parser.readTree (0);
    return parser.failed ? juce::ValueTree() : tree;
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
