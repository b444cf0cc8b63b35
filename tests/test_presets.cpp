// Preset files: loading them, refusing damaged ones, and the state reader they share with the host's
// state, fuzzed.

#include "engine/plugin/ParameterState.h"
#include "support/PresetFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <sys/stat.h>

using namespace presettest;

namespace
{
// A state with a "PARAM" child per entry; a void value leaves its child without one.
juce::MemoryBlock presetData (const std::vector<std::pair<const char*, juce::var>>& values,
                              const char* rootType = "Parameters")
{
    juce::ValueTree tree (rootType);
    for (auto& [id, value] : values)
    {
        juce::ValueTree child ("PARAM");
        child.setProperty ("id", juce::String (id), nullptr);
        if (! value.isVoid())
            child.setProperty ("value", value, nullptr);
        tree.appendChild (child, nullptr);
    }
    juce::MemoryOutputStream stream;
    tree.writeToStream (stream);
    return stream.getMemoryBlock();
}

std::map<juce::String, float> snapshot (MorvikAudioProcessor& processor)
{
    std::map<juce::String, float> values;
    for (auto* id : allIds)
        values[id] = test::getParameter (processor, id);
    return values;
}

// Counts the parameter changes the host hears of.
struct HostNotifications : juce::AudioProcessorListener
{
    explicit HostNotifications (juce::AudioProcessor& p)
        : processor (p)
    {
        processor.addListener (this);
    }
    ~HostNotifications() override { processor.removeListener (this); }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { ++count; }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}

    juce::AudioProcessor& processor;
    int count = 0;
};

// Cookbook biquads b0 b1 b2 a1 a2 / a0 in double precision: high pass (0), peak (2), low pass (4),
// the pass filters in the bilinear form with n = 1 / tan (pi f / fs).
std::array<double, 5> expectedCoefficients (int type, double fs, double f, double q, double gainDb)
{
    const double pi = juce::MathConstants<double>::pi;
    if (type == 2)
    {
        const double A = std::pow (10.0, gainDb / 40.0), w = 2.0 * pi * f / fs, alpha = std::sin (w) / (2.0 * q);
        const double a0 = 1.0 + alpha / A;
        return { (1.0 + alpha * A) / a0, -2.0 * std::cos (w) / a0, (1.0 - alpha * A) / a0, -2.0 * std::cos (w) / a0,
                 (1.0 - alpha / A) / a0 };
    }
    const double n = 1.0 / std::tan (pi * f / fs), c1 = 1.0 / (1.0 + n / q + n * n);
    const double b = type == 0 ? n * n : 1.0, sign = type == 0 ? -1.0 : 1.0;
    return { c1 * b, sign * 2.0 * c1 * b, c1 * b, c1 * 2.0 * (1.0 - n * n), c1 * (1.0 - n / q + n * n) };
}
} // namespace

//==============================================================================
TEST (PresetLoading, FullPresetSetsEveryParameterAndTheBandsFollowBeforeReturning)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    ScratchFolder scratch;

    // Every value differs from its default and sits on its step.
    const std::vector<std::pair<const char*, juce::var>> values = {
        { "Power", 0.0 },   { "Compress", 33.3 },  { "Ratio", 7.5 },   { "Attack", 2.25 }, { "Release", 250.0 },
        { "Makeup", -3.5 }, { "Character", 64.0 }, { "Mix", 0.625 },   { "Smooth", 12.0 }, { "1On", 1.0 },
        { "1Type", 0.0 },   { "1Freq", 150.0 },    { "1Gain", -24.0 }, { "1Q", 0.71 },     { "2On", 1.0 },
        { "2Type", 2.0 },   { "2Freq", 2500.0 },   { "2Gain", 6.5 },   { "2Q", 2.0 },      { "3On", 0.0 },
        { "3Type", 4.0 },   { "3Freq", 9000.0 },   { "3Gain", -24.0 }, { "3Q", 1.2 }
    };
    EXPECT_EQ (loadAndCapture (*processor, scratch.write ("full.mrv", presetData (values))), "");

    for (auto& [id, value] : values)
        EXPECT_NEAR (test::getParameter (*processor, id), (double) value, std::abs ((double) value) * 1.0e-4 + 1.0e-4)
            << id;

    // The bands recomputed their sets inside loadPreset; band 3 is off but its set still follows.
    for (size_t b = 0; b < 3; ++b)
    {
        const auto get = [&] (const char* suffix) {
            return test::getParameter (*processor, juce::String (b + 1) + suffix);
        };
        const auto want = expectedCoefficients ((int) get ("Type"), rate, get ("Freq"), get ("Q"), get ("Gain"));
        const auto after = processor->bands[b].readCoefficients();
        for (size_t k = 0; k < 5; ++k)
            EXPECT_NEAR (after[k], want[k], 2.0e-4 * (1.0 + std::abs (want[k])))
                << "band " << b + 1 << " coefficient " << k;
        EXPECT_EQ (processor->bands[b].active.load(), b < 2);
    }
}

