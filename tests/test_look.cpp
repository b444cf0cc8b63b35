#include "editor/Look.h"
#include "support/RecordingContext.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

// Drawing is checked through a recording context (what was drawn where, in which colour), worked out
// by hand from the drawing rules. The hover cases need a display: the suite runs under xvfb-run.
using test::Drawn;

namespace
{
void expectRect (juce::Rectangle<float> actual, juce::Rectangle<float> expected, float tolerance = 0.02f)
{
    EXPECT_TRUE (std::abs (actual.getX() - expected.getX()) <= tolerance
                 && std::abs (actual.getY() - expected.getY()) <= tolerance
                 && std::abs (actual.getWidth() - expected.getWidth()) <= tolerance
                 && std::abs (actual.getHeight() - expected.getHeight()) <= tolerance)
        << actual.toString() << " is not " << expected.toString();
}

struct ImageDraw
{
    juce::String name;
    juce::Rectangle<int> source;
    juce::Rectangle<float> dest;
};

// The Look's bitmaps by name.
const std::pair<const char*, juce::Image Look::*> lookImages[] = {
    { "knob", &Look::knob },         { "knobHover", &Look::knobHover }, { "sliderThumb", &Look::sliderThumb },
    { "pillOff", &Look::pillOff },   { "pillOn", &Look::pillOn },       { "squareOff", &Look::squareOff },
    { "squareOn", &Look::squareOn }, { "wideOff", &Look::wideOff },     { "wideOn", &Look::wideOn },
};

// Every image drawn, named after the Look bitmap it came from, with the area of that bitmap shown in
// the bitmap's own pixels (the look draws copies it scaled to the size shown).
std::vector<ImageDraw> imagesDrawn (const test::RecordingContext& context, const Look& look)
{
    std::vector<ImageDraw> found;
    for (const auto& d : context.of (Drawn::Kind::image))
    {
        found.push_back ({ "other", {}, d.bounds });
        for (const auto& [name, image] : lookImages)
            for (const auto& copy : look.sizedImages)
                if (auto area = test::areaWithin (d.image, copy.image); copy.source == look.*image && ! area.isEmpty())
                    found.back() = { name,
                                     area.toFloat()
                                         .transformedBy (juce::AffineTransform::scale (
                                             (float) copy.source.getWidth() / (float) copy.image.getWidth(),
                                             (float) copy.source.getHeight() / (float) copy.image.getHeight()))
                                         .toNearestInt(),
                                     d.bounds };
    }
    return found;
}

// One 8-bit component of a pixel as stored (premultiplied); shift 0, 8, 16 or 24 picks it.
int storedComponent (const juce::Image::BitmapData& data, int x, int y, int shift)
{
    return (int) (reinterpret_cast<const juce::PixelARGB*> (data.getPixelPointer (x, y))->getNativeARGB() >> shift)
           & 0xFF;
}

juce::Colour firstGlyphColour (const test::RecordingContext& context)
{
    const auto glyphs = context.of (Drawn::Kind::glyph);
    return glyphs.empty() ? juce::Colour() : glyphs.front().colour();
}

struct BareImageButton : juce::ImageButton
{
    void paintButton (juce::Graphics&, bool, bool) override {}
};
} // namespace

class LookTest : public ::testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
    Look look;
};

