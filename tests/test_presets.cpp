// Factory presets: loading preset files into the processor, refusing damaged ones, the shipped
// presets themselves, the preset maker's checks, and where the bundles keep them.

#include "engine/ParameterState.h"
#include "engine/PluginBundle.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <random>
#include <sstream>

namespace
{
const char* const allIds[] = { "Power", "Compress", "Ratio", "Attack", "Release", "Makeup", "Character", "Mix", "Smooth",
                               "1On", "1Type", "1Freq", "1Gain", "1Q",
                               "2On", "2Type", "2Freq", "2Gain", "2Q",
                               "3On", "3Type", "3Freq", "3Gain", "3Q" };

// Captures what the code under test writes to standard output.
class CoutCapture
{
public:
    CoutCapture() : previous (std::cout.rdbuf (captured.rdbuf())) {}
    ~CoutCapture() { std::cout.rdbuf (previous); }
    std::string text() const { return captured.str(); }

private:
    std::ostringstream captured;
    std::streambuf* previous;
};

// A folder of its own per test, removed afterwards.
class ScratchFolder
{
public:
    ScratchFolder()
        : folder (juce::File::getSpecialLocation (juce::File::tempDirectory).getNonexistentChildFile ("morvik_presets_test", {}, false))
    {
        folder.createDirectory();
    }

    ~ScratchFolder() { folder.deleteRecursively(); }

    juce::File file (const juce::String& name) const { return folder.getChildFile (name); }

    juce::File write (const juce::String& name, const void* data, size_t size) const
    {
        auto f = file (name);
        f.replaceWithData (data, size);
        return f;
    }

    juce::File write (const juce::String& name, const juce::ValueTree& tree) const
    {
        juce::MemoryOutputStream stream;
        tree.writeToStream (stream);
        return write (name, stream.getData(), stream.getDataSize());
    }

    juce::File folder;
};

juce::ValueTree makePresetTree (std::initializer_list<std::pair<const char*, juce::var>> values)
{
    juce::ValueTree tree ("Parameters");
    for (auto& [id, value] : values)
    {
        juce::ValueTree child ("PARAM");
        child.setProperty ("id", juce::String (id), nullptr);
        if (! value.isVoid())
            child.setProperty ("value", value, nullptr);
        tree.appendChild (child, nullptr);
    }
    return tree;
}

std::map<juce::String, float> snapshot (MorvikAudioProcessor& processor)
{
    std::map<juce::String, float> values;
    for (auto* id : allIds)
        values[id] = test::getParameter (processor, id);
    return values;
}

// Every parameter finite and inside its range, and the saved state a well-formed parameter state.
void expectSaneState (MorvikAudioProcessor& processor)
{
    for (auto* id : allIds)
    {
        const auto value = test::getParameter (processor, id);
        const auto range = processor.apvts.getParameter (id)->getNormalisableRange();
        ASSERT_TRUE (std::isfinite (value)) << id;
        ASSERT_GE (value, range.start) << id;
        ASSERT_LE (value, range.end) << id;
    }

    juce::MemoryBlock saved;
    processor.getStateInformation (saved);
    const auto tree = juce::ValueTree::readFromData (saved.getData(), saved.getSize());
    ASSERT_TRUE (tree.hasType ("Parameters"));

    // Every parameter has its entry. Entries the tree cannot bind (unknown ids) may ride along: the
    // parameter tree keeps them, and a later version may know them.
    for (auto* id : allIds)
    {
        const auto child = tree.getChildWithProperty ("id", juce::String (id));
        ASSERT_TRUE (child.hasType ("PARAM")) << id;
        ASSERT_TRUE (child.hasProperty ("value")) << id;
    }
}

juce::File presetBuildFolder() { return juce::File (MORVIK_PRESET_BUILD_DIR); }

juce::Array<juce::File> factoryPresets()
{
    auto files = presetBuildFolder().findChildFiles (juce::File::findFiles, false, "*.mrv");
    files.sort();
    return files;
}

juce::MemoryBlock readBytes (const juce::File& file)
{
    juce::MemoryBlock block;
    file.loadFileAsData (block);
    return block;
}

// Loads a file and returns what it printed.
std::string loadAndCapture (MorvikAudioProcessor& processor, const juce::File& file)
{
    CoutCapture capture;
    processor.loadPreset (file);
    return capture.text();
}

// Counts every notification a load sends, to the host side and to parameter-tree listeners.
struct NotificationCounter : public juce::AudioProcessorListener,
                             public juce::AudioProcessorValueTreeState::Listener
{
    explicit NotificationCounter (MorvikAudioProcessor& p) : processor (p)
    {
        processor.addListener (this);
        for (auto* id : allIds)
            processor.apvts.addParameterListener (id, this);
    }

    ~NotificationCounter() override
    {
        for (auto* id : allIds)
            processor.apvts.removeParameterListener (id, this);
        processor.removeListener (this);
    }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int, float) override { ++hostNotifications; }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void parameterChanged (const juce::String&, float) override { ++listenerNotifications; }

    MorvikAudioProcessor& processor;
    int hostNotifications = 0;
    int listenerNotifications = 0;
};

