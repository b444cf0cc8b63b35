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
using Knob = MorvikAudioProcessorEditor::Knob;

class EditorLayoutTest : public ::testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
    MorvikAudioProcessor processor;
    std::unique_ptr<MorvikAudioProcessorEditor> editor = test::openEditor (processor);

    // Bounds in the window's coordinates, whichever part of the window holds the component.
    void expectBounds (const std::vector<std::pair<juce::Component*, Bounds>>& expected)
    {
        for (const auto& [component, bounds] : expected)
            EXPECT_EQ (editor->getLocalArea (component, component->getLocalBounds()), bounds)
                << component->getName() << " / " << component->getTitle() << " at " << editor->getWidth();
    }

    void expectBox (Knob which, int width, int height)
    {
        auto& slider = editor->getKnob (which);
        EXPECT_EQ (std::pair (slider.getTextBoxWidth(), slider.getTextBoxHeight()), std::pair (width, height));
        EXPECT_FALSE (slider.isTextBoxEditable());
        EXPECT_EQ (slider.getTextBoxPosition(), juce::Slider::TextBoxBelow);
    }

    // Every knob but the threshold's has its label on top.
    void expectLabelsAbove (int height)
    {
        juce::StringArray attached;
        for (auto* child : editor->getChildren())
            if (auto* label = dynamic_cast<juce::Label*> (child); label && label->getAttachedComponent() != nullptr)
            {
                const auto owner = label->getAttachedComponent()->getBounds();
                EXPECT_EQ (label->getBounds(), owner.withY (owner.getY() - height).withHeight (height));
                attached.add (label->getText());
            }
        EXPECT_EQ (attached.joinIntoString ("|"), "MAKEUP|CHARACTER|RATIO|ATTACK|RELEASE|MIX|SMOOTH|STEREO LINK");
    }

    // One of the window's free labels, by its text.
    juce::Label* label (const juce::String& text)
    {
        for (auto* child : editor->getChildren())
            if (auto* found = dynamic_cast<juce::Label*> (child); found && found->getText() == text)
                return found;
        return nullptr;
    }

    juce::Slider* knob (Knob which) { return &editor->getKnob (which); }
    juce::Component* presets() { return &editor->getPresetBrowser().getPresetButton(); }
    juce::Component* step (int direction) { return &editor->getPresetBrowser().getStepButton (direction); }

    // (test_editor checks that the frame holds them, in that order.)
    void expectGraphLayersFillTheFrame()
    {
        for (auto* layer : editor->getGraph().getChildren())
            EXPECT_EQ (layer->getBounds(), editor->getGraph().getLocalBounds());
    }

    juce::Image render() { return test::painted (*editor); }
};

TEST_F (EditorLayoutTest, DefaultSizeMatchesTheWorkedFigures)
{
    auto& e = *editor;
    ASSERT_EQ (e.getBounds(), Bounds (0, 0, 900, 530));
    EXPECT_FLOAT_EQ (dynamic_cast<Look&> (e.getLookAndFeel()).labelFontHeight, 11.7f);
    expectLabelsAbove (20);
    expectBounds ({ { presets(), { 337, 3, 225, 39 } },
                    { step (-1), { 300, 6, 34, 33 } },
                    { step (1), { 565, 6, 34, 33 } },
                    { &e.getPowerButton(), { 828, 6, 33, 33 } },
                    { knob (Knob::attack), { 52, 82, 89, 89 } },
                    { knob (Knob::character), { 151, 111, 179, 179 } },
                    { &e.getMeter(), { 347, 79, 206, 206 } },
                    { knob (Knob::compress), { 387, 132, 125, 125 } },
                    { label ("COMPRESS"), { 347, 46, 206, 33 } },
                    { knob (Knob::makeup), { 563, 111, 179, 179 } },
                    { knob (Knob::ratio), { 752, 82, 89, 89 } },
                    { knob (Knob::release), { 52, 211, 89, 89 } },
                    { knob (Knob::mix), { 752, 211, 89, 89 } },
                    { &e.getGraph(), { 270, 358, 360, 134 } },
                    { label ("SIDECHAIN"), { 270, 325, 360, 33 } },
                    { knob (Knob::smooth), { 135, 375, 116, 116 } },
                    { knob (Knob::stereoLink), { 647, 375, 116, 116 } } });
    expectGraphLayersFillTheFrame();

    for (auto small : { Knob::ratio, Knob::attack, Knob::release, Knob::mix })
        expectBox (small, 62, 17);
    expectBox (Knob::character, 76, 35);
    expectBox (Knob::makeup, 76, 35);
    expectBox (Knob::compress, 71, 26);
    expectBox (Knob::smooth, 76, 22);
    expectBox (Knob::stereoLink, 76, 22);
}

