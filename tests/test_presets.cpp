// Factory presets: loading preset files, refusing damaged ones, the shipped presets themselves, the
// preset maker's checks, and where the bundles keep them.

#include "engine/plugin/ParameterState.h"
#include "engine/plugin/PluginBundle.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <iostream>
#include <random>
#include <sstream>
#include <sys/stat.h>

namespace
{
const char* const allIds[] = { "Power",  "Compress", "Ratio", "Attack", "Release", "Makeup", "Character", "Mix",
                               "Smooth", "1On",      "1Type", "1Freq",  "1Gain",   "1Q",     "2On",       "2Type",
                               "2Freq",  "2Gain",    "2Q",    "3On",    "3Type",   "3Freq",  "3Gain",     "3Q" };

constexpr double rate = 48000.0;
constexpr int blockSize = 512;

// A folder of its own per test, removed afterwards.
struct ScratchFolder
{
    ScratchFolder() { folder.createDirectory(); }
    ~ScratchFolder() { folder.deleteRecursively(); }

    juce::File file (const juce::String& name) const { return folder.getChildFile (name); }

    juce::File write (const juce::String& name, const juce::MemoryBlock& data) const
    {
        // Writing no data would delete the file.
        if (data.isEmpty())
            file (name).create();
        else
            file (name).replaceWithData (data.getData(), data.getSize());
        return file (name);
    }

    juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                            .getNonexistentChildFile ("morvik_presets_test", {}, false);
};

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

// Every parameter finite and in range, and the saved state a "Parameters" tree with an entry each.
void expectSaneState (MorvikAudioProcessor& processor)
{
    for (auto* id : allIds)
    {
        const auto value = test::getParameter (processor, id);
        const auto range = processor.apvts.getParameter (id)->getNormalisableRange();
        ASSERT_TRUE (std::isfinite (value) && value >= range.start && value <= range.end) << id << " = " << value;
    }

    juce::MemoryBlock saved;
    processor.getStateInformation (saved);
    const auto tree = juce::ValueTree::readFromData (saved.getData(), saved.getSize());
    ASSERT_TRUE (tree.hasType ("Parameters"));
    ASSERT_EQ (tree.getNumChildren(), 24);
    for (auto* id : allIds)
        ASSERT_TRUE (tree.getChildWithProperty ("id", juce::String (id)).hasProperty ("value")) << id;
}

juce::Array<juce::File> factoryPresets()
{
    auto files = juce::File (MORVIK_PRESET_BUILD_DIR).findChildFiles (juce::File::findFiles, false, "*.mrv");
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
    std::ostringstream captured;
    auto* previous = std::cout.rdbuf (captured.rdbuf());
    processor.loadPreset (file);
    std::cout.rdbuf (previous);
    return captured.str();
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

//==============================================================================
namespace
{
// Uniform noise at -20 dBFS RMS (a uniform value within +-a has an RMS of a / sqrt 3) through the
// processor in host-sized blocks; returns the RMS and peak in dBFS of the last measured blocks.
std::pair<double, double> runNoise (MorvikAudioProcessor& processor, int blocks, int measuredBlocks)
{
    std::mt19937 random (1234u);
    std::uniform_real_distribution<float> noise (-0.1f * std::sqrt (3.0f), 0.1f * std::sqrt (3.0f));
    juce::AudioBuffer<float> block (2, blockSize);
    juce::MidiBuffer midi;
    double sumSquares = 0, peak = 0;

    for (int b = 0; b < blocks; ++b)
    {
        for (int i = 0; i < blockSize; ++i)
            block.setSample (0, i, noise (random)), block.setSample (1, i, noise (random));
        processor.processBlock (block, midi);
        if (b < blocks - measuredBlocks)
            continue;
        peak = std::max (peak, (double) test::peakOrInfinity (block));
        for (int c = 0; c < 2; ++c)
            sumSquares += juce::square ((double) block.getRMSLevel (c, 0, blockSize)) * blockSize;
    }
    return { 10.0 * std::log10 (sumSquares / (2.0 * measuredBlocks * blockSize) + 1.0e-30),
             20.0 * std::log10 (peak + 1.0e-30) };
}
} // namespace

TEST (FactoryPresets, EighteenPresetsThreePerCategoryLoadInRangeAndKeepLevelsSane)
{
    const auto presets = factoryPresets();
    ASSERT_EQ (presets.size(), 18);
    std::map<juce::juce_wchar, int> perCategory;

    for (auto& file : presets)
    {
        SCOPED_TRACE (file.getFileName().toStdString());
        const auto name = file.getFileNameWithoutExtension();
        EXPECT_TRUE (name[1] == '_' && juce::String ("012345").containsChar (name[0]));
        ++perCategory[name[0]];

        auto processor = test::makePreparedProcessor (rate, blockSize);
        EXPECT_EQ (loadAndCapture (*processor, file), "");
        expectSaneState (*processor);

        const auto bytes = readBytes (file);
        const auto tree = juce::ValueTree::readFromData (bytes.getData(), bytes.getSize());
        ASSERT_EQ (tree.getNumChildren(), 24);
        // Loaded as the file says, so every value in the file lies in its range.
        for (auto child : tree)
        {
            const auto id = child.getProperty ("id").toString();
            const float value = (float) (double) child.getProperty ("value");
            EXPECT_NEAR (test::getParameter (*processor, id), value, 1.0e-4f * (1.0f + std::abs (value))) << id;
        }

        const auto [rmsDb, peakDb] = runNoise (*processor, 200, 94); // about two seconds, the last one measured
        EXPECT_GE (rmsDb, -60.0);
        EXPECT_LE (peakDb, 0.0);
    }

    EXPECT_EQ (perCategory.size(), 6u);
    for (auto& [category, count] : perCategory)
        EXPECT_EQ (count, 3) << "category " << (char) category;
}

//==============================================================================
TEST (PresetMaker, RefusesABadSourceAndWritesNothing)
{
    juce::File maker;
    for (auto& f : juce::File (MORVIK_BUILD_DIR)
                       .getChildFile ("tools")
                       .findChildFiles (juce::File::findFiles, true, "morvik_make_presets"))
        if (! f.getFullPathName().contains ("CMakeFiles"))
            maker = f;
    ASSERT_TRUE (maker.existsAsFile()) << "morvik_make_presets is not built";

    const juce::String good = "Power = on\nCompress = 10.0\nRatio = 2.0\nAttack = 30.00\nRelease = AUTO\nMakeup = 1.5\n"
                              "Character = 25\nMix = 1.000\nSmooth = 20\n"
                              "1On = on\n1Type = Low Cut\n1Freq = 40\n1Gain = -24.00\n1Q = 0.71\n"
                              "2On = off\n2Type = Peak\n2Freq = 700\n2Gain = 0.00\n2Q = 1.00\n"
                              "3On = off\n3Type = High Shelf\n3Freq = 4000\n3Gain = 0.00\n3Q = 0.80\n";

    for (auto [bad, message] : { std::pair { good.replace ("Ratio = 2.0", "Ratio = 25"), "outside its range" },
                                 { good + "Threshold = 3\n", "unknown parameter 'Threshold'" },
                                 { good, "" } })
    {
        ScratchFolder scratch;
        const auto sources = scratch.file ("src"), output = scratch.file ("out");
        sources.createDirectory();
        sources.getChildFile ("0_Good.preset").replaceWithText (good);
        sources.getChildFile ("0_Bad.preset").replaceWithText (bad);

        juce::ChildProcess process;
        ASSERT_TRUE (process.start (
            juce::StringArray { maker.getFullPathName(), sources.getFullPathName(), output.getFullPathName() },
            juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr));
        const auto text = process.readAllProcessOutput();
        process.waitForProcessToFinish (20000);

        const int written = output.findChildFiles (juce::File::findFiles, false, "*.mrv").size();
        if (bad == good) // the unbroken source passes, so the failures are the edits' doing
        {
            EXPECT_EQ (process.getExitCode(), 0u) << text;
            EXPECT_EQ (written, 2);
            continue;
        }
        EXPECT_NE (process.getExitCode(), 0u);
        EXPECT_TRUE (text.contains ("0_Bad.preset") && text.contains (message)) << text;
        EXPECT_EQ (written, 0);
    }
}

//==============================================================================
TEST (PluginBundle, BundleAndPresetFolderPerFormat)
{
    using W = juce::AudioProcessor;
    const std::tuple<W::WrapperType, const char*, const char*> cases[] = {
        { W::wrapperType_VST3, "/home/u/.vst3/Morvik.vst3/Contents/x86_64-linux/Morvik.so",
          "/home/u/.vst3/Morvik.vst3" },
        { W::wrapperType_VST3, "/opt/x/Renamed.vst3/Contents/aarch64-linux/Morvik.so", "/opt/x/Renamed.vst3" },
        { W::wrapperType_VST3, "/usr/lib/vst3/Morvik.so", "/usr/lib/vst3" }, // a bare library outside a bundle
        { W::wrapperType_LV2, "/usr/lib/lv2/Morvik.lv2/libMorvik.so", "/usr/lib/lv2/Morvik.lv2" },
        { W::wrapperType_Standalone, "/opt/morvik/bin/Morvik", "/opt/morvik/bin" },
        { W::wrapperType_VST3, "", "" },
    };
    for (auto& [wrapper, binary, bundle] : cases)
        EXPECT_EQ (PluginBundle::bundleFolderFor (wrapper, juce::File (binary)), juce::File (bundle)) << binary;

    EXPECT_EQ (PluginBundle::presetFolderIn (juce::File ("/a/Morvik.vst3")),
               juce::File ("/a/Morvik.vst3/Contents/Resources/Presets"));
    EXPECT_EQ (PluginBundle::presetFolderIn (juce::File()), juce::File());
}

TEST (PluginBundle, BuiltBundlesHoldTheFactoryPresets)
{
    juce::File artefacts (MORVIK_ARTEFACTS_DIR);
    if (juce::String (MORVIK_ARTEFACTS_DIR).isEmpty() || ! artefacts.isDirectory())
        artefacts = juce::File (MORVIK_BUILD_DIR).getChildFile ("Morvik_artefacts/Release");

    using W = juce::AudioProcessor;
    const std::pair<W::WrapperType, const char*> binaries[] = { { W::wrapperType_VST3,
                                                                  "VST3/Morvik.vst3/Contents/x86_64-linux/Morvik.so" },
                                                                { W::wrapperType_LV2, "LV2/Morvik.lv2/libMorvik.so" },
                                                                { W::wrapperType_Standalone, "Standalone/Morvik" } };
    const auto presets = factoryPresets();

    for (auto& [wrapper, path] : binaries)
    {
        const auto binary = artefacts.getChildFile (path);
        EXPECT_TRUE (binary.existsAsFile()) << path << " is not built in " << artefacts.getFullPathName();

        const auto folder = PluginBundle::presetFolderIn (PluginBundle::bundleFolderFor (wrapper, binary));
        EXPECT_EQ (folder.findChildFiles (juce::File::findFiles, false, "*.mrv").size(), presets.size()) << path;
        for (auto& preset : presets)
            EXPECT_EQ (readBytes (folder.getChildFile (preset.getFileName())), readBytes (preset))
                << path << " " << preset.getFileName();
    }
}
