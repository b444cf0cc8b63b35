// A real drag on the equaliser graph: morvik_host opens the built VST3 or LV2 editor through JUCE's
// plug-in hosting in a window on the X server (the suite runs under xvfb-run), xdotool presses band
// 1's handle, drags it and lets go, and the host reports what reached it: the new frequency and
// gain, and exactly one change gesture begun and ended on each of the two parameters.

#include <juce_gui_basics/juce_gui_basics.h>

#include <gtest/gtest.h>

#include <map>

namespace
{
// The editor opens at 900 x 530, where the graph (and the pad on it) is 360 x 134 at (270, 358).
constexpr int padX = 270, padY = 358, padWidth = 360, padHeight = 134;

struct HostReport
{
    std::map<juce::String, float> values; // normalised, by plug-in identifier
    std::map<juce::String, std::pair<int, int>> gestures; // begins, ends
    juce::String output;
};

// The LV2 build names band parameters "Band1Freq" and so on; the report is keyed by "1Freq".
juce::String plainId (const juce::String& id) { return id.startsWith ("Band") ? id.substring (4) : id; }

bool run (const std::vector<juce::String>& command)
{
    juce::ChildProcess process;
    juce::StringArray arguments;
    for (const auto& a : command)
        arguments.add (a);
    return process.start (arguments, 0) && process.waitForProcessToFinish (20000) && process.getExitCode() == 0;
}

HostReport dragBandOne (const juce::String& format, const juce::String& bundle, juce::Point<int> to)
{
    HostReport report;
    const auto home = juce::File::createTempFile ("home");
    home.createDirectory();

    // An empty HOME keeps an installed LV2 copy from shadowing the build.
    juce::ChildProcess host;
    const bool started = host.start (juce::StringArray { "env", "HOME=" + home.getFullPathName(), MORVIK_HOST_PROGRAM,
                                                         "editor", "--format", format, "--plugin", bundle, "--size",
                                                         "900x530", "--seconds", "6" });
    EXPECT_TRUE (started);
    if (! started)
        return report;

    // Read until the window is on screen.
    juce::String window;
    char buffer[256];
    const auto deadline = juce::Time::getMillisecondCounter() + 30000;
    while (window.isEmpty() && juce::Time::getMillisecondCounter() < deadline)
    {
        const auto n = host.readProcessOutput (buffer, (int) sizeof (buffer));
        if (n <= 0)
            break;
        report.output += juce::String::fromUTF8 (buffer, n);
        for (const auto& line : juce::StringArray::fromLines (report.output))
            if (line.startsWith ("window ") && report.output.contains (line + "\n"))
                window = line.fromFirstOccurrenceOf (" ", false, false).trim();
    }
    EXPECT_TRUE (window.isNotEmpty()) << report.output;

    if (window.isNotEmpty())
    {
        // Band 1 starts at 100 Hz and 0 dB: ten octaves from 20 Hz across the width, gain up the height.
        const juce::Point<int> handle (padX + juce::roundToInt (std::log2 (100.0 / 20.0) / 10.0 * padWidth),
                                       padY + padHeight / 2);
        const auto at = [&window] (juce::Point<int> p) {
            return std::vector<juce::String> { "mousemove",        "--window", window, juce::String (p.x),
                                               juce::String (p.y), "sleep",    "0.2" };
        };
        std::vector<juce::String> steps { "xdotool" };
        const auto add = [&steps] (const std::vector<juce::String>& more) {
            steps.insert (steps.end(), more.begin(), more.end());
        };
        add (at (handle));
        add ({ "mousedown", "1", "sleep", "0.2" });
        add (at ((handle + to) / 2));
        add (at (to));
        add ({ "mouseup", "1", "sleep", "0.2" });
        add (at ({ 20, 20 }));
        EXPECT_TRUE (run (steps));
    }

    report.output += host.readAllProcessOutput();
    host.waitForProcessToFinish (30000);
    home.deleteRecursively();

    for (const auto& line : juce::StringArray::fromLines (report.output))
    {
        const auto words = juce::StringArray::fromTokens (line, " ", "");
        if (words.size() >= 3 && words[0] == "param")
            report.values[plainId (words[1])] = words[2].getFloatValue();
        else if (words.size() == 4 && words[0] == "gesture")
            report.gestures[plainId (words[1])] = { words[2].getIntValue(), words[3].getIntValue() };
    }
    return report;
}

void checkDrag (const juce::String& format, const juce::String& bundle)
{
    // Drag band 1 to 150 pixels across (150 / 360 of ten octaves: about 359 Hz) and 22 pixels down
    // from the top (+16.1 dB).
    const auto report = dragBandOne (format, bundle, { padX + 150, padY + 22 });

    ASSERT_EQ (report.values.count ("1Freq"), 1u) << report.output;
    EXPECT_NEAR (report.values.at ("1Freq"), 150.0f / padWidth, 0.004f);
    EXPECT_NEAR (report.values.at ("1Gain"), 1.0f - 22.0f / padHeight, 0.004f);
    // The other bands' frequencies and gains stay where they were.
    EXPECT_NEAR (report.values.at ("2Gain"), 0.5f, 1e-4f);
    EXPECT_NEAR (report.values.at ("3Gain"), 0.5f, 1e-4f);

    const auto gestures = [&report] (const char* id) {
        return report.gestures.count (id) != 0 ? report.gestures.at (id) : std::pair<int, int> (-1, -1);
    };
    EXPECT_EQ (gestures ("1Freq"), std::make_pair (1, 1)) << report.output;
    EXPECT_EQ (gestures ("1Gain"), std::make_pair (1, 1));
}
} // namespace

TEST (HostedXYPad, DragMovesBandOneInOneGesturePerParameterVst3) { checkDrag ("vst3", MORVIK_VST3_BUNDLE); }

TEST (HostedXYPad, DragMovesBandOneInOneGesturePerParameterLv2) { checkDrag ("lv2", MORVIK_LV2_BUNDLE); }
