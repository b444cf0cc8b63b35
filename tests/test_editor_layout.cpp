// The editor's geometry against figures worked out from its formulas, and its background painting
// checked by pixels at the places the geometry decides. Needs a display: the suite runs under
// xvfb-run.

#include "editor/PluginEditor.h"
#include "support/EditorSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace juce
{
// Readable failure messages.
inline void PrintTo (const Rectangle<int>& r, std::ostream* os) { *os << r.toString(); }
inline void PrintTo (const Colour& c, std::ostream* os) { *os << c.toDisplayString (true); }
} // namespace juce

namespace
{
using Bounds = juce::Rectangle<int>;

class EditorLayoutTest : public ::testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
    MorvikAudioProcessor processor;
    std::unique_ptr<MorvikAudioProcessorEditor> editor = test::openEditor (processor);

    void expectBounds (const std::vector<std::pair<juce::Component*, Bounds>>& expected)
    {
        for (const auto& [component, bounds] : expected)
            EXPECT_EQ (component->getBounds(), bounds)
                << component->getName() << " / " << component->getTitle() << " at " << editor->getWidth();
    }

    void expectBox (juce::Slider& slider, int width, int height)
    {
        EXPECT_EQ (slider.getTextBoxWidth(), width);
        EXPECT_EQ (slider.getTextBoxHeight(), height);
        EXPECT_FALSE (slider.isTextBoxEditable());
        EXPECT_EQ (slider.getTextBoxPosition(), juce::Slider::TextBoxBelow);
    }

    void expectLabelsAbove (int height)
    {
        auto& e = *editor;
        for (auto* label : { &e.makeupLabel, &e.characterLabel, &e.ratioLabel, &e.attackLabel, &e.releaseLabel,
                             &e.mixLabel, &e.smoothLabel, &e.stereoLinkLabel })
        {
            auto* owner = label->getAttachedComponent();
            ASSERT_NE (owner, nullptr) << label->getText();
            EXPECT_EQ (label->getBounds(), Bounds (owner->getX(), owner->getY() - height, owner->getWidth(), height))
                << label->getText();
        }
    }

    // (test_editor checks that the frame holds them, in that order.)
    void expectGraphLayersFillTheFrame()
    {
        for (auto* layer : editor->frame.getChildren())
            EXPECT_EQ (layer->getBounds(), editor->frame.getLocalBounds());
    }

    juce::Image render() { return test::painted (*editor); }
};

TEST_F (EditorLayoutTest, DefaultSizeMatchesTheWorkedFigures)
{
    auto& e = *editor;
    ASSERT_EQ (e.getBounds(), Bounds (0, 0, 900, 530));
    EXPECT_FLOAT_EQ (e.look.labelFontHeight, 11.7f);
    expectLabelsAbove (20);
    expectBounds ({ { &e.presetButton, { 337, 3, 225, 39 } },
                    { &e.previousPresetButton, { 300, 6, 34, 33 } },
                    { &e.nextPresetButton, { 565, 6, 34, 33 } },
                    { &e.powerButton, { 828, 6, 33, 33 } },
                    { &e.attackSlider, { 52, 82, 89, 89 } },
                    { &e.attackLabel, { 52, 62, 89, 20 } },
                    { &e.characterSlider, { 151, 111, 179, 179 } },
                    { &e.meter, { 347, 79, 206, 206 } },
                    { &e.compressSlider, { 387, 132, 125, 125 } },
                    { &e.compressLabel, { 347, 46, 206, 33 } },
                    { &e.makeupSlider, { 563, 111, 179, 179 } },
                    { &e.ratioSlider, { 752, 82, 89, 89 } },
                    { &e.releaseSlider, { 52, 211, 89, 89 } },
                    { &e.mixSlider, { 752, 211, 89, 89 } },
                    { &e.frame, { 270, 358, 360, 134 } },
                    { &e.sidechainLabel, { 270, 325, 360, 33 } },
                    { &e.smoothSlider, { 135, 375, 116, 116 } },
                    { &e.stereoLinkSlider, { 647, 375, 116, 116 } } });
    expectGraphLayersFillTheFrame();

    for (auto* small : { &e.ratioSlider, &e.attackSlider, &e.releaseSlider, &e.mixSlider })
        expectBox (*small, 62, 17);
    expectBox (e.characterSlider, 76, 35);
    expectBox (e.makeupSlider, 76, 35);
    expectBox (e.compressSlider, 71, 26);
    expectBox (e.smoothSlider, 76, 22);
    expectBox (e.stereoLinkSlider, 76, 22);

    // The hidden Q holder never gets bounds.
    EXPECT_TRUE (e.qKnob.getBounds().isEmpty());
}

