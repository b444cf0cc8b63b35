#include "editor/Look.h"
#include "editor/Meter.h"
#include "support/EditorSupport.h"

#include <gtest/gtest.h>

#include <numeric>

// A 200 x 200 meter: base radius R = 0.08 x 200 + 0.02 x 200 = 20, so a value of 0 sits at 3R = 60,
// the largest radius is 0.49 x 200 = 98 and the centre disc has radius 44.
namespace
{
constexpr float centre = 100.0f;
const juce::Rectangle<float> atCentre (centre, centre, 0.0f, 0.0f);

void expectColour (const juce::Image& image, int x, int y, juce::Colour expected)
{
    const auto actual = image.getPixelAt (x, y);
    EXPECT_TRUE (std::abs (actual.getAlpha() - expected.getAlpha()) <= 2
                 && std::abs (actual.getRed() - expected.getRed()) <= 2
                 && std::abs (actual.getGreen() - expected.getGreen()) <= 2
                 && std::abs (actual.getBlue() - expected.getBlue()) <= 2)
        << "at " << x << ", " << y << ": " << actual.toString() << " instead of " << expected.toString();
}

struct MeterTest : public ::testing::Test
{
    juce::ScopedJuceInitialiser_GUI gui;
    Meter meter;
    MeterNeedle& needle = meter.needle;

    void SetUp() override { meter.setSize (200, 200); }
};
} // namespace

// Both histories zero: the grey input shape covers the red one but for the outer half of the
// 3-pixel outline; the two halves mirror each other about the vertical centre line.
TEST_F (MeterTest, EmptyHistoriesShowOnlyTheOutlineOutsideTheInputShape)
{
    needle.setMode (7);
    EXPECT_EQ (std::pair (needle.minDb, needle.maxDb), std::pair (-30, 0));
    EXPECT_EQ (needle.getBounds(), meter.getLocalBounds());
    EXPECT_EQ (meter.background.getBounds(), meter.getLocalBounds());

    const auto image = test::painted (needle);
    EXPECT_EQ (needle.pathA1.getBounds(), needle.pathB1.getBounds());
    EXPECT_NEAR (needle.pathA1.getBounds().getY(), centre - 60.0f, 0.01f);
    EXPECT_NEAR (needle.pathA1.getBounds().getRight(), centre, 1.0e-3f);
    EXPECT_NEAR (needle.pathA2.getBounds().getX(), centre, 1.0e-3f);

    expectColour (image, 100, 100, greyDownPelko); // centre disc
    expectColour (image, 48, 100, greyDownPelko); // radius 52, left
    expectColour (image, 100, 47, greyDownPelko); // radius 52, top, on the seam of the halves
    expectColour (image, 39, 100, blackOpacityPelko); // radius 60 to 61: outer half of the outline
    expectColour (image, 36, 100, transparentPelko);
}

TEST_F (MeterTest, RadiiClampToTheCentreAndToTheEdge)
{
    needle.historyB.fill (30.11f); // just past 30 + 0.3 / 2.99: drawn at the centre
    needle.historyA.fill (-30.0f); // 5.99 R = 119.8, limited to 0.49 h = 98
    needle.buildPaths();
    EXPECT_EQ (needle.pathB1.getBounds(), atCentre);
    EXPECT_EQ (needle.pathB2.getBounds(), atCentre);
    EXPECT_NEAR (needle.pathA1.getBounds().getY(), centre - 98.0f, 0.01f);
    EXPECT_NEAR (needle.pathA1.getBounds().getX(), centre - 98.0f, 0.05f); // no point at exactly 90 degrees
    EXPECT_NEAR (needle.pathA2.getBounds().getBottom(), centre + 98.0f, 0.01f);

    needle.historyB.fill (30.09f);
    needle.buildPaths();
    EXPECT_GT (needle.pathB1.getBounds().getHeight(), 0.0f);

    // Index 0 at the top, 79 at the bottom, the middle of the history at the side.
    needle.historyA.fill (0.0f);
    needle.historyA[0] = needle.historyA[79] = -15.0f; // 45 x 59.8 / 30 + 0.2 = 89.9
    needle.buildPaths();
    EXPECT_NEAR (needle.pathA1.getBounds().getY(), centre - 89.9f, 0.01f);
    EXPECT_NEAR (needle.pathA1.getBounds().getBottom(), centre + 89.9f, 0.01f);
    EXPECT_NEAR (needle.pathA1.getBounds().getX(), centre - 60.0f, 0.05f);

    // Infinite and not-a-number values stay inside the meter.
    needle.historyA.fill (-std::numeric_limits<float>::infinity());
    needle.historyB.fill (std::numeric_limits<float>::quiet_NaN());
    needle.buildPaths();
    EXPECT_NEAR (needle.pathA1.getBounds().getY(), centre - 98.0f, 0.01f);
    EXPECT_EQ (needle.pathB1.getBounds(), atCentre);
}

// Pushed values enter at index 0 and move one place on per push. The red is darkened by 1 minus the
// newest reduction in dB, not at all from 1 dB on. (80, 12) lies inside the reduction shape (radius
// 89.6 of 98), outside the input shape and above the gradient.
TEST_F (MeterTest, PushedValuesShiftInTheRedFollowsTheNewestAndResizingClears)
{
    std::iota (needle.historyA.rbegin(), needle.historyA.rend(), -79.0f); // entry i holds -i
    meter.pushValues (-3.5f, 2.0f);
    meter.pushValues (-1.0f, 3.0f); // -78 and -79 dropped out
    EXPECT_EQ ((std::array { needle.historyA[0], needle.historyA[1], needle.historyA[2], needle.historyA[79],
                             needle.historyB[0], needle.historyB[1] }),
               (std::array { -1.0f, -3.5f, 0.0f, -77.0f, 3.0f, 2.0f }));

    for (auto [newest, darkening] : { std::pair { -0.5f, 0.5f }, { -2.0f, 0.0f }, { 0.0f, 1.0f }, { -0.2f, 0.8f } })
    {
        needle.historyA.fill (-20.0f);
        meter.pushValues (newest, 0.0f);
        expectColour (test::painted (needle), 80, 12, redPelko.darker (darkening));
    }

    needle.historyB.fill (3.0f);
    meter.setSize (150, 150);
    EXPECT_EQ (needle.getWidth(), 150);
    EXPECT_EQ (needle.historyA, decltype (needle.historyA) {});
    EXPECT_EQ (needle.historyB, decltype (needle.historyB) {});
}
