#include "editor/Frame.h"
#include "editor/FrequencyCurve.h"
#include "editor/Look.h"
#include "editor/PluginEditor.h"
#include "editor/Utils.h"
#include "engine/dsp/ParameterIds.h"
#include "support/EditorSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <complex>
#include <thread>

namespace
{
constexpr int width = 720, height = 270; // the graph at the largest window

float brightness (juce::Colour c) { return (float) c.getRed() + c.getGreen() + c.getBlue(); }

// Finds the one-pixel lines along a row (or a column) of the grid, by how much brighter each pixel
// is than the bare gradient, past the three-pixel border; returns the centre of each line weighted
// by that excess, and the excess summed over the line.
std::vector<std::pair<float, float>> findLines (const Frame& frame, bool alongRow, int fixed)
{
    juce::Image bare (juce::Image::ARGB, width, height, true);
    {
        juce::Graphics g (bare);
        g.setGradientFill (frame.backgroundGradient);
        g.fillAll();
    }

    std::vector<std::pair<float, float>> lines;
    float sum = 0.0f, weighted = 0.0f;
    const int length = alongRow ? width : height;

    for (int i = 3; i <= length; ++i)
    {
        const int x = alongRow ? i : fixed, y = alongRow ? fixed : i;
        const float excess =
            i < length ? brightness (frame.gridImage.getPixelAt (x, y)) - brightness (bare.getPixelAt (x, y)) : 0.0f;
        if (excess > 1.5f)
        {
            sum += excess;
            weighted += excess * ((float) i + 0.5f);
        }
        else if (sum > 0.0f)
        {
            lines.emplace_back (weighted / sum, sum);
            sum = weighted = 0.0f;
        }
    }
    return lines;
}
} // namespace

//==============================================================================
TEST (Grid, LinesSitWhereTheAxesPutThem)
{
    juce::ScopedJuceInitialiser_GUI gui;
    Frame frame;
    frame.setSize (width, height);

    // Every frequency line but none at 20 Hz (the left border is there instead); 20000 Hz just
    // inside the right edge, at about 0.9966 w.
    std::vector<float> expected; // 30, 40 .. 90, 100, 200 .. 900, 1000 .. 9000, 10000, 20000 Hz
    for (double f = 30.0; f <= 20000.0; f += std::pow (10.0, std::floor (std::log10 (f) + 1.0e-9)))
        expected.push_back ((float) std::log2 (f / 20.0) / 10.0f * width + 0.5f);
    const auto columns = findLines (frame, true, 100);
    ASSERT_EQ (columns.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR (columns[i].first, expected[i], 0.05f) << i;
    EXPECT_NEAR (columns.back().first - 0.5f, 0.9966f * width, 0.1f);
    // 1 kHz is a major line, 900 Hz a minor one, over nearly the same background.
    EXPECT_NEAR (columns[16].second - columns[15].second,
                 brightness (backgroundPelkoL.brighter (0.082f)) - brightness (backgroundPelkoL.brighter (0.01f)),
                 6.0f);

    // Gain lines at +12, 0 and -12 dB; +24 dB lies under the border and -24 dB one pixel below.
    const auto rows = findLines (frame, false, 262); // between the 200 and 300 Hz lines
    ASSERT_EQ (rows.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_NEAR (rows[i].first, 0.25f * (float) (i + 1) * height + 0.5f, 0.05f) << i;
    EXPECT_EQ (frame.gridImage.getPixelAt (262, height), backgroundPelkoL.brighter (0.01f)); // outside, unseen

    // Minor and major colours, and the dark border three pixels deep along the top and left.
    EXPECT_EQ (frame.gridImage.getPixelAt (100, height / 2), backgroundPelkoL.brighter (0.01f));
    for (int edge = 0; edge < 3; ++edge)
    {
        EXPECT_EQ (frame.gridImage.getPixelAt (300, edge), blackUltraPelko);
        EXPECT_EQ (frame.gridImage.getPixelAt (edge, height / 2), blackUltraPelko);
    }
    EXPECT_NE (frame.gridImage.getPixelAt (300, 3), blackUltraPelko);
}

TEST (Grid, NothingAtSizeZeroAndStalePixelsStayHidden)
{
    juce::ScopedJuceInitialiser_GUI gui;
    Frame frame;
    frame.resized(); // 0 x 0
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x)
            EXPECT_EQ (frame.gridImage.getPixelAt (x, y).getAlpha(), 0);

    juce::Image image (juce::Image::ARGB, 10, 10, true);
    {
        juce::Graphics g (image);
        g.setColour (juce::Colours::white);
        drawVerticalLine (g, 4.0f, 0.0f);
        drawHorizontalLine (g, 4.0f, -3.0f);
    }
    EXPECT_EQ (image.getPixelAt (4, 4).getAlpha(), 0);

    // Shrinking leaves the larger grid in the image; painting shows only the new size.
    juce::Component parent;
    parent.setSize (width, height);
    parent.addAndMakeVisible (frame);
    frame.setSize (width, height);
    frame.setSize (width / 2, height / 2);
    EXPECT_EQ (frame.gridImage.getPixelAt (500, 200).getAlpha(), 255);
    const auto shown = parent.createComponentSnapshot (parent.getLocalBounds(), true, 1.0f);
    EXPECT_EQ (shown.getPixelAt (500, 200).getAlpha(), 0);
    EXPECT_EQ (shown.getPixelAt (100, 50), frame.gridImage.getPixelAt (100, 50));
}

//==============================================================================
namespace
{
// The bands' analogue prototypes, which the digital bands match exactly at the frequency warped by
// the bilinear transform: s = j tan(pi f / fs) / tan(pi f0 / fs).
double prototypeMagnitude (int type, double f, double f0, double fs, double q, double gainDb)
{
    const std::complex<double> s (0.0, std::tan (juce::MathConstants<double>::pi * f / fs)
                                           / std::tan (juce::MathConstants<double>::pi * f0 / fs));
    const double a = std::pow (10.0, gainDb / 40.0), k = std::sqrt (a) / q;
    switch (type)
    {
        case 0:
            return std::abs (s * s / (s * s + s / q + 1.0));
        case 1:
            return std::abs (a * (s * s + k * s + a) / (a * s * s + k * s + 1.0));
        case 2:
            return std::abs ((s * s + s * a / q + 1.0) / (s * s + s / (a * q) + 1.0));
        case 3:
            return std::abs (a * (a * s * s + k * s + 1.0) / (s * s + k * s + a));
        default:
            return std::abs (1.0 / (s * s + s / q + 1.0));
    }
}

struct CurveTest : public ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
    std::unique_ptr<MorvikAudioProcessor> processor = test::makePreparedProcessor (48000.0, 512);
    FrequencyCurve curve { *processor };

    void set (int band, const char* suffix, float value)
    {
        test::setParameter (*processor, ParameterIds::band (band, suffix, false), value);
    }

    float raw (int band, const char* suffix)
    {
        return test::getParameter (*processor, ParameterIds::band (band, suffix, false));
    }

    // The highest point of the drawn response, in dB (points sit half a pixel above their gain).
    float drawnTopDb() { return (1.0f - (curve.curvePath.getBounds().getY() + 0.5f) / height) * 48.0f - 24.0f; }
};
} // namespace

