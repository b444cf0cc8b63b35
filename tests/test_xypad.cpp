#include "editor/Look.h"
#include "editor/PluginEditor.h"
#include "editor/XYPad.h"
#include "engine/dsp/ParameterIds.h"
#include "support/EditorSupport.h"
#include "support/TestSupport.h"
#include "tools/host/XErrors.h"

#include <gtest/gtest.h>

#include <cmath>

// Needs a display: the pad sits in its own window and the mouse reaches it through the window's
// peer. The suite runs under xvfb-run.
namespace
{
constexpr int width = 600, height = 300;

juce::String id (int band, const char* suffix) { return ParameterIds::band (band, suffix, false); }

class XYPadTest : public ::testing::Test
{
protected:
    XYPadTest() { hostkit::tolerateXErrors(); }

    // The pad alone in a window of its own, painted once so it knows where it drew the handles.
    void openWindow()
    {
        pad.setBounds (0, 0, width, height);
        pad.addToDesktop (0);
        pad.setVisible (true);
        paint();
        host.clear();
    }

    // The pad paints unclipped: the picture leaves a margin around it.
    static constexpr int margin = 30;
    juce::Image paint()
    {
        juce::Image image (juce::Image::ARGB, width + 2 * margin, height + 2 * margin, true);
        juce::Graphics g (image);
        g.setOrigin ({ margin, margin });
        pad.paintEntireComponent (g, false);
        return image;
    }

    juce::Point<float> handle (int i) const { return { pad.handles[(size_t) i]->x, pad.handles[(size_t) i]->y }; }
    int indexOf (juce::RangedAudioParameter* p) const { return p->getParameterIndex(); }
    float plain (int band, const char* suffix) { return test::getParameter (processor, id (band, suffix)); }

    juce::ScopedJuceInitialiser_GUI gui;
    MorvikAudioProcessor processor;
    std::vector<XYPad::BandParameters> bands =
        MorvikAudioProcessorEditor::bandHandleParameters (processor, processor.apvts);
    XYPad pad { bands };
    test::PeerMouse mouse { pad };
    test::HostRecorder host { processor };
};

// Default band frequencies 100, 700 and 4000 Hz on ten octaves from 20 Hz; every gain 0 dB.
float xOf (float hz) { return std::log2 (hz / 20.0f) / 10.0f * (float) width; }
} // namespace

TEST_F (XYPadTest, HandlesWaitInTheCornerUntilTheFirstLayoutThenSitOnTheGraphAxes)
{
    ASSERT_EQ (pad.handles.size(), 3u);
    test::setParameter (processor, id (2, ParameterIds::bandGain), 12.0f);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (handle (i), juce::Point<float>());
    host.clear();

    pad.setBounds (0, 0, width, height);

    // The layout re-sends all six values, which places every handle.
    for (auto* p :
         { bands[0].first, bands[0].second, bands[1].first, bands[1].second, bands[2].first, bands[2].second })
        EXPECT_EQ (host.values[indexOf (p)], std::vector<float> { p->getValue() }) << p->paramID;
    const float hz[] = { 100.0f, 700.0f, 4000.0f }, y[] = { 150.0f, 75.0f, 150.0f };
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE (std::abs (handle (i).x - xOf (hz[i])) < 0.01f && handle (i).y == y[i]) << i;
    EXPECT_EQ (host.begins.size(), 0u);
}

