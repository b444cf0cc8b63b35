// The preset browser in the built bundles, opened by a host: morvik_host loads the VST3 or the LV2
// through JUCE's hosting and shows its editor under Xvfb; xdotool clicks the step buttons, and the
// parameter values the host holds at the end must be those of the factory preset the click chose.
// (That the PRESETS caption names it is checked in-process by test_preset_browser.)

#include "EditorSession.h"
#include "HostTests.h"

namespace
{
using namespace hosttests;

// The step buttons' centres in a 900 x 530 editor: "<" at (300, 6) and ">" at (565, 6), 34 x 33.
const juce::Point<int> previousButton { 317, 22 }, nextButton { 582, 22 };

// The bundle's presets in the order the browser steps through them.
juce::Array<juce::File> presetsIn (const juce::String& bundle)
{
    auto files = juce::File (bundle)
                     .getChildFile ("Contents/Resources/Presets")
                     .findChildFiles (juce::File::findFiles, false, "*.mrv");
    std::sort (files.begin(), files.end(), [] (const juce::File& a, const juce::File& b) {
        return a.getFullPathName().compareIgnoreCase (b.getFullPathName()) < 0;
    });
    return files;
}

// Runs the host with the editor open, clicks the given buttons once it is on screen, and returns
// what it reports at the end.
std::map<juce::String, editorhost::Parameter> valuesAfterClicks (Format format,
                                                                 const std::vector<juce::Point<int>>& clicks)
{
    const editorhost::Display display;
    EXPECT_TRUE (display.name.isNotEmpty()) << "no Xvfb";
    editorhost::HostedEditor host (hostkit::formatName (format).toLowerCase(), bundleFor (format),
                                   { "--size", "900x530" });
    EXPECT_TRUE (host.window.isNotEmpty()) << host.output;

    for (auto point : clicks)
    {
        EXPECT_EQ (editorhost::run ({ "xdotool", "mousemove", "--sync", "--window", host.window, juce::String (point.x),
                                      juce::String (point.y), "click", "1" })
                       .exitCode,
                   0);
        juce::Thread::sleep (300);
    }

    const auto report = host.finish();
    EXPECT_EQ (report.exitCode, 0) << report.output;
    return report.params;
}

// Checks every value a preset file holds against what the host reported. The expected normalised
// values come from a fresh instance of the same bundle, as a host would set those plain values.
void expectValuesOf (const juce::File& preset, Format format,
                     const std::map<juce::String, editorhost::Parameter>& reported)
{
    juce::MemoryBlock data;
    ASSERT_TRUE (preset.loadFileAsData (data));
    const auto tree = juce::ValueTree::readFromData (data.getData(), data.getSize());
    ASSERT_EQ (tree.getNumChildren(), 24) << preset.getFileName();

    auto instance = load (format, 512);
    ASSERT_NE (instance, nullptr);

    for (const auto& child : tree)
    {
        const auto id = child["id"].toString();
        const double plain = child["value"];
        auto* parameter = hostkit::findParameter (*instance, id);
        ASSERT_NE (parameter, nullptr) << id;
        const auto text = plain == std::floor (plain) ? juce::String ((int) plain) : juce::String (plain);
        const auto expected = hostkit::normalisedFor (*parameter, text);

        const auto found = reported.find (id);
        ASSERT_NE (found, reported.end()) << id;
        EXPECT_NEAR (found->second.normalised, expected, 1.0e-3) << preset.getFileName() << ": " << id << " = " << text;
    }
}

class PresetBrowserInHost : public ::testing::TestWithParam<Format>
{};

TEST_P (PresetBrowserInHost, NextLoadsTheFirstPresetAndPreviousThenWrapsToTheLast)
{
    const auto presets = presetsIn (bundleFor (GetParam()));
    ASSERT_GE (presets.size(), 2);

    const auto afterNext = valuesAfterClicks (GetParam(), { nextButton });
    expectValuesOf (presets.getFirst(), GetParam(), afterNext);

    const auto afterPrevious = valuesAfterClicks (GetParam(), { nextButton, previousButton });
    expectValuesOf (presets.getLast(), GetParam(), afterPrevious);

    // The two presets differ, so neither check passes by accident.
    EXPECT_TRUE (std::any_of (afterNext.begin(), afterNext.end(), [&] (const auto& p) {
        return afterPrevious.at (p.first).normalised != p.second.normalised;
    }));
}

INSTANTIATE_TEST_SUITE_P (Formats, PresetBrowserInHost, ::testing::Values (Format::vst3, Format::lv2), formatLabel);
} // namespace