TEST_F (CurveTest, EachBandTypeFollowsItsFilterFormula)
{
    curve.setSize (width, height);
    set (2, "On", 0.0f);
    set (3, "On", 0.0f);
    set (1, "Freq", 640.0f); // the curve's point 300
    set (1, "Q", 2.0f);
    set (1, "Gain", 9.0f);

    for (int type = 0; type < 5; ++type)
    {
        set (1, "Type", (float) type);
        ASSERT_TRUE (curve.rebuildIfStale());
        EXPECT_FALSE (curve.rebuildIfStale());

        for (size_t i : { 0u, 120u, 240u, 290u, 300u, 310u, 360u, 480u, 599u })
        {
            const double f = curve.frequencies[i];
            const double expected =
                prototypeMagnitude (type, f, raw (1, "Freq"), 48000.0, raw (1, "Q"), raw (1, "Gain"));
            EXPECT_NEAR (20.0 * std::log10 (curve.bandMagnitudes[0][i]), 20.0 * std::log10 (expected), 0.01)
                << "type " << type << " at " << f << " Hz";
            EXPECT_EQ (curve.totalMagnitude[i], curve.bandMagnitudes[0][i]);
        }
    }
    EXPECT_NEAR (curve.frequencies[300], 640.0, 1.0e-9);
    EXPECT_NEAR (curve.frequencies[599], 20.0 * std::pow (2.0, 599.0 / 60.0), 1.0e-6);

    // The peak's maximum (+9 dB at 640 Hz) is the top of the drawn shape; the bottom is 0 dB.
    set (1, "Type", 2.0f);
    curve.rebuildIfStale();
    EXPECT_NEAR (drawnTopDb(), 9.0f, 0.01f);
    EXPECT_EQ (curve.curvePath.getBounds().getBottom(), height / 2.0f);
}