TEST_F (XYPadTest, DragWritesBothParametersInsideOneGestureEachAndStopsAtTheRangeLimits)
{
    openWindow();
    const auto start = handle (2).toInt().toFloat();
    mouse.move (start);
    mouse.press (start);

    EXPECT_EQ (pad.grabbed, pad.handles[2].get());
    EXPECT_EQ (pad.selectedIndex, 2);
    const int freq = indexOf (bands[2].first), gain = indexOf (bands[2].second);
    EXPECT_EQ (host.begins, (std::map<int, int> { { freq, 1 }, { gain, 1 } }));
    // The grab alone tells the host about the gain twice: a tenth of a pixel up, then back.
    ASSERT_EQ (host.values[gain].size(), 2u);
    EXPECT_NEAR (host.values[gain][0], 0.5f + 0.1f / height, 1e-6f);
    EXPECT_NEAR (host.values[gain][1], 0.5f, 1e-6f);
    EXPECT_EQ (host.values.count (freq), 0u);

    // Far past the right and top edges: 20 kHz, about 0.9966 of the width, and +24 dB at the top.
    mouse.drag ({ width + 80.0f, -60.0f });
    EXPECT_FLOAT_EQ (plain (3, ParameterIds::bandFreq), 20000.0f);
    EXPECT_FLOAT_EQ (plain (3, ParameterIds::bandGain), 24.0f);
    EXPECT_NEAR (handle (2).x / width, 0.99658f, 1e-4f);
    EXPECT_FLOAT_EQ (handle (2).y, 0.0f);

    mouse.drag ({ -40.0f, height + 70.0f });
    EXPECT_FLOAT_EQ (plain (3, ParameterIds::bandFreq), 20.0f);
    EXPECT_FLOAT_EQ (plain (3, ParameterIds::bandGain), -24.0f);
    EXPECT_EQ (handle (2), juce::Point<float> (0.0f, (float) height));

    // Half the width is five octaves up; a quarter of the height from the top is +12 dB.
    mouse.drag ({ width * 0.5f, height * 0.25f });
    EXPECT_NEAR (plain (3, ParameterIds::bandFreq), 640.0f, 0.01f);
    EXPECT_NEAR (plain (3, ParameterIds::bandGain), 12.0f, 1e-4f);
    mouse.release ({ width * 0.5f, height * 0.25f });

    EXPECT_EQ (host.begins, (std::map<int, int> { { freq, 1 }, { gain, 1 } }));
    EXPECT_EQ (host.ends, host.begins);
    // Outside the pad the values were limited before they reached the host.
    for (const auto& [index, values] : host.values)
        for (auto v : values)
            EXPECT_TRUE (v >= 0.0f && v <= 1.0f) << index << " " << v;
    EXPECT_EQ (host.values.size(), 2u) << "only band 3's frequency and gain were written";

    // The grab outlasts the release until the mouse moves.
    EXPECT_EQ (pad.grabbed, pad.handles[2].get());
    mouse.move ({ 10.0f, 10.0f });
    EXPECT_EQ (pad.grabbed, nullptr);
    EXPECT_EQ (pad.selectedIndex, 2);
}

TEST_F (XYPadTest, PressGrabsTheFirstHandleStrictlyWithinNinePixels)
{
    openWindow();
    const auto grab = [this] (juce::Point<float> p) {
        mouse.move (p);
        mouse.press (p);
        auto* grabbed = pad.grabbed;
        mouse.release (p);
        mouse.move ({ 5.0f, 5.0f });
        paint();
        return grabbed;
    };

    // Band 1 sits at y = 150 exactly, x within half a pixel of a whole number.
    const auto x1 = std::round (handle (0).x);
    EXPECT_EQ (grab ({ x1, 150.0f + 9.0f }), nullptr);
    EXPECT_EQ (host.begins.size(), 0u);
    EXPECT_EQ (grab ({ x1, 150.0f + 8.0f }), pad.handles[0].get());

    EXPECT_EQ (grab (handle (2).toInt().toFloat()), pad.handles[2].get());
    EXPECT_EQ (pad.selectedIndex, 2);

    // Band 2 five pixels right of band 1: a press right on band 2 still grabs band 1.
    bands[1].first->setValueNotifyingHost ((handle (0).x + 5.0f) / width);
    paint();
    EXPECT_EQ (grab (handle (1).toInt().toFloat()), pad.handles[0].get());
    EXPECT_EQ (pad.selectedIndex, 0);

    // Band 2 at band 1's very frequency, 75 pixels higher: grabbing it selects band 1, the lower
    // index of the two.
    EXPECT_EQ (grab (handle (2).toInt().toFloat()), pad.handles[2].get());
    bands[0].first->setValueNotifyingHost (0.25f);
    bands[1].first->setValueNotifyingHost (0.25f);
    test::setParameter (processor, id (2, ParameterIds::bandGain), 12.0f);
    paint();
    ASSERT_EQ (handle (1).x, handle (0).x);
    EXPECT_EQ (grab (handle (1).toInt().toFloat()), pad.handles[1].get());
    EXPECT_EQ (pad.selectedIndex, 0);
}