// The five stored coefficients b0 b1 b2 a1 a2 of a band, worked out from the band's formulas in
// double precision, normalised by a0 (the usual cookbook biquads with the framework's shelf form).
std::array<double, 5> expectedCoefficients (int type, double fs, double f, double q, double gainDb)
{
    const double pi = juce::MathConstants<double>::pi;
    const double w = 2.0 * pi * f / fs;
    double b0, b1, b2, a0, a1, a2;

    if (type == 0 || type == 4) // high pass / low pass from the bilinear transform, as the framework writes them
    {
        const double n = 1.0 / std::tan (pi * f / fs);
        const double nSquared = n * n;
        const double invQ = 1.0 / q;
        const double c1 = 1.0 / (1.0 + invQ * n + nSquared);
        if (type == 0)
        {
            b0 = c1 * nSquared; b1 = -2.0 * c1 * nSquared; b2 = c1 * nSquared;
        }
        else
        {
            b0 = c1; b1 = 2.0 * c1; b2 = c1;
        }
        a0 = 1.0; a1 = c1 * 2.0 * (1.0 - nSquared); a2 = c1 * (1.0 - invQ * n + nSquared);
    }
    else
    {
        const double A = std::sqrt (std::pow (10.0, gainDb / 20.0));
        const double cw = std::cos (w), sw = std::sin (w);

        if (type == 2)
        {
            const double alpha = sw / (2.0 * q);
            b0 = 1.0 + alpha * A; b1 = -2.0 * cw; b2 = 1.0 - alpha * A;
            a0 = 1.0 + alpha / A; a1 = -2.0 * cw; a2 = 1.0 - alpha / A;
        }
        else
        {
            const double beta = std::sin (w) * std::sqrt (A) / q;
            const double aPlus = A + 1.0, aMinus = A - 1.0;
            if (type == 1)
            {
                b0 = A * (aPlus - aMinus * cw + beta); b1 = A * 2.0 * (aMinus - aPlus * cw); b2 = A * (aPlus - aMinus * cw - beta);
                a0 = aPlus + aMinus * cw + beta; a1 = -2.0 * (aMinus + aPlus * cw); a2 = aPlus + aMinus * cw - beta;
            }
            else
            {
                b0 = A * (aPlus + aMinus * cw + beta); b1 = A * -2.0 * (aMinus + aPlus * cw); b2 = A * (aPlus + aMinus * cw - beta);
                a0 = aPlus - aMinus * cw + beta; a1 = 2.0 * (aMinus - aPlus * cw); a2 = aPlus - aMinus * cw - beta;
            }
        }
    }

    return { b0 / a0, b1 / a0, b2 / a0, a1 / a0, a2 / a0 };
}

constexpr double rate = 48000.0;
constexpr int blockSize = 512;
} // namespace

//==============================================================================
// Loading well-formed presets

TEST (PresetLoading, FullPresetSetsEveryParameterAndTheBandsFollowBeforeReturning)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    ScratchFolder scratch;

    // Every value differs from its default and sits on its step.
    const auto file = scratch.write ("full.mrv", makePresetTree ({ { "Power", 0.0 }, { "Compress", 33.3 }, { "Ratio", 7.5 }, { "Attack", 2.25 },
                                                                    { "Release", 250.0 }, { "Makeup", -3.5 }, { "Character", 64.0 }, { "Mix", 0.625 },
                                                                    { "Smooth", 12.0 },
                                                                    { "1On", 1.0 }, { "1Type", 0.0 }, { "1Freq", 150.0 }, { "1Gain", -24.0 }, { "1Q", 0.71 },
                                                                    { "2On", 1.0 }, { "2Type", 2.0 }, { "2Freq", 2500.0 }, { "2Gain", 6.5 }, { "2Q", 2.0 },
                                                                    { "3On", 0.0 }, { "3Type", 4.0 }, { "3Freq", 9000.0 }, { "3Gain", -24.0 }, { "3Q", 1.2 } }));

    std::array<MorvikAudioProcessor::Band::CoefficientSet, 3> before;
    for (size_t b = 0; b < 3; ++b)
        before[b] = processor->bands[b].readCoefficients();

    EXPECT_EQ (loadAndCapture (*processor, file), "");

    const std::map<juce::String, float> expected { { "Power", 0.0f }, { "Compress", 33.3f }, { "Ratio", 7.5f }, { "Attack", 2.25f }, { "Release", 250.0f },
                                                   { "Makeup", -3.5f }, { "Character", 64.0f }, { "Mix", 0.625f }, { "Smooth", 12.0f },
                                                   { "1On", 1.0f }, { "1Type", 0.0f }, { "1Freq", 150.0f }, { "1Gain", -24.0f }, { "1Q", 0.71f },
                                                   { "2On", 1.0f }, { "2Type", 2.0f }, { "2Freq", 2500.0f }, { "2Gain", 6.5f }, { "2Q", 2.0f },
                                                   { "3On", 0.0f }, { "3Type", 4.0f }, { "3Freq", 9000.0f }, { "3Gain", -24.0f }, { "3Q", 1.2f } };
    for (auto& [id, value] : expected)
        EXPECT_NEAR (test::getParameter (*processor, id), value, std::abs (value) * 1.0e-4f + 1.0e-4f) << id;

    // The bands have recomputed their sets inside loadPreset, from the loaded values.
    const int types[] = { 0, 2, 4 };
    const double freqs[] = { 150.0, 2500.0, 9000.0 }, qs[] = { 0.71, 2.0, 1.2 }, gains[] = { -24.0, 6.5, -24.0 };

    for (size_t b = 0; b < 3; ++b)
    {
        const auto after = processor->bands[b].readCoefficients();
        EXPECT_NE (after, before[b]) << "band " << b + 1;

        const auto want = expectedCoefficients (types[b], rate, freqs[b], qs[b], gains[b]);
        for (size_t k = 0; k < 5; ++k)
            EXPECT_NEAR (after[k], want[k], 2.0e-4 * (1.0 + std::abs (want[k]))) << "band " << b + 1 << " coefficient " << k;
    }

    // Band 3 is off: its coefficients still follow (a later switch-on uses them), but it does not run.
    EXPECT_TRUE (processor->bands[0].active.load());
    EXPECT_TRUE (processor->bands[1].active.load());
    EXPECT_FALSE (processor->bands[2].active.load());
}