TEST_F (LookTest, ConstructionSetsColoursTypefaceAndSharedImages)
{
    // A few of the framework's colour IDs by number, so a wrong constant of a similar name shows; the
    // later alert-window rows replace the earlier ones.
    const std::pair<int, juce::uint32> table[] = {
        { 0x1000281, 0xFFD2D3D3 }, { 0x1000206, 0xFF3C0A5A }, { 0x1001800, 0xFF414242 },
        { 0x1001820, 0xFFFAFBFB }, { 0x1001700, 0x00000000 },
    };
    for (const auto& [id, argb] : table)
        EXPECT_TRUE (look.isColourSpecified (id) && look.findColour (id).getARGB() == argb) << std::hex << id;

    // The look stays on what it is set on: a window of the process that is not the editor's (the
    // Standalone's own) keeps the framework's look, and the look's texts name its typeface.
    juce::TextButton elsewhere;
    EXPECT_EQ (dynamic_cast<Look*> (&elsewhere.getLookAndFeel()), nullptr);
    EXPECT_EQ (look.font (12.0f).getTypefacePtr()->getName(), "Manrope");

    Look second;
    for (const auto& [name, image] : lookImages) // decoded once, shared by every Look
        EXPECT_TRUE ((look.*image).isValid() && (second.*image).getPixelData() == (look.*image).getPixelData()) << name;

    // Data that is no font yields no typeface (the framework's own would crash on it).
    const char garbage[] = "not a font at all, just some bytes";
    EXPECT_EQ (Look::createTypeface (garbage, sizeof (garbage)), nullptr);
    EXPECT_EQ (Look::createTypeface (nullptr, 0), nullptr);
}

TEST_F (LookTest, ButtonSkinsFollowAspectRatioAndToggleState)
{
    struct Case
    {
        int w;
        bool on;
        std::vector<ImageDraw> expected; // every button 30 high
    };
    const Case cases[] = {
        { 30, true, { { "squareOn", { 0, 0, 200, 200 }, { 0, 0, 30, 30 } } } },
        { 61, true, { { "pillOn", { 0, 0, 400, 200 }, { 0, 0, 61, 30 } } } },
        { 59, false, { { "pillOff", { 0, 0, 400, 200 }, { 0, 0, 59, 30 } } } },
        { 62, // caps of a full height, a 2-pixel middle
          false,
          { { "wideOff", { 0, 0, 200, 200 }, { 0, 0, 30, 30 } },
            { "wideOff", { 200, 0, 200, 200 }, { 32, 0, 30, 30 } },
            { "wideOff", { 200, 0, 100, 200 }, { 30, 0, 2, 30 } } } },
        { 40, // 15-pixel half caps; the right one's source is clipped to the image at the same scale
          true,
          { { "wideOn", { 0, 0, 100, 200 }, { 0, 0, 15, 30 } },
            { "wideOn", { 300, 0, 100, 200 }, { 25, 0, 15, 30 } },
            { "wideOn", { 100, 0, 120, 200 }, { 15, 0, 10, 30 } } } },
        { 58,
          false,
          { { "wideOff", { 0, 0, 100, 200 }, { 0, 0, 15, 30 } },
            { "wideOff", { 300, 0, 100, 200 }, { 43, 0, 15, 30 } },
            { "wideOff", { 100, 0, 120, 200 }, { 15, 0, 28, 30 } } } },
        { 20, false, {} },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.w);
        juce::TextButton button;
        button.setSize (c.w, 30);
        button.setToggleState (c.on, juce::dontSendNotification);
        test::Recording r (c.w, 30);
        look.drawButtonBackground (r.g, button, juce::Colours::red, true, true);

        const auto drawn = imagesDrawn (r.context, look);
        ASSERT_EQ (drawn.size(), c.expected.size());
        for (size_t i = 0; i < drawn.size(); ++i)
        {
            EXPECT_EQ (drawn[i].name, c.expected[i].name);
            EXPECT_EQ (drawn[i].source, c.expected[i].source);
            expectRect (drawn[i].dest, c.expected[i].dest);
            EXPECT_EQ (r.context.log[i].quality, juce::Graphics::highResamplingQuality);
        }
        EXPECT_TRUE (r.context.of (Drawn::Kind::path).empty()); // no hover without the mouse
    }

    // At a fifth of its size each pixel of a skin is the average of the 5 x 5 source pixels it
    // covers, so thin outlines stay whole instead of falling between the samples.
    juce::TextButton power;
    power.setBounds (0, 0, 40, 40);
    power.setToggleState (true, juce::dontSendNotification);
    test::Recording small (40, 40);
    look.drawButtonBackground (small.g, power, {}, false, false);
    const juce::Image::BitmapData source (look.squareOn, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData shown (small.image, juce::Image::BitmapData::readOnly);
    int worst = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x)
            for (int shift = 0; shift < 32; shift += 8)
            {
                int sum = 0;
                for (int i = 0; i < 25; ++i)
                    sum += storedComponent (source, 5 * x + i % 5, 5 * y + i / 5, shift);
                worst =
                    std::max (worst, std::abs (storedComponent (shown, x, y, shift) - juce::roundToInt (sum / 25.0)));
            }
    EXPECT_LE (worst, 1);

    // Image buttons take the pill for every shape but the square, and draw their symbol at 40 % of
    // its box, moved by 30 % of the button.
    auto symbol = juce::Image (juce::Image::ARGB, 100, 100, true);
    for (const auto& [w, skin] : { std::pair { 62, "pillOff" }, { 20, "pillOff" }, { 30, "squareOff" } })
    {
        BareImageButton button;
        button.setSize (w, 30);
        test::Recording r (w, 30);
        look.drawImageButton (r.g, &symbol, 0, 0, w, 30, juce::Colours::transparentBlack, 1.0f, button);
        const auto drawn = imagesDrawn (r.context, look);
        ASSERT_EQ (drawn.size(), 2u);
        EXPECT_EQ (drawn[0].name, skin);
        expectRect (drawn[0].dest, { 0, 0, (float) w, 30 });
        expectRect (drawn[1].dest, { 0.3f * (float) w, 9, 0.4f * (float) w, 12 });
    }
}