TEST_F (CurveTest, BandsThatAreOffContributeOne)
{
    curve.setSize (width, height);
    set (1, "Type", 2.0f);
    set (1, "Gain", 6.0f);
    set (2, "Gain", -12.0f);
    curve.rebuildIfStale();
    const auto band2 = curve.bandMagnitudes[1];
    EXPECT_NEAR (curve.totalMagnitude[300], curve.bandMagnitudes[0][300] * band2[300], 1.0e-12);

    set (2, "On", 0.0f);
    curve.rebuildIfStale();
    EXPECT_EQ (curve.totalMagnitude, curve.bandMagnitudes[0]);
    EXPECT_EQ (curve.bandMagnitudes[1], band2); // kept, not used

    set (1, "On", 0.0f);
    set (3, "On", 0.0f);
    curve.rebuildIfStale();
    EXPECT_EQ (curve.totalMagnitude, std::vector<double> (600, 1.0));
    EXPECT_EQ (curve.curvePath.getBounds(), juce::Rectangle<float> (0.0f, height / 2.0f - 0.5f, width, 0.5f));
    EXPECT_EQ (curve.zeroPath.getBounds(), juce::Rectangle<float> (0.0f, height / 2.0f - 0.5f, width, 0.5f));
}

// Before a sample rate is known (the Standalone without an audio device), and while a band that is
// on has no coefficients for the rate yet, there is no response to show: the curve stays flat, and
// catches up by itself once the sets exist.
TEST (Curve, NoRateOrNoCoefficientsDrawFlat)
{
    juce::ScopedJuceInitialiser_GUI gui;
    MorvikAudioProcessor processor;
    FrequencyCurve curve (processor);
    curve.setSize (width, height);
    const juce::Rectangle<float> flat (0.0f, height / 2.0f - 0.5f, width, 0.5f);
    EXPECT_EQ (curve.curvePath.getBounds(), flat);
    EXPECT_FALSE (curve.rebuildIfStale());

    processor.sampleRate = 48000.0; // a rate, but the bands have not computed a set yet
    EXPECT_TRUE (curve.rebuildIfStale());
    EXPECT_EQ (curve.curvePath.getBounds(), flat);
    EXPECT_TRUE (curve.rebuildIfStale()); // still waiting for the sets

    processor.prepareToPlay (44100.0, 256);
    test::setParameter (processor, ParameterIds::band (2, "Type", false), 2.0f);
    test::setParameter (processor, ParameterIds::band (2, "Freq", false), 640.0f); // point 300
    test::setParameter (processor, ParameterIds::band (2, "Gain", false), 9.0f);
    EXPECT_TRUE (curve.rebuildIfStale());
    EXPECT_NEAR (curve.curvePath.getBounds().getY(), graphY (9.0f, height) - 0.5f, 0.05f);
    EXPECT_EQ (curve.curvePath.getBounds().getBottom(), height / 2.0f);
    EXPECT_FALSE (curve.rebuildIfStale());
}

// Every band parameter, changed from another thread, only marks the curve: it rebuilds at the next
// tick on this thread. In the editor, that tick is the 33 ms timer's.
TEST_F (CurveTest, ChangesFromAnyThreadShowAtTheNextTick)
{
    curve.setSize (width, height);
    EXPECT_FALSE (curve.rebuildIfStale());

    for (int band = 1; band <= 3; ++band)
        for (auto* suffix : ParameterIds::bandSuffixes)
        {
            const auto id = ParameterIds::band (band, suffix, false);
            auto* parameter = processor->apvts.getParameter (id);
            const auto before = curve.curvePath.getBounds();
            std::thread ([&] { parameter->setValueNotifyingHost (1.0f - parameter->getValue()); }).join();
            EXPECT_EQ (curve.curvePath.getBounds(), before) << id;
            EXPECT_TRUE (curve.rebuildIfStale()) << id;
            EXPECT_FALSE (curve.rebuildIfStale()) << id;
        }

    const auto editor = test::openEditor (*processor);
    auto& shown = editor->getFrequencyCurve();
    const auto before = shown.curvePath.getBounds();
    std::thread ([this] {
        set (1, "On", 0.0f);
        set (3, "On", 0.0f);
        set (2, "On", 1.0f);
        set (2, "Type", 2.0f);
        set (2, "Gain", 9.0f);
    }).join();
    EXPECT_EQ (shown.curvePath.getBounds(), before);
    editor->timerCallback();
    EXPECT_NEAR (shown.curvePath.getBounds().getY(), graphY (9.0f, (float) shown.getHeight()) - 0.5f, 0.05f);
}