TEST (PresetLoading, PresetNamingOnlyCompressChangesOnlyCompress)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    ScratchFolder scratch;

    // Move a few parameters away from their defaults first: "keeps its value" is not "resets".
    test::setParameter (*processor, "Ratio", 9.0f);
    test::setParameter (*processor, "2Gain", -5.0f);
    test::setParameter (*processor, "Mix", 0.3f);
    const auto before = snapshot (*processor);

    EXPECT_EQ (loadAndCapture (*processor, scratch.write ("compress.mrv", makePresetTree ({ { "Compress", 42.0 } }))), "");

    const auto after = snapshot (*processor);
    for (auto* id : allIds)
    {
        if (juce::String (id) == "Compress")
            EXPECT_NEAR (after.at (id), 42.0f, 1.0e-4f);
        else
            EXPECT_EQ (after.at (id), before.at (id)) << id;
    }
    expectSaneState (*processor);
}

TEST (PresetLoading, ParamWithoutValueTakesTheDefault)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    ScratchFolder scratch;
    test::setParameter (*processor, "Ratio", 12.0f);
    test::setParameter (*processor, "3Freq", 12000.0f);

    processor->loadPreset (scratch.write ("novalue.mrv", makePresetTree ({ { "Ratio", juce::var() }, { "3Freq", juce::var() } })));

    EXPECT_NEAR (test::getParameter (*processor, "Ratio"), 4.0f, 1.0e-5f);
    EXPECT_NEAR (test::getParameter (*processor, "3Freq"), 4000.0f, 0.05f);
}

TEST (PresetLoading, LoadingTheSamePresetTwiceNotifiesNothingTheSecondTime)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    const auto presets = factoryPresets();
    ASSERT_FALSE (presets.isEmpty());

    NotificationCounter counter (*processor);

    processor->loadPreset (presets[0]);
    EXPECT_GT (counter.hostNotifications, 0);
    EXPECT_GT (counter.listenerNotifications, 0);

    counter.hostNotifications = counter.listenerNotifications = 0;
    processor->loadPreset (presets[0]);
    EXPECT_EQ (counter.hostNotifications, 0);
    EXPECT_EQ (counter.listenerNotifications, 0);
}

TEST (PresetLoading, NonFiniteValuesAreIgnoredAndOutOfRangeValuesLimited)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    ScratchFolder scratch;
    const auto before = snapshot (*processor);

    const auto inf = std::numeric_limits<double>::infinity();
    processor->loadPreset (scratch.write ("odd.mrv", makePresetTree ({ { "Compress", std::nan ("") }, { "Ratio", inf }, { "Attack", -inf },
                                                                       { "Release", juce::var ("nan") }, { "Makeup", juce::var ("inf") },
                                                                       { "Character", 1.0e9 }, { "Mix", -5.0 }, { "1Freq", 5.0 },
                                                                       { "2Freq", 1.0e7 }, { "1Gain", -300.0 }, { "1Type", 17.0 },
                                                                       { "2Q", juce::var ("12.5") } })));

    for (auto* id : { "Compress", "Ratio", "Attack", "Release", "Makeup" })
        EXPECT_EQ (test::getParameter (*processor, id), before.at (id)) << id;

    EXPECT_EQ (test::getParameter (*processor, "Character"), 100.0f);
    EXPECT_EQ (test::getParameter (*processor, "Mix"), 0.0f);
    EXPECT_NEAR (test::getParameter (*processor, "1Freq"), 20.0f, 1.0e-3f);
    EXPECT_NEAR (test::getParameter (*processor, "2Freq"), 20000.0f, 0.5f);
    EXPECT_EQ (test::getParameter (*processor, "1Gain"), -24.0f);
    EXPECT_EQ (test::getParameter (*processor, "1Type"), 4.0f);
    EXPECT_NEAR (test::getParameter (*processor, "2Q"), 12.5f, 1.0e-4f);
    expectSaneState (*processor);
}

//==============================================================================
// Refused files

TEST (PresetRefusal, EachUnusableFilePrintsOneErrorLineAndChangesNothing)
{
    auto processor = test::makePreparedProcessor (rate, blockSize);
    ScratchFolder scratch;
    test::setParameter (*processor, "Compress", 27.0f);
    test::setParameter (*processor, "2Gain", 3.0f);

    const auto good = factoryPresets();
    ASSERT_FALSE (good.isEmpty());
    auto damaged = readBytes (good[0]);
    damaged.setSize (damaged.getSize() / 2);

    const char garbage[] = "this is not a value tree at all";
    // A well-formed tree padded far beyond the size of any preset.
    juce::MemoryOutputStream oversized;
    makePresetTree ({ { "Compress", 1.0 } }).writeToStream (oversized);
    oversized.writeRepeatedByte (0, 2u << 20);

    const std::pair<const char*, juce::File> cases[] = {
        { "missing file", scratch.file ("missing.mrv") },
        { "folder", [&] { auto f = scratch.file ("folder.mrv"); f.createDirectory(); return f; }() },
        { "empty file", scratch.write ("empty.mrv", "", 0) },
        { "truncated preset", scratch.write ("truncated.mrv", damaged.getData(), damaged.getSize()) },
        { "text file", scratch.write ("garbage.mrv", garbage, sizeof (garbage)) },
        { "wrong root type", scratch.write ("root.mrv", [] { auto t = makePresetTree ({ { "Compress", 5.0 } }); juce::ValueTree r ("Preset"); r.appendChild (t.getChild (0).createCopy(), nullptr); return r; }()) },
        { "larger than any preset", scratch.write ("large.mrv", oversized.getData(), oversized.getDataSize()) },
        { "no file at all", juce::File() },
    };

    juce::MemoryBlock stateBefore;
    processor->getStateInformation (stateBefore);
    const auto valuesBefore = snapshot (*processor);

    for (auto& [what, file] : cases)
    {
        SCOPED_TRACE (what);
        EXPECT_EQ (loadAndCapture (*processor, file), "LOAD PRESET ERROR\n");
        EXPECT_EQ (snapshot (*processor), valuesBefore);

        juce::MemoryBlock stateAfter;
        processor->getStateInformation (stateAfter);
        EXPECT_EQ (stateAfter, stateBefore);
        expectSaneState (*processor);
    }

    // A good preset still loads afterwards.
    EXPECT_EQ (loadAndCapture (*processor, good[0]), "");
}