// A preset changes only what it names. A named parameter without a value takes its default, one
// whose value is no finite number keeps what it had, and values out of range are limited.
TEST (PresetLoading, PartialAndOddPresetsChangeOnlyWhatTheyNameAndStayInRange)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    ScratchFolder scratch;
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan ("");
    const juce::var none;

    // The value held before, what the file says, and the value held after: exactly for these...
    const std::tuple<const char*, float, juce::var, float> exact[] = {
        { "Makeup", 2.5f, 6.0, 6.0f },     { "Ratio", 9.0f, none, 4.0f },   { "2Gain", -5.0f, none, 0.0f },
        { "Compress", 27.0f, nan, 27.0f }, { "Attack", 20.0f, inf, 20.0f }, { "Release", 300.0f, -inf, 300.0f },
        { "Smooth", 70.0f, "nan", 70.0f }
    };
    // ...and within float steps of their range's limits for these.
    const std::tuple<const char*, juce::var, float> limited[] = {
        { "Character", 1.0e9, 100.0f }, { "Mix", -5.0, 0.0f },       { "1Freq", 5.0, 20.0f },
        { "2Freq", 1.0e7, 20000.0f },   { "1Gain", -300.0, -24.0f }, { "1Type", 17.0, 4.0f }
    };

    std::vector<std::pair<const char*, juce::var>> file;
    for (auto& [id, before, inFile, after] : exact)
    {
        test::setParameter (*processor, id, before);
        file.emplace_back (id, inFile);
    }
    for (auto& [id, inFile, limit] : limited)
        file.emplace_back (id, inFile);
    auto expected = snapshot (*processor);
    EXPECT_EQ (loadAndCapture (*processor, scratch.write ("odd.mrv", presetData (file))), "");

    for (auto& [id, before, inFile, after] : exact)
        expected[id] = after;
    auto loaded = snapshot (*processor);
    for (auto& [id, inFile, limit] : limited)
    {
        EXPECT_NEAR (loaded[id], limit, std::abs (limit) * 1.0e-4f) << id;
        loaded[id] = expected[id] = limit;
    }
    EXPECT_EQ (loaded, expected);
    expectSaneState (*processor);
}

TEST (PresetLoading, LoadingTheSamePresetTwiceNotifiesNothingTheSecondTime)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    const auto presets = factoryPresets();
    ASSERT_FALSE (presets.isEmpty());
    HostNotifications notifications (*processor);

    processor->loadPreset (presets[0]);
    EXPECT_GT (notifications.count, 0);
    notifications.count = 0;
    processor->loadPreset (presets[0]);
    EXPECT_EQ (notifications.count, 0);
}

TEST (PresetLoading, EachUnusableFilePrintsOneErrorLineAndChangesNothing)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    ScratchFolder scratch;
    test::setParameter (*processor, "Compress", 27.0f);

    const auto good = factoryPresets();
    ASSERT_FALSE (good.isEmpty());
    auto damaged = readBytes (good[0]);
    damaged.setSize (damaged.getSize() / 2);
    auto oversized = readBytes (good[0]);
    oversized.setSize ((1 << 20) + 1, true); // a complete preset, then zeros past a mebibyte
    scratch.file ("folder.mrv").createDirectory();
    const auto link = [&scratch] (const char* name, const juce::File& target) {
        EXPECT_TRUE (target.createSymbolicLink (scratch.file (name), false)) << name;
        return scratch.file (name);
    };
    EXPECT_EQ (::mkfifo (scratch.file ("fifo.mrv").getFullPathName().toRawUTF8(), 0600), 0);

    const std::pair<const char*, juce::File> cases[] = {
        { "missing file", scratch.file ("missing.mrv") },
        { "folder", scratch.file ("folder.mrv") },
        { "empty file", scratch.write ("empty.mrv", {}) },
        { "damaged preset", scratch.write ("damaged.mrv", damaged) },
        { "text file", scratch.write ("text.mrv", { "not a value tree", 16 }) },
        { "wrong root type", scratch.write ("root.mrv", presetData ({ { "Compress", 5.0 } }, "Preset")) },
        { "over a mebibyte", scratch.write ("large.mrv", oversized) },
        { "link to an endless device", link ("zero.mrv", juce::File ("/dev/zero")) },
        { "link to an endless random device", link ("random.mrv", juce::File ("/dev/urandom")) },
        { "FIFO without a writer", scratch.file ("fifo.mrv") },
    };

    juce::MemoryBlock stateBefore, stateAfter;
    processor->getStateInformation (stateBefore);
    for (auto& [what, file] : cases)
    {
        EXPECT_EQ (loadAndCapture (*processor, file), "LOAD PRESET ERROR\n") << what;
        processor->getStateInformation (stateAfter);
        EXPECT_EQ (stateAfter, stateBefore) << what;
        expectSaneState (*processor);
    }
    EXPECT_EQ (loadAndCapture (*processor, link ("good.mrv", good[0])), "");
    EXPECT_NE (test::getParameter (*processor, "Compress"), 27.0f);
}

