#include "editor/Look.h"
#include "editor/Meter.h"

#include <gtest/gtest.h>

// A 200 x 200 needle: base radius R = 0.08 x 200 + 0.02 x 200 = 20, so a value of 0 sits at 3R = 60,
// the largest radius is 0.49 x 200 = 98 and the centre disc has radius 44.
namespace
{
constexpr int size = 200;
constexpr float centre = 100.0f;

juce::Image paintNeedle (MeterNeedle& needle)
{
    juce::Image image (juce::Image::ARGB, needle.getWidth(), needle.getHeight(), true);
    juce::Graphics g (image);
    needle.paint (g);

    // MORVIK_PNG_DIR=folder writes the picture for a look.
    if (auto* folder = std::getenv ("MORVIK_PNG_DIR"))
    {
        juce::File file (juce::File (folder).getChildFile (
            juce::String ("needle_") + ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png"));
        file.deleteFile();
        juce::FileOutputStream out (file);
        juce::PNGImageFormat().writeImageToStream (image, out);
    }
    return image;
}

void expectColour (const juce::Image& image, int x, int y, juce::Colour expected)
{
    const auto actual = image.getPixelAt (x, y);
    for (auto [a, e] : { std::pair { actual.getAlpha(), expected.getAlpha() },
                         { actual.getRed(), expected.getRed() },
                         { actual.getGreen(), expected.getGreen() },
                         { actual.getBlue(), expected.getBlue() } })
        EXPECT_NEAR (a, e, 2) << "at " << x << ", " << y << ": " << actual.toString() << " against "
                              << expected.toString();
}

class MeterTest : public ::testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
    Meter meter;

    void SetUp() override { meter.setSize (size, size); }
};
} // namespace

TEST_F (MeterTest, EmptyHistoriesShowOnlyTheOutlineOutsideTheInputShape)
{
    auto& needle = meter.needle;
    needle.setMode (7);
    EXPECT_EQ (needle.minDb, -30);
    EXPECT_EQ (needle.maxDb, 0);
    EXPECT_EQ (needle.getBounds(), meter.getLocalBounds());
    EXPECT_EQ (meter.background.getBounds(), meter.getLocalBounds());

    const auto image = paintNeedle (needle);
    EXPECT_EQ (needle.pathA1.getBounds(), needle.pathB1.getBounds());
    EXPECT_NEAR (needle.pathA1.getBounds().getY(), centre - 60.0f, 0.01f);
    EXPECT_NEAR (needle.pathA2.getBounds().getBottom(), centre + 60.0f, 0.01f);
    // Left and right halves mirror each other about the vertical centre line.
    EXPECT_NEAR (needle.pathA1.getBounds().getRight(), centre, 1.0e-3f);
    EXPECT_NEAR (needle.pathA2.getBounds().getX(), centre, 1.0e-3f);

    expectColour (image, 100, 100, greyDownPelko); // centre disc
    expectColour (image, 48, 100, greyDownPelko); // radius 52: the input shape covers the red
    expectColour (image, 100, 47, greyDownPelko);
    expectColour (image, 39, 100, blackOpacityPelko); // radius 60 to 61: outer half of the outline
    expectColour (image, 36, 100, transparentPelko);
}

TEST_F (MeterTest, RadiiClampToTheCentreAndToTheEdge)
{
    auto& needle = meter.needle;

    needle.historyB.fill (30.11f); // just past 30 + 0.3 / 2.99
    needle.historyA.fill (-30.0f); // 5.99 R = 119.8, limited to 98
    needle.buildPaths();
    EXPECT_EQ (needle.pathB1.getBounds(), juce::Rectangle<float> (centre, centre, 0.0f, 0.0f));
    EXPECT_EQ (needle.pathB2.getBounds(), juce::Rectangle<float> (centre, centre, 0.0f, 0.0f));
    EXPECT_NEAR (needle.pathA1.getBounds().getY(), centre - 98.0f, 0.01f);
    EXPECT_NEAR (needle.pathA1.getBounds().getX(), centre - 98.0f, 0.05f); // no point at exactly 90 degrees
    EXPECT_NEAR (needle.pathA2.getBounds().getBottom(), centre + 98.0f, 0.01f);

    needle.historyB.fill (30.09f); // still a hair outside the centre
    needle.buildPaths();
    EXPECT_GT (needle.pathB1.getBounds().getHeight(), 0.0f);

    // Index 0 is the top; the angle reaches the middle of the left side half-way through.
    needle.historyA.fill (0.0f);
    needle.historyA[0] = -15.0f; // (45 x 59.8 / 30 + 0.2) = 89.9 at the top
    needle.historyA[79] = -15.0f; // and at the bottom
    needle.buildPaths();
    EXPECT_NEAR (needle.pathA1.getBounds().getY(), centre - 89.9f, 0.01f);
    EXPECT_NEAR (needle.pathA1.getBounds().getBottom(), centre + 89.9f, 0.01f);
    EXPECT_NEAR (needle.pathA1.getBounds().getX(), centre - 60.0f, 0.05f);

    // Values that are not numbers or infinite stay inside the meter.
    needle.historyA.fill (-std::numeric_limits<float>::infinity());
    needle.historyB.fill (std::numeric_limits<float>::quiet_NaN());
    needle.buildPaths();
    EXPECT_NEAR (needle.pathA1.getBounds().getY(), centre - 98.0f, 0.01f);
    EXPECT_EQ (needle.pathB1.getBounds(), juce::Rectangle<float> (centre, centre, 0.0f, 0.0f));
}

// The red is darkened by 1 minus the newest reduction in dB, down to none from 1 dB on. (80, 12)
// lies inside the reduction shape (radius 89.6 of 98), outside the input shape and above where the
// purple gradient starts (0.1 h).
TEST_F (MeterTest, RedFollowsTheNewestReduction)
{
    auto& needle = meter.needle;
    for (auto [newest, darkening] : { std::pair { -0.5f, 0.5f }, { -2.0f, 0.0f }, { 0.0f, 1.0f }, { -0.2f, 0.8f } })
    {
        needle.historyA.fill (-20.0f);
        needle.historyA[0] = newest;
        const auto image = paintNeedle (needle);
        expectColour (image, 80, 12, redPelko.darker (darkening));
    }
}

TEST_F (MeterTest, ResizeClearsBothHistories)
{
    auto& needle = meter.needle;
    needle.historyA.fill (-6.0f);
    needle.historyB.fill (3.0f);
    meter.setSize (150, 150);

    EXPECT_EQ (needle.getWidth(), 150);
    EXPECT_EQ (needle.historyA, decltype (needle.historyA) {});
    EXPECT_EQ (needle.historyB, decltype (needle.historyB) {});
}