TEST_F (LookTest, HoverOverlayAndTheTransparentMarker)
{
    const std::pair<int, juce::Rectangle<float>> overlays[] = {
        { 61, { 3.05f, 4.5f, 54.9f, 21.0f } }, // 0.05 / 0.9 below 2h + 3
        { 63, { 1.89f, 4.5f, 59.22f, 21.0f } }, // 0.03 / 0.94 from there
        { 30, { 3.0f, 3.0f, 24.0f, 24.0f } },
        { 20, { 1.0f, 4.5f, 18.0f, 21.0f } },
    };
    for (const auto& [w, overlay] : overlays)
    {
        SCOPED_TRACE (w);
        juce::TextButton button;
        button.setSize (w, 30);
        test::Hover hover (button);
        ASSERT_TRUE (button.isMouseOverOrDragging());

        test::Recording r (w, 30);
        look.drawButtonBackground (r.g, button, {}, false, false);
        const auto paths = r.context.of (Drawn::Kind::path);
        ASSERT_EQ (paths.size(), 1u);
        expectRect (paths[0].bounds, overlay);
        EXPECT_EQ (paths[0].colour(), lightPelko2);

        button.setEnabled (false); // hovered but disabled: skin only
        test::Recording disabled (w, 30);
        look.drawButtonBackground (disabled.g, button, {}, false, false);
        EXPECT_TRUE (disabled.context.of (Drawn::Kind::path).empty());
    }

    // transparentPelko turns skin and hover off in both drawings; alpha 0 with another RGB does not.
    auto symbol = juce::Image (juce::Image::ARGB, 10, 10, true);
    for (const auto colour : { transparentPelko, juce::Colour (0x00FFFFFF) })
    {
        const auto marked = colour == transparentPelko;
        juce::TextButton button;
        BareImageButton imageButton;
        for (juce::Button* b : { (juce::Button*) &button, (juce::Button*) &imageButton })
        {
            b->setSize (60, 30);
            b->setColour (juce::TextButton::buttonColourId, colour);
            test::Hover hover (*b);
            test::Recording r (60, 30);
            if (b == &button)
                look.drawButtonBackground (r.g, button, colour, true, false);
            else
                look.drawImageButton (r.g, &symbol, 0, 0, 60, 30, {}, 1.0f, imageButton);
            EXPECT_EQ (r.context.log.empty(), marked) << colour.toString();
            EXPECT_EQ (r.context.of (Drawn::Kind::path).size(), marked ? 0u : 1u); // the hover overlay
        }
    }
}

