// The editor in real hosts, on an X server of the test's own (Xvfb): through JUCE's hosting
// (morvik_host editor) the VST3 and the LV2 open their editor while audio flows, are resized by the
// window system to the smallest, default and largest sizes, take a knob drag and a drag of band 1's
// handle on the equaliser graph (xdotool), and close, reporting what reached the host: the values and
// (VST3) exactly one change gesture per dragged parameter; and jalv, an LV2 host, opens the LV2's
// editor against a dummy JACK server. Pictures come from the X server and are checked at the panel
// outline, whose place the layout fixes at every size.

#include "EditorSession.h"
#include "HostKit.h"

using namespace editorhost;

namespace
{
// The compressor panel's left outline, half-way down: two pixels of blackUltraPelko, then two of
// blackPelko, at x = attack label x - 3p, where p = (int) (0.174 x attack x). Nothing is drawn over
// it, so every version of the widgets leaves it in place.
struct Outline
{
    int width, height, x, y;
};
const Outline outlines[] = { { 450, 265, 14, 90 }, { 900, 530, 25, 180 }, { 1800, 1060, 50, 360 } };

void expectOutline (const juce::Image& image, const Outline& o, int top = 0)
{
    ASSERT_TRUE (image.isValid());
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ (image.getPixelAt (o.x + i, o.y + top).getARGB() & 0xffffffu, i < 2 ? 0x191A1Au : 0x282929u)
            << o.width << " " << i;
}

bool shows (const juce::Image& image, const Outline& o)
{
    return image.getWidth() == o.width && image.getHeight() == o.height
           && (image.getPixelAt (o.x, o.y).getARGB() & 0xffffffu) == 0x191A1Au;
}

// Pictures of the window until one shows what is wanted (the hosts and the plug-in attach, resize and
// draw asynchronously, the more slowly the busier the machine), for at most a minute. A picture taken
// while the window is being resized can fail; the last good one is what counts.
juce::Image settledPicture (const juce::String& window, const juce::File& png,
                            const std::function<bool (const juce::Image&)>& wanted)
{
    juce::Image last;
    for (const auto end = juce::Time::getMillisecondCounter() + 60000; juce::Time::getMillisecondCounter() < end;
         juce::Thread::sleep (250))
        if (const auto image = picture (window, png); image.isValid() && wanted (last = image))
            break;
    return last;
}

juce::Image settledPicture (const juce::String& window, const juce::File& png, const Outline& o)
{
    return settledPicture (window, png, [&o] (const juce::Image& image) { return shows (image, o); });
}

class EditorInHost : public ::testing::TestWithParam<hostkit::Format>
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
    Display display;
};

// At 900 x 530 the graph (and the pad on it) is 360 x 134 at (270, 358).
constexpr int padX = 270, padY = 358, padWidth = 360, padHeight = 134;

TEST_P (EditorInHost, OpensResizesTakesKnobAndGraphDragsAndCloses)
{
    const bool vst3 = GetParam() == hostkit::Format::vst3;
    ASSERT_TRUE (display.name.isNotEmpty()) << "no Xvfb";
    HostedEditor host (vst3 ? "vst3" : "lv2", vst3 ? MORVIK_VST3_BUNDLE : MORVIK_LV2_BUNDLE, { "--signal", "demo" });
    const auto window = host.window;
    ASSERT_TRUE (window.isNotEmpty()) << host.output;
    const auto png = display.home.getChildFile ("editor.png");

    // It opens at the size a new instance has.
    expectOutline (settledPicture (window, png, outlines[1]), outlines[1]);

    // The window system resizes the host's window; the host hands the size on to the editor.
    for (const auto& outline : { outlines[0], outlines[2], outlines[1] })
    {
        run ({ "xdotool", "windowsize", window, juce::String (outline.width), juce::String (outline.height) });
        const auto image = settledPicture (window, png, outline);
        ASSERT_EQ (image.getWidth(), outline.width);
        ASSERT_EQ (image.getHeight(), outline.height);
        expectOutline (image, outline);
    }

    // A drag upwards on MAKEUP (179 px wide at (563, 111)) turns it up, inside one gesture.
    run (juce::StringArray::fromTokens ("xdotool mousemove --window " + window
                                            + " 652 200 mousedown 1 sleep 0.1 mousemove_relative -- 0 -30 sleep 0.1"
                                              " mousemove_relative -- 0 -30 sleep 0.1 mouseup 1",
                                        false));

    // Band 1 starts at 100 Hz and 0 dB: ten octaves from 20 Hz across the graph's width, gain up its
    // height. It is dragged to 150 pixels across (150 / 360 of ten octaves from 20 Hz: 359.2 Hz) and
    // 22 pixels down from the top (+16.12 dB).
    const juce::Point<int> from (padX + juce::roundToInt (std::log2 (100.0 / 20.0) / 10.0 * padWidth),
                                 padY + padHeight / 2),
        to (padX + 150, padY + 22);
    juce::StringArray steps { "xdotool" };
    const auto moveTo = [&] (juce::Point<int> p) {
        steps.addArray ({ "mousemove", "--window", window, juce::String (p.x), juce::String (p.y), "sleep", "0.2" });
    };
    moveTo (from);
    steps.addArray ({ "mousedown", "1", "sleep", "0.2" });
    moveTo ((from + to) / 2);
    moveTo (to);
    steps.addArray ({ "mouseup", "1", "sleep", "0.2" });
    moveTo ({ 20, 20 });
    EXPECT_EQ (run (steps).exitCode, 0);

    auto report = host.finish();
    EXPECT_EQ (report.exitCode, 0);
    EXPECT_GT (report.blocks, 100) << "audio did not flow while the editor was open"; // ~94 blocks a second
    ASSERT_EQ (report.params.count ("1Freq"), 1u) << report.output;
    ASSERT_EQ (report.params.count ("Makeup"), 1u);
    EXPECT_GT (report.params["Makeup"].normalised, 0.3f) << report.params["Makeup"].text;
    EXPECT_EQ (report.params["Power"].normalised, 1.0f);
    const auto plain = [&report] (const char* id) { return report.params.at (id).text.getFloatValue(); };
    EXPECT_NEAR (plain ("1Freq"), 20.0 * std::exp2 (10.0 * 150.0 / padWidth), 1.0);
    EXPECT_NEAR (plain ("1Gain"), 24.0 - 48.0 * 22.0 / padHeight, 0.02);
    // The other bands stay where they were.
    EXPECT_NEAR (plain ("2Freq"), 700.0f, 0.5f);
    EXPECT_EQ (plain ("2Gain"), 0.0f);
    EXPECT_EQ (plain ("3Gain"), 0.0f);

    // JUCE's VST3 host reports each drag as one gesture per parameter; JUCE 7.0.5's LV2 wrapper drops
    // change gestures on their way to the host (it has no means to send them yet).
    for (const char* id : { "Makeup", "1Freq", "1Gain" })
    {
        const auto [begins, ends] = report.gestures[id];
        EXPECT_TRUE (vst3 ? begins == 1 && ends == 1 : begins == ends && begins <= 1)
            << id << ": " << begins << " " << ends << "\n"
            << report.output;
    }
    EXPECT_EQ (report.gestures["Compress"], std::make_pair (0, 0));
}

