// The factory presets as shipped: each loads in range and keeps levels sane, the preset maker refuses
// bad sources, and every bundle holds them where the plug-in looks.

#include "engine/plugin/PluginBundle.h"
#include "support/PresetFiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

using namespace presettest;

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