//==============================================================================
// Deterministic fuzzing of the state reader the preset loader and the host state share.

class PresetFuzz : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_FALSE (factoryPresets().isEmpty());
        preset = readBytes (factoryPresets()[0]);
    }

    bool feed (const juce::MemoryBlock& data)
    {
        const bool accepted = ParameterState::restore (processor->apvts, data.getData(), data.getSize());
        expectSaneState (*processor);
        return accepted;
    }

    // "Parameters" with no properties and one PARAM child, its header written by `param`.
    template <typename Param>
    bool feedParameters (Param&& param)
    {
        juce::MemoryOutputStream out;
        out.writeString ("Parameters");
        out.writeCompressedInt (0);
        out.writeCompressedInt (1);
        out.writeString ("PARAM");
        param (out);
        out.writeCompressedInt (0);
        return feed (out.getMemoryBlock());
    }

    std::unique_ptr<MorvikAudioProcessor> processor = test::makePreparedProcessor (rate, blockSize);
    juce::MemoryBlock preset;
    std::mt19937 random { 20240611u };
};

TEST_F (PresetFuzz, EveryTruncationIsRefused)
{
    ASSERT_TRUE (feed (preset));
    const auto complete = snapshot (*processor);
    for (size_t length = 0; length < preset.getSize(); ++length)
    {
        ASSERT_FALSE (feed ({ preset.getData(), length })) << length << " bytes";
        ASSERT_EQ (snapshot (*processor), complete);
    }
}

TEST_F (PresetFuzz, RandomFlipsAndRandomFilesStayInRange)
{
    for (int round = 0; round < 3000; ++round)
    {
        juce::MemoryBlock copy (preset);
        for (int i = 1 + (int) (random() % 8); i > 0; --i)
            copy[random() % copy.getSize()] ^= (char) (1u << (random() % 8));
        feed (copy);
        ASSERT_FALSE (HasFatalFailure()) << "flip round " << round;
    }

    // Random files of many sizes, some behind a valid start to reach the deeper parts of the parser.
    const size_t sizes[] = { 0, 1, 2, 3, 5, 8, 16, 100, 1000, 65536, 1 << 20, 8 << 20 };
    for (int round = 0; round < 1000; ++round)
    {
        const size_t size = round < (int) std::size (sizes) ? sizes[round] : random() % 4096;
        juce::MemoryBlock block (size);
        for (size_t i = 0; i < size; ++i)
            block[i] = (char) random();
        if (round % 2 == 1)
            block.copyFrom (preset.getData(), 0, std::min (size, (size_t) random() % preset.getSize()));
        feed (block);
        ASSERT_FALSE (HasFatalFailure()) << "random file round " << round;
    }
}

TEST_F (PresetFuzz, DeepNestingAndHugeCountsAreRefused)
{
    // Children nested far deeper than any state, one per level.
    for (int depth : { 1000, 100000 })
    {
        juce::MemoryOutputStream out;
        for (int level = 0; level <= depth; ++level)
        {
            out.writeString (level == 0 ? "Parameters" : "PARAM");
            out.writeCompressedInt (0);
            out.writeCompressedInt (level < depth ? 1 : 0);
        }
        EXPECT_FALSE (feed (out.getMemoryBlock())) << depth;
    }

    // A "value" that is an array nested in arrays 2000 deep.
    juce::MemoryBlock payload ("\0", 1);
    for (int level = 0; level < 2000; ++level)
    {
        juce::MemoryOutputStream wrap;
        wrap.writeCompressedInt (3 + (int) payload.getSize()); // marker, item count, item
        wrap.writeByte (7); // array
        wrap.writeCompressedInt (1);
        wrap << payload;
        payload = wrap.getMemoryBlock();
    }
    EXPECT_FALSE (feedParameters ([&] (juce::MemoryOutputStream& out) {
        out.writeCompressedInt (2);
        out.writeString ("id");
        juce::var ("Compress").writeToStream (out);
        out.writeString ("value");
        out << payload;
    }));

    // Counts that claim far more items than follow, given as PARAM's header bytes before and after
    // the claim: its properties, its children, the bytes of its value, the items of an array value.
    const std::pair<std::string, std::string> claims[] = {
        { "", { "x\0", 2 } }, { { "\0", 1 }, "" }, { { "\1\1value\0", 8 }, "\x08" }, { { "\1\1value\0\1\7\7", 11 }, "" }
    };
    for (const int count : { 0x7fffffff, 0x10000000, 100000, 25 })
        for (const auto& [before, after] : claims)
            EXPECT_FALSE (feedParameters ([&] (auto& out) {
                out.write (before.data(), before.size());
                out.writeByte (4);
                out.writeInt (count);
                out.write (after.data(), after.size());
            })) << count
                << " after " << before.size() << " bytes";
    EXPECT_EQ (test::getParameter (*processor, "Compress"), 15.0f);
}