TEST_F (LookTest, ButtonTextColourIndentsAndTinyButtons)
{
    juce::TextButton button ("PRESETS");
    button.setColour (juce::TextButton::textColourOffId, blackUltraPelko);
    button.setColour (juce::TextButton::textColourOnId, greyWhitePelko);
    button.setSize (100, 40); // yIndent 4, corner 20: side indents 5, or 2 on a connected edge

    const auto draw = [&] {
        test::Recording r (100, 40);
        look.drawButtonText (r.g, button, false, false);
        const auto glyphs = r.context.of (Drawn::Kind::glyph);
        EXPECT_EQ (glyphs.size(), 7u);
        EXPECT_NEAR (glyphs.front().font.getHeight(), 12.0f, 1.0e-4f);
        return std::pair { glyphs.front().bounds.getX(), glyphs.front().colour() };
    };
    const auto [x, off] = draw();
    EXPECT_EQ (off, blackUltraPelko);
    button.setToggleState (true, juce::dontSendNotification);
    EXPECT_EQ (draw().second, greyWhitePelko);
    button.setEnabled (false);
    EXPECT_EQ (draw().second, greyWhitePelko.withMultipliedAlpha (0.5f));

    // The text is centred between the indents: both edges connected leave the centre in place, the
    // left one alone moves it 1.5 pixels left.
    button.setConnectedEdges (juce::Button::ConnectedOnLeft | juce::Button::ConnectedOnRight);
    EXPECT_NEAR (draw().first, x, 0.01f);
    button.setConnectedEdges (juce::Button::ConnectedOnLeft);
    EXPECT_NEAR (draw().first, x - 1.5f, 0.01f);

    for (const auto h : { 0, 5, 6 }) // up to 5 high there is no indent to divide by: no text, no fault
    {
        button.setSize (100, h);
        test::Recording r (100, 10);
        look.drawButtonText (r.g, button, false, false);
        EXPECT_EQ (r.context.of (Drawn::Kind::glyph).empty(), h <= 5) << h;
    }
}

TEST_F (LookTest, RotaryKnobPointerAndValueFrame)
{
    juce::Slider slider (juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::TextBoxBelow);
    slider.setTextBoxStyle (juce::Slider::TextBoxBelow, true, 60, 20);
    slider.setSize (100, 120);
    const auto draw = [&] (float position, float start, float end) {
        auto r = std::make_unique<test::Recording> (100, 120);
        look.drawRotarySlider (r->g, 0, 0, 100, 100, position, start, end, slider);
        return r;
    };

    // 100 x 100: the knob at (0, -10, 100, 100); pointer radius 50 - 22 = 28, so the pointer is
    // (-2, -29, 4, 16.4) about (50, 49); the value frame sits in the 60 x 20 box below.
    auto up = draw (0.5f, -1.0f, 1.0f);
    auto images = imagesDrawn (up->context, look);
    ASSERT_EQ (images.size(), 1u);
    EXPECT_EQ (images[0].name, "knob");
    expectRect (images[0].dest, { 0, -10, 100, 100 });
    auto paths = up->context.of (Drawn::Kind::path);
    ASSERT_EQ (paths.size(), 3u);
    expectRect (paths[0].bounds, { 48, 20, 4, 16.4f });
    EXPECT_EQ (paths[0].colour(), greyWhitePelko);
    expectRect (paths[1].bounds, { 19, 102, 62, 16 }); // (20, 103, 60, 14) stroked 2 wide
    EXPECT_EQ (paths[1].colour(), maskPelko);
    expectRect (paths[2].bounds, { 19, 102, 59, 14 });
    EXPECT_EQ (paths[2].colour(), maskTextBox);
    EXPECT_EQ (slider.findColour (juce::Slider::textBoxTextColourId), greyTextBoxPelko);

    // A quarter turn puts the pointer right of the centre; the pixels there show it.
    auto right = draw (1.0f, 0.0f, juce::MathConstants<float>::halfPi);
    expectRect (right->context.of (Drawn::Kind::path)[0].bounds, { 62.6f, 47, 16.4f, 4 });
    EXPECT_EQ (right->image.getPixelAt (70, 49), greyWhitePelko);
    EXPECT_NE (right->image.getPixelAt (30, 49), greyWhitePelko);

    {
        test::Hover hover (slider);
        auto hot = draw (0.5f, -1.0f, 1.0f);
        images = imagesDrawn (hot->context, look);
        ASSERT_EQ (images.size(), 2u);
        EXPECT_EQ (images[1].name, "knobHover");
        expectRect (images[1].dest, { 0, -10, 100, 100 });
        paths = hot->context.of (Drawn::Kind::path);
        EXPECT_EQ (paths[0].colour(), purplePelko);
        EXPECT_EQ (paths[1].colour(), purplepurplePelko);
        EXPECT_EQ (slider.findColour (juce::Slider::textBoxTextColourId), purpleLightPelko);

        // A knob that shows no value keeps its transparent text colour and has no frame.
        slider.setColour (juce::Slider::textBoxTextColourId, transparentPelko);
        auto bare = draw (0.5f, -1.0f, 1.0f);
        EXPECT_EQ (imagesDrawn (bare->context, look).size(), 2u);
        EXPECT_EQ (bare->context.of (Drawn::Kind::path).size(), 1u);
    }
    auto bare = draw (0.5f, -1.0f, 1.0f);
    EXPECT_EQ (imagesDrawn (bare->context, look).size(), 1u);
    EXPECT_EQ (slider.findColour (juce::Slider::textBoxTextColourId), transparentPelko);
}