//==============================================================================
// Damaged input: deterministic fuzzing, bounded so the file runs in seconds

class PresetFuzz : public ::testing::Test
{
protected:
    void SetUp() override
    {
        processor = test::makePreparedProcessor (rate, blockSize);
        const auto presets = factoryPresets();
        ASSERT_FALSE (presets.isEmpty());
        preset = readBytes (presets[0]);
    }

    // Feeds bytes through the same restore the preset loader and the host state use.
    bool feed (const void* data, size_t size)
    {
        const bool accepted = ParameterState::restore (processor->apvts, data, size);
        expectSaneState (*processor);
        return accepted;
    }

    bool feed (const juce::MemoryBlock& block) { return feed (block.getData(), block.getSize()); }

    std::unique_ptr<MorvikAudioProcessor> processor;
    juce::MemoryBlock preset;
};

TEST_F (PresetFuzz, EveryTruncationIsRefused)
{
    ASSERT_TRUE (feed (preset));
    const auto complete = snapshot (*processor);

    for (size_t length = 0; length < preset.getSize(); ++length)
    {
        ASSERT_FALSE (feed (preset.getData(), length)) << "prefix of " << length << " bytes";
        ASSERT_EQ (snapshot (*processor), complete);
    }
}

TEST_F (PresetFuzz, RandomByteFlipsStayInRange)
{
    std::mt19937 random (20240611u);

    for (int round = 0; round < 3000; ++round)
    {
        juce::MemoryBlock copy (preset);
        auto* target = static_cast<juce::uint8*> (copy.getData());
        const int flips = 1 + (int) (random() % 8);
        for (int i = 0; i < flips; ++i)
            target[random() % copy.getSize()] ^= (juce::uint8) (1u << (random() % 8));

        feed (copy);
        if (HasFatalFailure())
            FAIL() << "round " << round;
    }
}

TEST_F (PresetFuzz, RandomFilesOfManySizesAreRefusedSafely)
{
    std::mt19937 random (77u);
    juce::MemoryBlock block;

    auto fill = [&] (size_t size)
    {
        block.setSize (size);
        auto* p = static_cast<juce::uint8*> (block.getData());
        for (size_t i = 0; i < size; ++i)
            p[i] = (juce::uint8) random();
    };

    for (size_t size = 0; size <= 4096; ++size)
    {
        fill (size);
        feed (block);
        if (HasFatalFailure())
            FAIL() << "size " << size;
    }

    for (size_t size : { (size_t) 65536, (size_t) 1 << 20, ((size_t) 1 << 20) + 1, (size_t) 8 << 20 })
    {
        fill (size);
        feed (block);
    }

    // Random bytes behind a valid-looking start exercise the deeper parts of the parser.
    for (int round = 0; round < 2000; ++round)
    {
        fill (16 + random() % 512);
        const size_t keep = random() % juce::jmin (preset.getSize(), block.getSize());
        block.copyFrom (preset.getData(), 0, keep);
        feed (block);
        if (HasFatalFailure())
            FAIL() << "round " << round;
    }
}

TEST_F (PresetFuzz, LoadPresetOnRandomFilesPrintsOneErrorLineEach)
{
    ScratchFolder scratch;
    std::mt19937 random (5u);

    for (int round = 0; round < 50; ++round)
    {
        juce::MemoryBlock block (1 + random() % 2048);
        for (size_t i = 0; i < block.getSize(); ++i)
            block[i] = (char) random();

        const auto text = loadAndCapture (*processor, scratch.write ("random.mrv", block.getData(), block.getSize()));
        EXPECT_TRUE (text.empty() || text == "LOAD PRESET ERROR\n") << text;
        expectSaneState (*processor);
    }
}

namespace
{
void writeCompressedInt (juce::MemoryOutputStream& out, juce::uint32 value)
{
    out.writeByte (4);
    out.writeInt ((int) value);
}
} // namespace

TEST_F (PresetFuzz, DeepNestingIsRefused)
{
    // A tree nested far deeper than any state: each level one child.
    for (int depth : { 40, 1000, 100000 })
    {
        juce::MemoryOutputStream out;
        for (int level = 0; level < depth; ++level)
        {
            out.writeString (level == 0 ? "Parameters" : "PARAM");
            out.writeCompressedInt (0);
            out.writeCompressedInt (1);
        }
        out.writeString ("PARAM");
        out.writeCompressedInt (0);
        out.writeCompressedInt (0);

        EXPECT_FALSE (feed (out.getData(), out.getDataSize())) << depth;
    }

    // A "value" that is an array nested inside arrays, far deeper than any state.
    {
        juce::MemoryBlock payload;
        juce::MemoryOutputStream (payload, false).writeCompressedInt (0); // the innermost value: empty

        for (int level = 0; level < 2000; ++level)
        {
            juce::MemoryOutputStream items;
            items.writeCompressedInt (1); // one item
            items.write (payload.getData(), payload.getSize());

            juce::MemoryBlock next;
            {
                juce::MemoryOutputStream wrap (next, false);
                wrap.writeCompressedInt (1 + (int) items.getDataSize());
                wrap.writeByte (7); // array marker
                wrap.write (items.getData(), items.getDataSize());
            }
            payload = next;
        }

        juce::MemoryOutputStream out;
        out.writeString ("Parameters");
        out.writeCompressedInt (0);
        out.writeCompressedInt (1);
        out.writeString ("PARAM");
        out.writeCompressedInt (2);
        out.writeString ("id");
        juce::var ("Compress").writeToStream (out);
        out.writeString ("value");
        out.write (payload.getData(), payload.getSize());
        out.writeCompressedInt (0);

        EXPECT_FALSE (feed (out.getData(), out.getDataSize()));
        EXPECT_EQ (test::getParameter (*processor, "Compress"), 15.0f);
    }
}