TEST_F (XYPadTest, DoubleClickResetsTheGrabbedGainOnly)
{
    openWindow();
    test::setParameter (processor, id (1, ParameterIds::bandGain), 10.0f);
    const float freqBefore = plain (1, ParameterIds::bandFreq);
    const auto at = handle (0).toInt().toFloat();

    mouse.move (at);
    mouse.doubleClick (at);
    EXPECT_FLOAT_EQ (plain (1, ParameterIds::bandGain), 0.0f);
    EXPECT_FLOAT_EQ (plain (1, ParameterIds::bandFreq), freqBefore);
    const int gain = indexOf (bands[0].second);
    EXPECT_EQ (host.begins[gain], 2);
    EXPECT_EQ (host.ends[gain], 2);

    // Nothing grabbed after the move: a double-click changes nothing, on a handle's level or not.
    test::setParameter (processor, id (1, ParameterIds::bandGain), 10.0f);
    mouse.move ({ 500.0f, 280.0f });
    host.clear();
    mouse.doubleClick ({ 500.0f, 280.0f });
    EXPECT_FLOAT_EQ (plain (1, ParameterIds::bandGain), 10.0f);
    EXPECT_TRUE (host.values.empty() && host.begins.empty());
}

TEST_F (XYPadTest, PaintsDotsSelectionRingsAndGrabMarks)
{
    // Handles on pixel centres, so a pixel's centre is at a known distance from them.
    pad.setBounds (0, 0, width, height);
    const auto place = [this] (int band, float x, float y) {
        bands[(size_t) band].first->setValueNotifyingHost (x / width);
        bands[(size_t) band].second->setValueNotifyingHost (1.0f - y / height);
    };
    place (0, 100.5f, 150.5f);
    place (1, 300.5f, 60.5f);
    place (2, 500.5f, 240.5f);
    const auto pixel = [] (const juce::Image& image, juce::Point<float> centre, float dx, float dy = 0.0f) {
        return image.getPixelAt (margin + (int) std::floor (centre.x + dx), margin + (int) std::floor (centre.y + dy));
    };
    // Opaque and within a few steps of the colour (the ring edges blend a little).
    const auto near = [] (juce::Colour a, juce::Colour b) {
        return a.getAlpha() == 255
               && std::abs (a.getRed() - b.getRed()) + std::abs (a.getGreen() - b.getGreen())
                          + std::abs (a.getBlue() - b.getBlue())
                      <= 12;
    };

    auto image = paint();
    ASSERT_EQ (pad.positions.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_PRED2 (near, pixel (image, handle (i), 0.0f), whitePelko) << i;
    // Band 1 is selected at construction: grey ring over a dark purple one around it.
    EXPECT_PRED2 (near, pixel (image, handle (0), 5.0f), greyWhitePelko);
    EXPECT_PRED2 (near, pixel (image, handle (0), -8.5f), purpleTransChord);
    EXPECT_EQ (pixel (image, handle (0), 10.0f).getAlpha(), 0);
    EXPECT_EQ (pixel (image, handle (1), 5.0f).getAlpha(), 0);
    EXPECT_EQ (pixel (image, handle (1), 8.5f).getAlpha(), 0);

    openWindow();
    mouse.move (handle (1));
    mouse.press (handle (1));
    image = paint();
    EXPECT_EQ (pad.selectedIndex, 1);
    EXPECT_EQ (pad.markPos, handle (1));
    EXPECT_PRED2 (near, pixel (image, handle (1), 5.0f), greyWhitePelko);
    EXPECT_PRED2 (near, pixel (image, handle (1), 10.0f), purplePelko);
    EXPECT_EQ (pixel (image, handle (0), 5.0f).getAlpha(), 0);

    // While dragging, the light grab mark follows the mouse; above the pad the handle stays at the
    // top edge.
    mouse.drag ({ 200.5f, -15.5f });
    image = paint();
    EXPECT_NEAR (handle (1).x, 200.5f, 1e-3f);
    EXPECT_EQ (handle (1).y, 0.0f);
    EXPECT_PRED2 (near, pixel (image, { 200.5f, -15.5f }, 0.0f, -9.0f), whiteLightPelko);
    EXPECT_EQ (pixel (image, { 200.5f, -15.5f }, 0.0f).getAlpha(), 0);
    mouse.release ({ 200.5f, -15.5f });
    mouse.move ({ 10.0f, 10.0f });
    EXPECT_EQ (pixel (paint(), handle (1), 10.0f).getAlpha(), 0);
}