TEST_F (LookTest, LinearSliderTrackThumbAndHoverRing)
{
    juce::Slider slider (juce::Slider::LinearHorizontal, juce::Slider::NoTextBox);
    slider.setSize (200, 40);
    const auto draw = [&] {
        auto r = std::make_unique<test::Recording> (200, 40);
        look.drawLinearSlider (r->g, 0, 0, 200, 40, 100.0f, 0.0f, 200.0f, juce::Slider::LinearHorizontal, slider);
        return r;
    };

    // hh = 20: the track is (0, 15, 200, 10), outlined, then filled with the radial gradient.
    auto plain = draw();
    auto paths = plain->context.of (Drawn::Kind::path);
    ASSERT_EQ (paths.size(), 2u);
    expectRect (paths[0].bounds, { -1, 14, 202, 12 }, 0.1f); // stroked curves overshoot a little
    EXPECT_EQ (paths[0].colour(), blackPelko);
    expectRect (paths[1].bounds, { 0, 15, 200, 10 });
    EXPECT_TRUE (paths[1].fill.isGradient() && paths[1].fill.gradient->isRadial);
    auto images = imagesDrawn (plain->context, look);
    ASSERT_EQ (images.size(), 1u);
    EXPECT_EQ (images[0].name, "sliderThumb");
    expectRect (images[0].dest, { 74, 0, 40, 40 }); // trunc (0.9 x 100 - 0.08 x 200)

    test::Hover hover (slider);
    paths = draw()->context.of (Drawn::Kind::path);
    ASSERT_EQ (paths.size(), 3u);
    expectRect (paths[2].bounds, { 86.1f, 9.5f, 23, 23 }); // (87.6, 11, 20, 20), 3 wide
    EXPECT_EQ (paths[2].colour(), purplePelko);

    slider.setEnabled (false); // only the track, even under the mouse
    auto disabled = draw();
    EXPECT_TRUE (disabled->context.of (Drawn::Kind::image).empty());
    EXPECT_EQ (disabled->context.of (Drawn::Kind::path).size(), 2u);
}