INSTANTIATE_TEST_SUITE_P (Formats, EditorInHost, ::testing::Values (hostkit::Format::vst3, hostkit::Format::lv2),
                          [] (const auto& info) { return hostkit::formatName (info.param).toStdString(); });

TEST (Jalv, ShowsTheLv2Editor)
{
    ASSERT_TRUE (expectInstalled ({ { "jalv.gtk3", "jalv" }, { "jackd", "jackd2" }, { "jack_wait", "jackd2" } }));

    juce::ScopedJuceInitialiser_GUI gui;
    Display display;
    ASSERT_TRUE (display.name.isNotEmpty());

    // JACK keeps few server names: one per run of this test, removed with its server.
    const auto server = "morvik" + juce::String (getpid());
    setenv ("JACK_DEFAULT_SERVER", server.toRawUTF8(), 1);
    setenv ("LV2_PATH", juce::File (MORVIK_LV2_BUNDLE).getParentDirectory().getFullPathName().toRawUTF8(), 1);
    setenv ("JACK_NO_AUDIO_RESERVATION", "1", 1);

    // JACK runs at most eight servers on a machine at once, and while other programs hold them all a
    // new server ends at once: it is started again until one answers, for at most a minute.
    std::unique_ptr<Process> jack;
    for (const auto end = juce::Time::getMillisecondCounter() + 60000;
         ! (jack != nullptr && run ({ "jack_wait", "--server", server, "--wait", "--timeout", "10" }).exitCode == 0);)
    {
        ASSERT_LT (juce::Time::getMillisecondCounter(), end) << "no JACK server would start";
        jack = std::make_unique<Process> (
            juce::StringArray { "jackd", "-n", server, "-d", "dummy", "-r", "48000", "-p", "512" });
    }

    // On a busy machine jalv now and then cannot open its JACK client ("Failed to connect to audio
    // system") and ends: it is started again until its window shows, for at most a minute.
    const auto uri = hostkit::readLv2PluginUri (juce::File (MORVIK_LV2_BUNDLE));
    std::unique_ptr<Process> jalv;
    juce::String window;
    for (const auto end = juce::Time::getMillisecondCounter() + 60000; window.isEmpty(); juce::Thread::sleep (250))
    {
        ASSERT_LT (juce::Time::getMillisecondCounter(), end) << "jalv showed no window";
        if (jalv == nullptr || jalv->exited())
            jalv = std::make_unique<Process> (juce::StringArray { "jalv.gtk3", uri });
        window = run ({ "xdotool", "search", "--onlyvisible", "--pid", juce::String (jalv->pid) })
                     .output.upToFirstOccurrenceOf ("\n", false, false);
    }

    // jalv puts its menu bar above the plug-in's view: find the view by the compressor panel's top
    // outline (rows 44 and 45 blackUltraPelko, 46 and 47 blackPelko at 900 x 530). The view attaches
    // and draws a while after the window shows.
    const auto outlineTop = [] (const juce::Image& image) {
        const auto rgb = [&image] (int x, int y) { return image.getPixelAt (x, y).getARGB() & 0xffffffu; };
        for (int y = 0; y <= 60; ++y)
            if (rgb (200, y + 44) == 0x191A1Au && rgb (200, y + 45) == 0x191A1Au && rgb (200, y + 46) == 0x282929u
                && rgb (200, y + 47) == 0x282929u)
                return y;
        return -1;
    };
    const auto image = settledPicture (window, display.home.getChildFile ("jalv.png"),
                                       [&] (const juce::Image& i) { return outlineTop (i) >= 0; });
    const int top = outlineTop (image);
    ASSERT_TRUE (image.isValid());
    EXPECT_EQ (image.getWidth(), 900);
    ASSERT_GE (top, 0) << "no editor in jalv's window";
    EXPECT_EQ (image.getHeight(), 530 + top);
    expectOutline (image, outlines[1], top);
}
} // namespace