TEST_F (EditorLayoutTest, SmallestLargestAndAnUnlistedSize)
{
    auto& e = *editor;
    e.setSize (450, 265);
    EXPECT_FLOAT_EQ (e.look.labelFontHeight, 5.85f);
    expectLabelsAbove (14);
    expectBounds ({ { &e.presetButton, { 168, 1, 112, 19 } },
                    { &e.previousPresetButton, { 150, 3, 16, 16 } },
                    { &e.nextPresetButton, { 281, 3, 16, 16 } },
                    { &e.powerButton, { 414, 3, 16, 16 } },
                    { &e.attackSlider, { 26, 41, 44, 44 } },
                    { &e.meter, { 172, 35, 103, 103 } },
                    { &e.frame, { 135, 178, 180, 67 } },
                    { &e.stereoLinkSlider, { 323, 186, 58, 58 } } });
    expectGraphLayersFillTheFrame();

    e.setSize (1800, 1060);
    EXPECT_FLOAT_EQ (e.look.labelFontHeight, 23.4f);
    expectLabelsAbove (32);
    expectBounds ({ { &e.presetButton, { 675, 6, 450, 79 } },
                    { &e.powerButton, { 1656, 13, 66, 66 } },
                    { &e.attackSlider, { 104, 165, 180, 180 } },
                    { &e.meter, { 698, 169, 413, 413 } },
                    { &e.frame, { 540, 721, 720, 270 } },
                    { &e.stereoLinkSlider, { 1296, 757, 234, 234 } } });
    expectGraphLayersFillTheFrame();

    // 1200 x 706, by hand: u = 150 x 0.8 = 120, m = (1200 - 960) / 9 = 26.667, r = (int) 110.136 = 110,
    // s = (int) 44.4 = 44, t = (int) 8.8 = 8; font 15.6, labels 1 + 1 + 6 + round (16.1) = 24 high.
    e.setSize (1200, 706);
    EXPECT_FLOAT_EQ (e.look.labelFontHeight, 15.6f);
    expectLabelsAbove (24);
    expectBounds ({ { &e.presetButton, { 450, 4, 300, 52 } }, // y (int) (8.8 - 4.4)
                    { &e.previousPresetButton, { 401, 8, 46, 44 } }, // 450 - 48.66
                    { &e.nextPresetButton, { 754, 8, 46, 44 } }, // 750 + 4.66
                    { &e.powerButton, { 1104, 8, 44, 44 } },
                    { &e.attackSlider, { 69, 110, 120, 120 } }, // 2.6 m = 69.3
                    { &e.characterSlider, { 202, 152, 240, 240 } }, // 189 + 13.3; 86 + 66
                    { &e.meter, { 464, 110, 276, 276 } }, // 442 + 13.3 + 9.6; 86 + 24
                    { &e.compressSlider, { 518, 182, 168, 168 } }, // 464 + 138 - 84; 110 + 138 - 66
                    { &e.compressLabel, { 464, 66, 276, 44 } },
                    { &e.makeupSlider, { 753, 152, 240, 240 } }, // 740 + 13.3
                    { &e.ratioSlider, { 1006, 110, 120, 120 } }, // 993 + 13.3
                    { &e.releaseSlider, { 69, 283, 120, 120 } }, // 230 + 53.3
                    { &e.mixSlider, { 1006, 283, 120, 120 } },
                    { &e.frame, { 360, 480, 480, 180 } }, // 403 + 77.76
                    { &e.sidechainLabel, { 360, 436, 480, 44 } },
                    { &e.smoothSlider, { 180, 504, 156, 156 } }, // 360 - 180; 480 + 24
                    { &e.stereoLinkSlider, { 864, 504, 156, 156 } } }); // 840 + 24
    expectBox (e.ratioSlider, 84, 24);
    expectBox (e.compressSlider, 96, 36);
    expectBox (e.makeupSlider, 102, 48);
    expectBox (e.smoothSlider, 102, 30);
    EXPECT_EQ (processor.editorWidth, 1200);
    EXPECT_EQ (processor.editorHeight, 706);
}

TEST_F (EditorLayoutTest, WidthsThatShareOneKnobUnit)
{
    // W / 8 is an integer division: 896 to 903 all give u = 89.6.
    for (int width = 896; width <= 903; ++width)
    {
        editor->setSize (width, 530);
        EXPECT_EQ (editor->attackSlider.getWidth(), 89) << width;
        EXPECT_EQ (editor->meter.getWidth(), 206) << width;
        EXPECT_EQ (editor->frame.getHeight(), 134) << width;
        EXPECT_EQ (editor->ratioSlider.getTextBoxWidth(), 62) << width;
    }
}

// Solid images make the painted layers recognisable by their pixels.
juce::Image solid (int width, int height, juce::Colour colour)
{
    juce::Image image (juce::Image::ARGB, width, height, false, juce::SoftwareImageType());
    image.clear (image.getBounds(), colour);
    return image;
}