TEST_F (LookTest, EveryLabelGetsTheLookFontAndValueBoxesTheirColours)
{
    juce::Label label;
    label.setFont (juce::Font (30.0f, juce::Font::bold | juce::Font::italic));
    look.labelFontHeight = 11.7f;
    const auto font = look.getLabelFont (label);
    EXPECT_EQ (font.getHeight(), 11.7f);
    EXPECT_EQ (font.getStyleFlags(), juce::Font::plain);
    EXPECT_EQ (font.getTypefacePtr()->getName(), "Manrope");
    EXPECT_EQ (label.getFont(), font);

    // (An attached label's height follows the font: test_editor_layout checks it at four sizes.)
    juce::Slider slider (juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::NoTextBox);
    slider.setBounds (52, 82, 89, 89);

    std::unique_ptr<juce::Label> box (look.createSliderTextBox (slider));
    EXPECT_EQ (box->findColour (juce::Label::textColourId), greyTextBoxPelko);
    EXPECT_EQ (box->getFont().getHeight(), 13.0f); // the framework's 15, less 2
    {
        test::Hover hover (slider);
        box.reset (look.createSliderTextBox (slider));
        EXPECT_EQ (box->findColour (juce::Label::textColourId), purpleFlashPelko);
    }
    slider.setColour (juce::Slider::textBoxTextColourId, transparentPelko);
    box.reset (look.createSliderTextBox (slider));
    EXPECT_EQ (box->findColour (juce::Label::textColourId), transparentPelko);
    EXPECT_EQ (box->getFont().getHeight(), 15.0f);
}

TEST_F (LookTest, PopupMenusAndComboBox)
{
    test::Recording background (200, 100);
    look.drawPopupMenuBackground (background.g, 200, 100);
    ASSERT_EQ (background.context.log.size(), 1u);
    expectRect (background.context.log[0].bounds, { 0, 0, 200, 100 });
    EXPECT_EQ (background.context.log[0].colour(), greyOpacityPelko);

    const juce::Rectangle<int> area (0, 0, 200, 25);
    test::Recording separator (200, 30);
    look.drawPopupMenuItem (separator.g, area, true, true, false, false, false, "x", "", nullptr, nullptr);
    ASSERT_EQ (separator.context.log.size(), 1u);
    expectRect (separator.context.log[0].bounds, { 0, 25, 200, 0 });
    EXPECT_EQ (separator.context.log[0].colour(), whitePadPelko);

    // Highlighted, with a submenu and a shortcut: divider, highlight, arrow, then both texts.
    test::Recording item (200, 30);
    look.drawPopupMenuItem (item.g, area, false, true, true, false, true, "Vocal", "V", nullptr, nullptr);
    const auto& log = item.context.log;
    ASSERT_GE (log.size(), 3u);
    EXPECT_TRUE (log[0].kind == Drawn::Kind::line && log[0].colour() == termsPelko);
    expectRect (log[0].bounds, { 80, 0, 40, 0 });
    EXPECT_TRUE (log[1].kind == Drawn::Kind::rect && log[1].colour() == purpleDarkPelko);
    const auto a = 0.6f * look.getPopupMenuFont().getAscent();
    expectRect (log[2].bounds, { (float) (200 - (int) a), 12.0f - 0.5f * a, 0.6f * a, a });
    const auto glyphs = item.context.of (Drawn::Kind::glyph);
    ASSERT_EQ (glyphs.size(), 6u);
    EXPECT_EQ (glyphs[0].colour(), whitePelko);
    EXPECT_NEAR (glyphs[0].font.getHeight(), 16.0f, 1.0e-4f);
    EXPECT_NEAR (glyphs[5].font.getHeight(), 12.0f, 1.0e-4f);
    EXPECT_NEAR (glyphs[5].font.getHorizontalScale(), 0.95f, 1.0e-6f);

    const juce::Colour custom (0xFF123456);
    test::Recording inactive (200, 30);
    look.drawPopupMenuItem (inactive.g, area, false, false, false, false, false, "Bus", "", nullptr, &custom);
    EXPECT_EQ (firstGlyphColour (inactive.context), custom.withAlpha (0.3f));

    test::Recording header (200, 30);
    look.drawPopupMenuSectionHeader (header.g, area, "Drum");
    EXPECT_EQ (firstGlyphColour (header.context), purplePelko);
    EXPECT_EQ (header.context.of (Drawn::Kind::glyph).front().font.getTypefacePtr()->getName(), "Manrope");

    juce::ComboBox box;
    test::Recording combo (120, 30);
    look.drawComboBox (combo.g, 120, 30, false, 95, 0, 25, 30, box);
    const auto comboPaths = combo.context.of (Drawn::Kind::path);
    ASSERT_EQ (comboPaths.size(), 2u);
    expectRect (comboPaths[0].bounds, { 2, 2, 116, 26 });
    EXPECT_TRUE (comboPaths[0].fill.isGradient());
    EXPECT_EQ (comboPaths[1].colour(), blackPelko);
    const auto colon = combo.context.of (Drawn::Kind::glyph);
    ASSERT_EQ (colon.size(), 1u);
    EXPECT_EQ (colon[0].colour(), whitePelko);
    EXPECT_NEAR (colon[0].font.getHeight(), 25.0f, 1.0e-4f);
}