TEST_F (PresetFuzz, HugeClaimedCountsAreRefused)
{
    const juce::uint32 huge[] = { 0x7fffffffu, 0x10000000u, 100000u, 25u };

    for (auto count : huge)
    {
        SCOPED_TRACE (count);

        // Properties.
        {
            juce::MemoryOutputStream out;
            out.writeString ("Parameters");
            writeCompressedInt (out, count);
            out.writeString ("x");
            juce::var (1).writeToStream (out);
            EXPECT_FALSE (feed (out.getData(), out.getDataSize()));
        }

        // Children.
        {
            juce::MemoryOutputStream out;
            out.writeString ("Parameters");
            out.writeCompressedInt (0);
            writeCompressedInt (out, count);
            out.writeString ("PARAM");
            out.writeCompressedInt (0);
            out.writeCompressedInt (0);
            EXPECT_FALSE (feed (out.getData(), out.getDataSize()));
        }

        // A value whose size claims more bytes than follow.
        {
            juce::MemoryOutputStream out;
            out.writeString ("Parameters");
            out.writeCompressedInt (0);
            out.writeCompressedInt (1);
            out.writeString ("PARAM");
            out.writeCompressedInt (1);
            out.writeString ("value");
            writeCompressedInt (out, count);
            out.writeByte (8); // binary
            out.writeByte (0);
            out.writeCompressedInt (0);
            EXPECT_FALSE (feed (out.getData(), out.getDataSize()));
        }

        // An array value claiming a huge number of items.
        {
            juce::MemoryOutputStream out;
            out.writeString ("Parameters");
            out.writeCompressedInt (0);
            out.writeCompressedInt (1);
            out.writeString ("PARAM");
            out.writeCompressedInt (1);
            out.writeString ("value");
            out.writeCompressedInt (7);
            out.writeByte (7); // array
            writeCompressedInt (out, count);
            out.writeByte (0);
            out.writeCompressedInt (0);
            EXPECT_FALSE (feed (out.getData(), out.getDataSize()));
        }
    }

    // A negative count and an over-long compressed integer.
    for (auto sizeByte : { (juce::uint8) 0x81, (juce::uint8) 0x05, (juce::uint8) 0x7f })
    {
        juce::MemoryOutputStream out;
        out.writeString ("Parameters");
        out.writeByte ((char) sizeByte);
        out.writeByte (1);
        out.writeCompressedInt (0);
        out.writeCompressedInt (0);
        EXPECT_FALSE (feed (out.getData(), out.getDataSize()));
    }
}

//==============================================================================
// The factory presets

namespace
{
struct Level
{
    double rmsDb, peakDb;
};

double toDb (double gain) { return 20.0 * std::log10 (juce::jmax (gain, 1.0e-12)); }

// A deterministic pink-ish noise (Paul Kellet's economy filter over white noise) scaled to an RMS
// of -20 dBFS, the same in both channels.
juce::AudioBuffer<float> makePinkNoise (int numSamples)
{
    std::mt19937 random (1234u);
    std::uniform_real_distribution<double> white (-1.0, 1.0);
    juce::AudioBuffer<float> buffer (2, numSamples);
    double b0 = 0, b1 = 0, b2 = 0, sumSquares = 0;

    for (int i = 0; i < numSamples; ++i)
    {
        const double w = white (random);
        b0 = 0.99765 * b0 + w * 0.0990460;
        b1 = 0.96300 * b1 + w * 0.2965164;
        b2 = 0.57000 * b2 + w * 1.0526913;
        const double pink = b0 + b1 + b2 + w * 0.1848;
        buffer.setSample (0, i, (float) pink);
        sumSquares += pink * pink;
    }

    const double gain = std::pow (10.0, -20.0 / 20.0) / std::sqrt (sumSquares / numSamples);
    buffer.applyGain (0, 0, numSamples, (float) gain);
    buffer.copyFrom (1, 0, buffer, 0, 0, numSamples);
    return buffer;
}

// Runs the signal through the processor in host-sized blocks; measures the last `measureSeconds`.
Level runThrough (MorvikAudioProcessor& processor, const juce::AudioBuffer<float>& input, double measureSeconds)
{
    juce::AudioBuffer<float> block (2, blockSize);
    juce::MidiBuffer midi;
    const int total = input.getNumSamples();
    const int measureFrom = total - (int) (measureSeconds * rate);
    double sumSquares = 0, peak = 0;
    long count = 0;

    for (int start = 0; start < total; start += blockSize)
    {
        const int n = juce::jmin (blockSize, total - start);
        juce::AudioBuffer<float> view (block.getArrayOfWritePointers(), 2, n);
        for (int c = 0; c < 2; ++c)
            view.copyFrom (c, 0, input, c, start, n);

        processor.processBlock (view, midi);

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < n; ++i)
            {
                const double v = view.getSample (c, i);
                if (! std::isfinite (v))
                    return { std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity() };
                if (start + i >= measureFrom)
                {
                    sumSquares += v * v;
                    peak = std::max (peak, std::abs (v));
                    ++count;
                }
            }
    }

    return { toDb (std::sqrt (sumSquares / (double) juce::jmax (1L, count))), toDb (peak) };
}
} // namespace

TEST (FactoryPresets, ThereAreThreeInEachOfTheSixCategories)
{
    std::map<juce::juce_wchar, int> perCategory;
    for (auto& file : factoryPresets())
    {
        const auto name = file.getFileNameWithoutExtension();
        ASSERT_GE (name.length(), 3) << name;
        EXPECT_EQ (name[1], '_') << name;
        EXPECT_TRUE (juce::String ("012345").containsChar (name[0])) << name;
        ++perCategory[name[0]];
    }

    EXPECT_EQ (perCategory.size(), 6u);
    for (auto& [category, count] : perCategory)
        EXPECT_EQ (count, 3) << "category " << (char) category;
}

