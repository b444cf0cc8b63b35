#include "engine/plugin/StateReader.h"

#include <cstring>

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
} // namespace

namespace ParameterState
{
juce::ValueTree parse (const void* data, size_t numBytes)
{
    if (data == nullptr || numBytes == 0)
        return {};

    Parser parser (data, numBytes);
    auto tree = parser.readTree (0);
    return parser.failed ? juce::ValueTree() : tree;
}
} // namespace ParameterState