TEST (LookArtwork, MakerRedrawsTheCommittedImagesByteForByte)
{
    juce::ScopedJuceInitialiser_GUI gui;
    struct Folder
    {
        juce::File file = juce::File::createTempFile ("artwork");
        ~Folder() { file.deleteRecursively(); }
    } made, none;
    const auto runMaker = [] (const juce::File& folder, const juce::String& font) {
        juce::ChildProcess maker;
        EXPECT_TRUE (maker.start (
            juce::StringArray { MORVIK_BUILD_DIR "/bin/morvik_make_artwork", folder.getFullPathName(), font }));
        maker.waitForProcessToFinish (60000);
        return maker.getExitCode();
    };
    ASSERT_EQ (runMaker (made.file, MORVIK_BUILD_DIR "/resources/manrope_medium.ttf"), 0u);

    const std::tuple<const char*, int, int> images[] = {
        { "knob.png", 300, 300 },          { "knob_hover.png", 300, 300 }, { "slider_thumb.png", 200, 200 },
        { "pill_off.png", 400, 200 },      { "pill_on.png", 400, 200 },    { "square_off.png", 200, 200 },
        { "square_on.png", 200, 200 },     { "wide_off.png", 400, 200 },   { "wide_on.png", 400, 200 },
        { "power_off.png", 100, 100 },     { "power_on.png", 100, 100 },   { "logo.png", 1200, 276 },
        { "panel_texture.jpg", 200, 200 },
    };
    EXPECT_EQ (made.file.getNumberOfChildFiles (juce::File::findFiles), (int) std::size (images));
    for (const auto& [name, w, h] : images)
    {
        SCOPED_TRACE (name);
        juce::MemoryBlock drawn, committed;
        ASSERT_TRUE (made.file.getChildFile (name).loadFileAsData (drawn));
        ASSERT_TRUE (juce::File (MORVIK_SOURCE_DIR "/resources/images").getChildFile (name).loadFileAsData (committed));
        EXPECT_TRUE (drawn == committed) << "run the artwork maker again and commit resources/images";

        // Skins and logo lie on a transparent ground; only the tiled texture is opaque.
        const auto image = juce::ImageFileFormat::loadFrom (drawn.getData(), drawn.getSize());
        const auto png = juce::String (name).endsWith (".png");
        EXPECT_EQ (image.getBounds(), juce::Rectangle<int> (w, h));
        EXPECT_EQ (image.hasAlphaChannel(), png);
        EXPECT_EQ (image.getPixelAt (0, 0).getAlpha(), png ? 0 : 255);
    }

    // Without a usable typeface the maker writes nothing and says so.
    EXPECT_NE (runMaker (none.file, MORVIK_SOURCE_DIR "/README.md"), 0u);
    EXPECT_FALSE (none.file.exists());
}