TEST (FactoryPresets, EachFileHoldsTheWholeParameterTreeInOrderWithValuesInRangeAndOnStep)
{
    MorvikAudioProcessor processor;
    const auto& parameters = processor.getParameters();

    for (auto& file : factoryPresets())
    {
        SCOPED_TRACE (file.getFileName().toStdString());
        const auto bytes = readBytes (file);

        // What the framework itself reads and what the guarded parser reads agree.
        const auto tree = juce::ValueTree::readFromData (bytes.getData(), bytes.getSize());
        ASSERT_TRUE (tree.isEquivalentTo (ParameterState::parse (bytes.getData(), bytes.getSize())));
        ASSERT_TRUE (tree.hasType ("Parameters"));
        ASSERT_EQ (tree.getNumChildren(), parameters.size());

        for (int i = 0; i < parameters.size(); ++i)
        {
            auto* parameter = dynamic_cast<juce::RangedAudioParameter*> (parameters[i]);
            const auto child = tree.getChild (i);
            EXPECT_TRUE (child.hasType ("PARAM"));
            EXPECT_EQ (child.getProperty ("id").toString(), parameter->getParameterID());

            const auto& value = child.getProperty ("value");
            ASSERT_TRUE (value.isDouble()) << parameter->getParameterID();
            const double v = value;
            const auto range = parameter->getNormalisableRange();
            EXPECT_TRUE (std::isfinite (v));
            EXPECT_GE (v, range.start) << parameter->getParameterID();
            EXPECT_LE (v, range.end) << parameter->getParameterID();

            // On the step: the framework's snapping leaves the value where it is.
            EXPECT_NEAR (range.snapToLegalValue ((float) v), (float) v, 1.0e-3f * (1.0f + std::abs ((float) v))) << parameter->getParameterID();
        }

        // Band types agree with the editor's gain coupling (-23 dB): loading with the editor open
        // gives the same preset as loading with it closed.
        const int below[] = { 0, 1, 4 }, atOrAbove[] = { 1, 2, 3 };
        for (int b = 0; b < 3; ++b)
        {
            const double gain = tree.getChild (9 + 5 * b + 3).getProperty ("value");
            const int type = (int) (double) tree.getChild (9 + 5 * b + 1).getProperty ("value");
            EXPECT_EQ (type, gain < -23.0 ? below[b] : atOrAbove[b]) << "band " << b + 1;
        }
    }
}

TEST (FactoryPresets, EachLoadsExactlyAndKeepsMinus20dBFSNoiseWithinSaneLevels)
{
    const auto presets = factoryPresets();
    ASSERT_EQ (presets.size(), 18);

    const auto noise = makePinkNoise ((int) (3.0 * rate));

    juce::AudioBuffer<float> sines (2, (int) (3.0 * rate));
    for (int i = 0; i < sines.getNumSamples(); ++i)
    {
        const double t = i / rate;
        const double v = std::sin (2.0 * juce::MathConstants<double>::pi * 110.0 * t) + std::sin (2.0 * juce::MathConstants<double>::pi * 440.0 * t)
                         + std::sin (2.0 * juce::MathConstants<double>::pi * 3520.0 * t);
        // Three equal sines: RMS = sqrt(3/2) * amplitude; scaled to -20 dBFS RMS.
        const double amplitude = 0.1 / std::sqrt (1.5);
        sines.setSample (0, i, (float) (amplitude * v));
        sines.setSample (1, i, (float) (amplitude * v));
    }

    for (auto& file : presets)
    {
        SCOPED_TRACE (file.getFileName().toStdString());
        const auto bytes = readBytes (file);
        const auto tree = juce::ValueTree::readFromData (bytes.getData(), bytes.getSize());

        for (const juce::AudioBuffer<float>* signal : std::initializer_list<const juce::AudioBuffer<float>*> { &noise, &sines })
        {
            auto processor = test::makePreparedProcessor (rate, blockSize);
            EXPECT_EQ (loadAndCapture (*processor, file), "");

            for (auto child : tree)
            {
                const auto id = child.getProperty ("id").toString();
                const auto range = processor->apvts.getParameter (id)->getNormalisableRange();
                const auto expected = range.snapToLegalValue ((float) (double) child.getProperty ("value"));
                EXPECT_NEAR (test::getParameter (*processor, id), expected, 1.0e-4f * (1.0f + std::abs (expected))) << id;
            }

            // Two seconds to settle, the last second measured.
            const auto level = runThrough (*processor, *signal, 1.0);
            std::cout << "[ level ] " << file.getFileNameWithoutExtension() << (signal == &noise ? " noise" : " sines")
                      << ": RMS " << juce::String (level.rmsDb, 1) << " dBFS, peak " << juce::String (level.peakDb, 1)
                      << " dBFS, gain reduction in the last block " << juce::String (processor->gainReductionMeter.load(), 1) << " dB" << std::endl;

            EXPECT_TRUE (std::isfinite (level.rmsDb));
            EXPECT_LE (level.peakDb, 0.0);
            EXPECT_GE (level.rmsDb, -60.0);
            EXPECT_LE (level.rmsDb, 0.0);
        }
    }
}

//==============================================================================
// The preset maker refuses bad sources

