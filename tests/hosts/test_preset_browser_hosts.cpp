// The preset browser in the built bundles, opened by a host: morvik_host loads the VST3 or the LV2
// through JUCE's hosting and shows its editor under Xvfb; xdotool clicks the step buttons, and the
// parameter values the host holds at the end must be those of the factory preset the click chose.
// (That the PRESETS caption names it is checked in-process by test_preset_browser.)

#include "HostKit.h"

#include <gtest/gtest.h>

namespace
{
using hostkit::Format;

// The step buttons' centres in a 900 x 530 editor: "<" at (300, 6) and ">" at (565, 6), 34 x 33.
const juce::Point<int> previousButton { 317, 22 }, nextButton { 582, 22 };

juce::File bundleFor (Format format)
{
    return juce::File (format == Format::vst3 ? MORVIK_VST3_BUNDLE : MORVIK_LV2_BUNDLE);
}

// The bundle's presets in the order the browser steps through them.
juce::Array<juce::File> presetsIn (const juce::File& bundle)
{
    auto files =
        bundle.getChildFile ("Contents/Resources/Presets").findChildFiles (juce::File::findFiles, false, "*.mrv");
    std::sort (files.begin(), files.end(), [] (const juce::File& a, const juce::File& b) {
        return a.getFullPathName().compareIgnoreCase (b.getFullPathName()) < 0;
    });
    return files;
}

// The first line a program writes, read byte by byte: a larger read would wait for more output
// than the program gives before it ends.
juce::String readLineFrom (juce::ChildProcess& process, const juce::String& startingWith, juce::String& output)
{
    juce::String line;
    for (char byte = 0; process.readProcessOutput (&byte, 1) == 1;)
    {
        output += juce::String::charToString (byte);
        if (byte != '\n')
            line += juce::String::charToString (byte);
        else if (line.startsWith (startingWith))
            return line.substring (startingWith.length()).trim();
        else
            line.clear();
    }
    return {};
}

// An X server of the test's own, so that no other test's window lies under the clicks. Xvfb picks
// a free display number itself and writes it once it accepts clients.
struct Screen
{
    Screen()
    {
        juce::String output;
        if (server.start ({ "Xvfb", "-displayfd", "1", "-screen", "0", "1280x800x24", "-nolisten", "tcp" },
                          juce::ChildProcess::wantStdOut))
            if (const auto number = readLineFrom (server, "", output); number.containsOnly ("0123456789"))
                display = ":" + number;
    }

    ~Screen()
    {
        server.kill();
        server.waitForProcessToFinish (5000);
    }

    juce::ChildProcess server;
    juce::String display;
};

// Runs the host with the editor open, clicks the given buttons once it is on screen, and returns
// the normalised parameter values it reports at the end, by parameter identifier.
std::map<juce::String, float> valuesAfterClicks (Format format, const std::vector<juce::Point<int>>& clicks)
{
    const Screen screen;
    EXPECT_TRUE (screen.display.isNotEmpty()) << "no Xvfb";

    // An empty HOME, so that no installed LV2 copy in ~/.lv2 stands in for the build's.
    struct Home
    {
        Home() { folder.createDirectory(); }
        ~Home() { folder.deleteRecursively(); }
        juce::File folder = juce::File::getSpecialLocation (juce::File::tempDirectory)
                                .getNonexistentChildFile ("morvik_home", {}, false);
    } home;

    juce::ChildProcess host;
    const juce::StringArray command { "env",
                                      "DISPLAY=" + screen.display,
                                      "HOME=" + home.folder.getFullPathName(),
                                      MORVIK_HOST_PROGRAM,
                                      "editor",
                                      "--format",
                                      hostkit::formatName (format).toLowerCase(),
                                      "--plugin",
                                      bundleFor (format).getFullPathName(),
                                      "--size",
                                      "900x530",
                                      "--seconds",
                                      "2" };
    EXPECT_TRUE (host.start (command, juce::ChildProcess::wantStdOut));

    // The window id comes on a line of its own once the editor shows.
    juce::String output;
    const auto window = readLineFrom (host, "window ", output);
    EXPECT_TRUE (window.isNotEmpty()) << output;

    for (auto point : clicks)
    {
        juce::ChildProcess xdotool;
        xdotool.start (juce::StringArray { "env", "DISPLAY=" + screen.display, "xdotool", "mousemove", "--sync",
                                           "--window", window, juce::String (point.x), juce::String (point.y), "click",
                                           "1" });
        EXPECT_TRUE (xdotool.waitForProcessToFinish (5000));
        EXPECT_EQ (xdotool.getExitCode(), 0u);
        juce::Thread::sleep (300);
    }

    output += host.readAllProcessOutput();
    EXPECT_TRUE (host.waitForProcessToFinish (30000));
    EXPECT_EQ (host.getExitCode(), 0u) << output;

    std::map<juce::String, float> values;
    for (auto& line : juce::StringArray::fromLines (output))
        if (line.startsWith ("param "))
        {
            const auto fields = juce::StringArray::fromTokens (line, " ", "");
            values[fields[1]] = fields[2].getFloatValue();
        }
    return values;
}

// Checks every value a preset file holds against what the host reported. The expected normalised
// values come from a fresh instance of the same bundle, as a host would set those plain values.
void expectValuesOf (const juce::File& preset, Format format, const std::map<juce::String, float>& reported)
{
    juce::MemoryBlock data;
    ASSERT_TRUE (preset.loadFileAsData (data));
    const auto tree = juce::ValueTree::readFromData (data.getData(), data.getSize());
    ASSERT_EQ (tree.getNumChildren(), 24) << preset.getFileName();

    hostkit::Host host;
    juce::String error;
    auto instance = host.load (format, bundleFor (format).getFullPathName(), 48000.0, 512, error);
    ASSERT_NE (instance, nullptr) << error;

    for (const auto& child : tree)
    {
        const auto id = child["id"].toString();
        const double plain = child["value"];
        auto* parameter = hostkit::findParameter (*instance, id);
        ASSERT_NE (parameter, nullptr) << id;
        const auto text = plain == std::floor (plain) ? juce::String ((int) plain) : juce::String (plain);
        const auto expected = hostkit::normalisedFor (*parameter, text);

        auto found = reported.find (id);
        if (found == reported.end())
            found = reported.find ("Band" + id);
        ASSERT_NE (found, reported.end()) << id;
        EXPECT_NEAR (found->second, expected, 1.0e-3) << preset.getFileName() << ": " << id << " = " << text;
    }
}

class PresetBrowserInHost : public ::testing::TestWithParam<Format>
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
};

TEST_P (PresetBrowserInHost, NextLoadsTheFirstPresetAndPreviousThenWrapsToTheLast)
{
    const auto presets = presetsIn (bundleFor (GetParam()));
    ASSERT_GE (presets.size(), 2);

    const auto afterNext = valuesAfterClicks (GetParam(), { nextButton });
    expectValuesOf (presets.getFirst(), GetParam(), afterNext);

    const auto afterPrevious = valuesAfterClicks (GetParam(), { nextButton, previousButton });
    expectValuesOf (presets.getLast(), GetParam(), afterPrevious);

    // The two presets differ, so neither check passes by accident.
    EXPECT_NE (afterNext, afterPrevious);
}

INSTANTIATE_TEST_SUITE_P (Formats, PresetBrowserInHost, ::testing::Values (Format::vst3, Format::lv2),
                          [] (const auto& info) { return hostkit::formatName (info.param).toStdString(); });
} // namespace