TEST_F (EditorLayoutTest, SmallestLargestAndAnUnlistedSize)
{
    auto& e = *editor;
    e.setSize (450, 265);
    EXPECT_FLOAT_EQ (dynamic_cast<Look&> (e.getLookAndFeel()).labelFontHeight, 5.85f);
    expectLabelsAbove (14);
    expectBounds ({ { presets(), { 168, 1, 112, 19 } },
                    { step (-1), { 150, 3, 16, 16 } },
                    { step (1), { 281, 3, 16, 16 } },
                    { &e.getPowerButton(), { 414, 3, 16, 16 } },
                    { knob (Knob::attack), { 26, 41, 44, 44 } },
                    { &e.getMeter(), { 172, 35, 103, 103 } },
                    { &e.getGraph(), { 135, 178, 180, 67 } },
                    { knob (Knob::stereoLink), { 323, 186, 58, 58 } } });
    expectGraphLayersFillTheFrame();

    e.setSize (1800, 1060);
    EXPECT_FLOAT_EQ (dynamic_cast<Look&> (e.getLookAndFeel()).labelFontHeight, 23.4f);
    expectLabelsAbove (32);
    expectBounds ({ { presets(), { 675, 6, 450, 79 } },
                    { &e.getPowerButton(), { 1656, 13, 66, 66 } },
                    { knob (Knob::attack), { 104, 165, 180, 180 } },
                    { &e.getMeter(), { 698, 169, 413, 413 } },
                    { &e.getGraph(), { 540, 721, 720, 270 } },
                    { knob (Knob::stereoLink), { 1296, 757, 234, 234 } } });
    expectGraphLayersFillTheFrame();

    // 1200 x 706, by hand: u = 150 x 0.8 = 120, m = (1200 - 960) / 9 = 26.667, r = (int) 110.136 = 110,
    // s = (int) 44.4 = 44, t = (int) 8.8 = 8; font 15.6, labels 1 + 1 + 6 + round (16.1) = 24 high.
    e.setSize (1200, 706);
    EXPECT_FLOAT_EQ (dynamic_cast<Look&> (e.getLookAndFeel()).labelFontHeight, 15.6f);
    expectLabelsAbove (24);
    expectBounds ({ { presets(), { 450, 4, 300, 52 } }, // y (int) (8.8 - 4.4)
                    { step (-1), { 401, 8, 46, 44 } }, // 450 - 48.66
                    { step (1), { 754, 8, 46, 44 } }, // 750 + 4.66
                    { &e.getPowerButton(), { 1104, 8, 44, 44 } },
                    { knob (Knob::attack), { 69, 110, 120, 120 } }, // 2.6 m = 69.3
                    { knob (Knob::character), { 202, 152, 240, 240 } }, // 189 + 13.3; 86 + 66
                    { &e.getMeter(), { 464, 110, 276, 276 } }, // 442 + 13.3 + 9.6; 86 + 24
                    { knob (Knob::compress), { 518, 182, 168, 168 } }, // 464 + 138 - 84; 110 + 138 - 66
                    { label ("COMPRESS"), { 464, 66, 276, 44 } },
                    { knob (Knob::makeup), { 753, 152, 240, 240 } }, // 740 + 13.3
                    { knob (Knob::ratio), { 1006, 110, 120, 120 } }, // 993 + 13.3
                    { knob (Knob::release), { 69, 283, 120, 120 } }, // 230 + 53.3
                    { knob (Knob::mix), { 1006, 283, 120, 120 } },
                    { &e.getGraph(), { 360, 480, 480, 180 } }, // 403 + 77.76
                    { label ("SIDECHAIN"), { 360, 436, 480, 44 } },
                    { knob (Knob::smooth), { 180, 504, 156, 156 } }, // 360 - 180; 480 + 24
                    { knob (Knob::stereoLink), { 864, 504, 156, 156 } } }); // 840 + 24
    expectBox (Knob::ratio, 84, 24);
    expectBox (Knob::compress, 96, 36);
    expectBox (Knob::makeup, 102, 48);
    expectBox (Knob::smooth, 102, 30);
    EXPECT_EQ (processor.editorWidth, 1200);
    EXPECT_EQ (processor.editorHeight, 706);
}

TEST_F (EditorLayoutTest, WidthsThatShareOneKnobUnit)
{
    // W / 8 is an integer division: 896 to 903 all give u = 89.6.
    for (int width = 896; width <= 903; ++width)
    {
        editor->setSize (width, 530);
        EXPECT_EQ (editor->getKnob (Knob::attack).getWidth(), 89) << width;
        EXPECT_EQ (editor->getMeter().getWidth(), 206) << width;
        EXPECT_EQ (editor->getGraph().getHeight(), 134) << width;
        EXPECT_EQ (editor->getKnob (Knob::ratio).getTextBoxWidth(), 62) << width;
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
    const auto lime = solid (1200, 276, juce::Colours::lime);
    e.setArtwork (solid (200, 200, juce::Colours::transparentBlack), lime);
    const auto plain = render();
    e.setArtwork (solid (200, 200, juce::Colours::red), lime);
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

    // With no logo image nothing is drawn there: the window gradient from (0.25 W, 0.06 H) to
    // (0.85 W, 0.99 H) shows.
    e.setArtwork (solid (200, 200, juce::Colours::red), {});
    const auto noLogo = render();
    const juce::Point<float> centre (225.0f, 31.8f), edge (765.0f, 524.7f);
    const auto expected =
        juce::ColourGradient (juce::Colour (0xFFC8ABEE), centre, juce::Colour (0xFF4A2459), edge, true)
            .getColourAtPosition (centre.getDistanceFrom ({ 100.5f, 20.5f }) / centre.getDistanceFrom (edge));
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
    e.setArtwork (solid (200, 200, juce::Colours::red), lime);
    e.setSize (1800, 1060);
    const auto large = render();
    EXPECT_EQ (large.getPixelAt (81, 14), juce::Colours::lime);
    EXPECT_EQ (large.getPixelAt (366, 79), juce::Colours::lime);
    EXPECT_NE (large.getPixelAt (367, 40), juce::Colours::lime);
    EXPECT_NE (large.getPixelAt (200, 80), juce::Colours::lime);
}
} // namespace