namespace
{
juce::File presetMaker()
{
    const auto tools = juce::File (MORVIK_BUILD_DIR).getChildFile ("tools");
    for (auto& f : tools.findChildFiles (juce::File::findFiles, true, "morvik_make_presets"))
        if (f.hasFileExtension ("") && ! f.getParentDirectory().getFileName().startsWith ("CMakeFiles"))
            return f;
    return {};
}

struct ToolRun
{
    int exitCode;
    juce::String output;
};

ToolRun runMaker (const juce::File& sources, const juce::File& output)
{
    juce::ChildProcess process;
    const juce::StringArray args { presetMaker().getFullPathName(), sources.getFullPathName(), output.getFullPathName() };
    if (! process.start (args, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return { -1, "could not start" };
    const auto text = process.readAllProcessOutput();
    process.waitForProcessToFinish (20000);
    return { (int) process.getExitCode(), text };
}

// A complete, valid source; the failure cases each break one thing in it.
juce::String validSource()
{
    return "# Test (Bus)\n"
           "Power = on\nCompress = 10.0\nRatio = 2.0\nAttack = 30.00\nRelease = AUTO\nMakeup = 1.5  # comment\n"
           "Character = 25\nMix = 1.000\nSmooth = 20\n"
           "1On = on\n1Type = Low Cut\n1Freq = 40\n1Gain = -24.00\n1Q = 0.71\n"
           "2On = off\n2Type = Peak\n2Freq = 700\n2Gain = 0.00\n2Q = 1.00\n"
           "3On = off\n3Type = High Shelf\n3Freq = 4000\n3Gain = 0.00\n3Q = 0.80\n";
}
} // namespace

TEST (PresetMaker, WritesWhatTheSourceSays)
{
    if (! presetMaker().existsAsFile())
        GTEST_SKIP() << "preset maker not built";

    ScratchFolder scratch;
    const auto sources = scratch.file ("src"), output = scratch.file ("out");
    sources.createDirectory();

    // Lines in any order, names for types and switches, AUTO, comments and blank lines.
    sources.getChildFile ("2_Test Kit.preset").replaceWithText ("# a test preset\n\n"
                                                                 "3Q = 0.8\n3Gain = 0\n3Freq = 4000\n3Type = High Shelf\n3On = off\n"
                                                                 "Power = on   # comment\nCompress = 12.5\nRatio = 3.3\nAttack = AUTO\nRelease = 1501\n"
                                                                 "Makeup = -2.5\nCharacter = 10\nMix = 0.75\nSmooth = 0\n"
                                                                 "1On = 1\n1Type = low cut\n1Freq = 123.4\n1Gain = -24\n1Q = 0.71\n"
                                                                 "2On = 0\n2Type = 1\n2Freq = 700\n2Gain = -23.5\n2Q = 20\n");
    const auto run = runMaker (sources, output);
    ASSERT_EQ (run.exitCode, 0) << run.output;

    const auto written = output.getChildFile ("2_Test Kit.mrv");
    ASSERT_TRUE (written.existsAsFile());
    const auto bytes = readBytes (written);
    const auto tree = juce::ValueTree::readFromData (bytes.getData(), bytes.getSize());

    const std::pair<const char*, double> expected[] = { { "Power", 1 }, { "Compress", 12.5 }, { "Ratio", 3.3 }, { "Attack", 50.01 }, { "Release", 1501 },
                                                        { "Makeup", -2.5 }, { "Character", 10 }, { "Mix", 0.75 }, { "Smooth", 0 },
                                                        { "1On", 1 }, { "1Type", 0 }, { "1Freq", 123.4 }, { "1Gain", -24 }, { "1Q", 0.71 },
                                                        { "2On", 0 }, { "2Type", 1 }, { "2Freq", 700 }, { "2Gain", -23.5 }, { "2Q", 20 },
                                                        { "3On", 0 }, { "3Type", 3 }, { "3Freq", 4000 }, { "3Gain", 0 }, { "3Q", 0.8 } };
    ASSERT_EQ (tree.getNumChildren(), 24);
    for (int i = 0; i < 24; ++i)
    {
        EXPECT_EQ (tree.getChild (i).getProperty ("id").toString(), expected[i].first);
        EXPECT_DOUBLE_EQ ((double) tree.getChild (i).getProperty ("value"), expected[i].second) << expected[i].first;
    }
}

TEST (PresetMaker, FailsWithAClearMessageOnEveryKindOfBadSource)
{
    if (! presetMaker().existsAsFile())
        GTEST_SKIP() << "preset maker not built";

    const auto good = validSource();
    {
        ScratchFolder scratch;
        scratch.file ("src").createDirectory();
        scratch.file ("src").getChildFile ("0_Good.preset").replaceWithText (good);
        const auto run = runMaker (scratch.file ("src"), scratch.file ("out"));
        ASSERT_EQ (run.exitCode, 0) << "the valid source must pass: " << run.output;
    }

    const struct
    {
        const char* name;
        juce::String text;
        const char* message;
    } cases[] = {
        { "0_Unknown.preset", good + "Threshold = 3\n", "unknown parameter 'Threshold'" },
        { "0_Missing.preset", good.replace ("Smooth = 20", "# Smooth = 20"), "missing parameter Smooth" },
        { "0_Twice.preset", good + "Ratio = 3\n", "Ratio is given twice" },
        { "0_Range.preset", good.replace ("Ratio = 2.0", "Ratio = 25"), "outside its range" },
        { "0_Step.preset", good.replace ("Ratio = 2.0", "Ratio = 2.05"), "not on its step" },
        { "0_Syntax.preset", good + "Makeup 3\n", "expected 'id = value'" },
        { "0_Number.preset", good.replace ("Makeup = 1.5", "Makeup = 1.5dB"), "is not a value for Makeup" },
        { "0_Nan.preset", good.replace ("Makeup = 1.5", "Makeup = nan"), "is not a value for Makeup" },
        { "0_Coupling.preset", good.replace ("1Gain = -24.00", "1Gain = -6.00"), "band 1 has type Low Cut" },
        { "Bad Name.preset", good, "category digit" },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        ScratchFolder scratch;
        const auto sources = scratch.file ("src"), output = scratch.file ("out");
        sources.createDirectory();
        if (juce::String (c.name).startsWith ("0_"))
        {
            ASSERT_NE (c.text, good) << "the case did not change the source";
        }
        sources.getChildFile ("0_Good.preset").replaceWithText (good);
        sources.getChildFile (c.name).replaceWithText (c.text);

        const auto run = runMaker (sources, output);
        EXPECT_NE (run.exitCode, 0);
        EXPECT_TRUE (run.output.contains (c.name)) << run.output;
        EXPECT_TRUE (run.output.contains (c.message)) << run.output;
        // Nothing is written, not even the good preset beside the bad one.
        EXPECT_TRUE (output.findChildFiles (juce::File::findFiles, false, "*.mrv").isEmpty());
    }

    ScratchFolder empty;
    EXPECT_NE (runMaker (empty.folder, empty.file ("out")).exitCode, 0);
}

//==============================================================================
// Where the bundles keep the presets

TEST (PluginBundle, BundleFolderPerFormat)
{
    using W = juce::AudioProcessor;
    const juce::File vst3Binary ("/home/u/.vst3/Morvik.vst3/Contents/x86_64-linux/Morvik.so");
    EXPECT_EQ (PluginBundle::bundleFolderFor (W::wrapperType_VST3, vst3Binary), juce::File ("/home/u/.vst3/Morvik.vst3"));
    EXPECT_EQ (PluginBundle::bundleFolderFor (W::wrapperType_VST3, juce::File ("/opt/x/Renamed.vst3/Contents/aarch64-linux/Morvik.so")),
               juce::File ("/opt/x/Renamed.vst3"));

    // A bare VST3 library outside a bundle falls back to its own folder.
    EXPECT_EQ (PluginBundle::bundleFolderFor (W::wrapperType_VST3, juce::File ("/usr/lib/vst3/Morvik.so")), juce::File ("/usr/lib/vst3"));
    EXPECT_EQ (PluginBundle::bundleFolderFor (W::wrapperType_VST3, juce::File ("/Morvik.so")), juce::File ("/"));

    EXPECT_EQ (PluginBundle::bundleFolderFor (W::wrapperType_LV2, juce::File ("/usr/lib/lv2/Morvik.lv2/libMorvik.so")), juce::File ("/usr/lib/lv2/Morvik.lv2"));
    EXPECT_EQ (PluginBundle::bundleFolderFor (W::wrapperType_Standalone, juce::File ("/opt/morvik/bin/Morvik")), juce::File ("/opt/morvik/bin"));
    EXPECT_EQ (PluginBundle::bundleFolderFor (W::wrapperType_Undefined, juce::File ("/opt/morvik/bin/Morvik")), juce::File ("/opt/morvik/bin"));
    EXPECT_EQ (PluginBundle::bundleFolderFor (W::wrapperType_VST3, juce::File()), juce::File());

    EXPECT_EQ (PluginBundle::presetFolderIn (juce::File ("/home/u/.vst3/Morvik.vst3")), juce::File ("/home/u/.vst3/Morvik.vst3/Contents/Resources/Presets"));
    EXPECT_EQ (PluginBundle::presetFolderIn (juce::File()), juce::File());
}

TEST (PluginBundle, TheRunningBinaryIsThisExecutable)
{
    // In a plug-in the same call names the shared library; here the tests are linked statically.
    const auto binary = PluginBundle::currentBinary();
    EXPECT_TRUE (binary.existsAsFile());
    EXPECT_EQ (binary.getFileName(), "test_presets");

    MorvikAudioProcessor processor;
    EXPECT_EQ (PluginBundle::currentBundleFolder (processor), binary.getParentDirectory());

    // A processor made by a wrapper carries the wrapper's format; the test binary is no bundle, so
    // the VST3 rule falls back to the binary's folder.
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_VST3);
    MorvikAudioProcessor vst3Processor;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);
    EXPECT_EQ (vst3Processor.wrapperType, juce::AudioProcessor::wrapperType_VST3);
    EXPECT_EQ (PluginBundle::currentPresetFolder (vst3Processor), binary.getParentDirectory().getChildFile ("Contents/Resources/Presets"));
}