TEST_F (EditorLayoutTest, PaintsPanelsRingBorderAndLogoWhereTheGeometrySays)
{
    auto& e = *editor;
    // At 900 x 530: p = 9, panel A (25, 44, 843, 265), panel B (117, 322.3, 664, 193), logo at (40, 7)
    // 143 x 33, meter (347, 79, 206, 206), frame (270, 358, 360, 134).
    e.textureImage = solid (200, 200, juce::Colours::transparentBlack);
    e.logoImage = solid (1200, 276, juce::Colours::lime);
    const auto plain = render();
    e.textureImage = solid (200, 200, juce::Colours::red);
    const auto textured = render();

    // Panel outlines, half-way down their left edges: the offset outer line in blackUltraPelko covers
    // [x, x + 2), the inner line of the inset panel in blackPelko the next pixels.
    for (auto [x, y] : { std::pair { 25, 180 }, std::pair { 117, 420 } })
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ (plain.getPixelAt (x + i, y), i < 2 ? blackUltraPelko : blackPelko) << x + i << "," << y;

    // Inside the panels the texture lies over the panel gradient at half opacity; outside it does not.
    for (auto [x, y] : { std::pair { 40, 180 }, std::pair { 130, 420 }, std::pair { 800, 300 } })
    {
        const auto under = plain.getPixelAt (x, y);
        const auto over = textured.getPixelAt (x, y);
        EXPECT_NEAR (over.getRed(), (under.getRed() + 255) / 2, 2) << x << "," << y;
        EXPECT_NEAR (over.getGreen(), under.getGreen() / 2, 2) << x << "," << y;
    }
    for (auto [x, y] :
         { std::pair { 20, 180 }, std::pair { 110, 420 }, std::pair { 880, 300 }, std::pair { 450, 520 } })
        EXPECT_EQ (textured.getPixelAt (x, y), plain.getPixelAt (x, y)) << x << "," << y;

    // The meter ring: grey disc inside, dark line along the circle's top.
    EXPECT_EQ (plain.getPixelAt (450, 182), greyPelko);
    EXPECT_EQ (plain.getPixelAt (450, 78), blackUltraPelko);
    EXPECT_NE (plain.getPixelAt (349, 81), greyPelko); // the bounding box's corner is outside the ring

    // The graph border: 11 px of blackUltraPelko around the frame, 5 px of blackPelko offset by one,
    // the grey fill inside.
    EXPECT_EQ (plain.getPixelAt (265, 425), blackUltraPelko);
    EXPECT_EQ (plain.getPixelAt (269, 425), blackPelko);
    EXPECT_EQ (plain.getPixelAt (272, 425), greyPelko);
    EXPECT_EQ (plain.getPixelAt (450, 425), greyPelko);
    EXPECT_EQ (plain.getPixelAt (630, 425), greyPelko); // the fill is one pixel wider than the frame
    EXPECT_EQ (plain.getPixelAt (450, 353), blackUltraPelko);

    // The logo covers exactly (40, 7, 143, 33), opaque.
    for (auto [x, y] : { std::pair { 40, 7 }, std::pair { 182, 39 }, std::pair { 100, 20 } })
        EXPECT_EQ (plain.getPixelAt (x, y), juce::Colours::lime) << x << "," << y;
    for (auto [x, y] : { std::pair { 39, 20 }, std::pair { 183, 20 }, std::pair { 100, 6 }, std::pair { 100, 40 } })
        EXPECT_NE (plain.getPixelAt (x, y), juce::Colours::lime) << x << "," << y;

    // With no logo image nothing is drawn there: the window gradient shows.
    e.logoImage = {};
    const auto noLogo = render();
    const juce::Point<float> centre (e.windowGradient.point1), edge (e.windowGradient.point2);
    const auto expected = e.windowGradient.getColourAtPosition (centre.getDistanceFrom ({ 100.5f, 20.5f })
                                                                / centre.getDistanceFrom (edge));
    for (auto channel : { &juce::Colour::getRed, &juce::Colour::getGreen, &juce::Colour::getBlue })
        EXPECT_NEAR ((noLogo.getPixelAt (100, 20).*channel)(), (expected.*channel)(), 2);

    // On a display with two physical pixels per point the background is drawn at that resolution,
    // not enlarged: the border's lines keep sharp edges at twice the coordinates.
    {
        juce::Image doubled (juce::Image::ARGB, 1800, 1060, true, juce::SoftwareImageType());
        juce::Graphics g (doubled);
        g.addTransform (juce::AffineTransform::scale (2.0f));
        e.paint (g);
        EXPECT_EQ (doubled.getPixelAt (2 * 265, 850), blackUltraPelko);
        EXPECT_EQ (doubled.getPixelAt (2 * 269 + 1, 850), blackPelko); // [537, 547) at this scale
        EXPECT_EQ (doubled.getPixelAt (2 * 270 + 1, 850), greyPelko); // the fill starts at 540
    }

    // At the largest size the logo keeps its aspect: as tall as the 66 px power button, 286 wide, from
    // (4.5 p, 0.09 r) = (81, 14) with p = (int) (0.174 x 104) = 18.
    e.logoImage = solid (1200, 276, juce::Colours::lime);
    e.setSize (1800, 1060);
    const auto large = render();
    EXPECT_EQ (large.getPixelAt (81, 14), juce::Colours::lime);
    EXPECT_EQ (large.getPixelAt (366, 79), juce::Colours::lime);
    EXPECT_NE (large.getPixelAt (367, 40), juce::Colours::lime);
    EXPECT_NE (large.getPixelAt (200, 80), juce::Colours::lime);
}
} // namespace