TEST (PluginBundle, BuiltBundlesHoldTheFactoryPresets)
{
    juce::File artefacts (MORVIK_ARTEFACTS_DIR);
    if (juce::String (MORVIK_ARTEFACTS_DIR).isEmpty() || ! artefacts.isDirectory())
        artefacts = juce::File (MORVIK_BUILD_DIR).getChildFile ("Morvik_artefacts/Release");

    using W = juce::AudioProcessor;
    const std::pair<W::WrapperType, juce::File> binaries[] = {
        { W::wrapperType_VST3, artefacts.getChildFile ("VST3/Morvik.vst3/Contents/x86_64-linux/Morvik.so") },
        { W::wrapperType_LV2, artefacts.getChildFile ("LV2/Morvik.lv2/libMorvik.so") },
        { W::wrapperType_Standalone, artefacts.getChildFile ("Standalone/Morvik") },
    };

    const auto presets = factoryPresets();
    ASSERT_FALSE (presets.isEmpty());
    int checked = 0;

    for (auto& [wrapper, binary] : binaries)
    {
        if (! binary.existsAsFile())
            continue;

        SCOPED_TRACE (binary.getFullPathName().toStdString());
        const auto folder = PluginBundle::presetFolderIn (PluginBundle::bundleFolderFor (wrapper, binary));
        ASSERT_TRUE (folder.isDirectory());

        auto installed = folder.findChildFiles (juce::File::findFiles, false, "*.mrv");
        EXPECT_EQ (installed.size(), presets.size());

        for (auto& preset : presets)
        {
            const auto copy = folder.getChildFile (preset.getFileName());
            ASSERT_TRUE (copy.existsAsFile()) << preset.getFileName();
            EXPECT_EQ (readBytes (copy), readBytes (preset)) << preset.getFileName();
        }
        ++checked;
    }

    if (checked == 0)
        GTEST_SKIP() << "no bundles built in " << artefacts.getFullPathName();
}
