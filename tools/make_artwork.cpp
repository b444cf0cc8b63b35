// Draws the editor's artwork with the framework's own graphics and writes it where the build
// embeds it: make_artwork <output folder> <TrueType file of the editor's typeface>.
// Everything is drawn from fixed geometry and a seeded random source, so the files come out the
// same on every run; the test suite regenerates them and compares the bytes.

#include "editor/Look.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <ft2build.h>
#include FT_FREETYPE_H

#include <cmath>
#include <iostream>

namespace
{
using juce::Colour;
using juce::Path;

// Graphite shades of the skins, darkest first.
const Colour graphite0 { 0xFF0E0F10 };
const Colour graphite1 { 0xFF17181A };
const Colour graphite2 { 0xFF222326 };
const Colour graphite3 { 0xFF2E3034 };
const Colour graphite4 { 0xFF3C3E43 };
const Colour graphite5 { 0xFF5A5D63 };
const Colour orangeGlow { 0xFFFF9440 };

constexpr float pi = juce::MathConstants<float>::pi;

juce::Image blank (int w, int h) { return juce::Image (juce::Image::ARGB, w, h, true, juce::SoftwareImageType()); }

// Three box-blur passes each way approximate a Gaussian of about the given radius.
void blur (juce::Image& mask, int radius)
{
    const auto w = mask.getWidth(), h = mask.getHeight();
    juce::Image::BitmapData data (mask, juce::Image::BitmapData::readWrite);
    std::vector<float> line ((size_t) juce::jmax (w, h)), out (line.size());

    const auto pass = [&] (int length, auto&& pixel) {
        for (int pass = 0; pass < 3; ++pass)
        {
            float sum = 0.0f;
            for (int i = -radius; i <= radius; ++i)
                sum += line[(size_t) juce::jlimit (0, length - 1, i)];

            for (int i = 0; i < length; ++i)
            {
                out[(size_t) i] = sum / (float) (2 * radius + 1);
                sum +=
                    line[(size_t) juce::jmin (length - 1, i + radius + 1)] - line[(size_t) juce::jmax (0, i - radius)];
            }
            std::copy (out.begin(), out.begin() + length, line.begin());
        }
        for (int i = 0; i < length; ++i)
            *pixel (i) = (juce::uint8) juce::jlimit (0, 255, juce::roundToInt (line[(size_t) i]));
    };

    for (int y = 0; y < h; ++y)
    {
        for (int x = 0; x < w; ++x)
            line[(size_t) x] = *data.getPixelPointer (x, y);
        pass (w, [&] (int x) { return data.getPixelPointer (x, y); });
    }
    for (int x = 0; x < w; ++x)
    {
        for (int y = 0; y < h; ++y)
            line[(size_t) y] = *data.getPixelPointer (x, y);
        pass (h, [&] (int y) { return data.getPixelPointer (x, y); });
    }
}

// A soft glow of the path's outline (strokeWidth > 0) or of its area, in the colour given.
void glow (juce::Graphics& g, const juce::Rectangle<int>& canvas, const Path& path, float strokeWidth, int radius,
           Colour colour)
{
    juce::Image mask (juce::Image::SingleChannel, canvas.getWidth(), canvas.getHeight(), true,
                      juce::SoftwareImageType());
    {
        juce::Graphics m (mask);
        m.setColour (juce::Colours::white);
        if (strokeWidth > 0.0f)
            m.strokePath (
                path, juce::PathStrokeType (strokeWidth, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
        else
            m.fillPath (path);
    }
    blur (mask, radius);
    g.setColour (colour);
    g.drawImageAt (mask, 0, 0, true);
}

Path circle (float cx, float cy, float r)
{
    Path p;
    p.addEllipse (cx - r, cy - r, 2.0f * r, 2.0f * r);
    return p;
}

Path pill (juce::Rectangle<float> r)
{
    Path p;
    p.addRoundedRectangle (r, 0.5f * r.getHeight());
    return p;
}

juce::ColourGradient vertical (Colour top, Colour bottom, juce::Rectangle<float> r)
{
    return { top, r.getX(), r.getY(), bottom, r.getX(), r.getBottom(), false };
}

// A raised graphite body: shadow, dark edge, vertical gradient, a light upper rim and a soft sheen.
void drawBody (juce::Graphics& g, const juce::Rectangle<int>& canvas, const Path& shape, Colour top, Colour bottom)
{
    const auto b = shape.getBounds();
    glow (g, canvas, shape, 0.0f, 7, juce::Colours::black.withAlpha (0.8f)); // the shadow under the body
    g.setGradientFill (vertical (top, bottom, b));
    g.fillPath (shape);

    g.saveState();
    g.reduceClipRegion (shape);
    g.setGradientFill (vertical (juce::Colours::white.withAlpha (0.10f), juce::Colours::transparentWhite,
                                 b.withHeight (0.5f * b.getHeight())));
    g.fillRect (b.withHeight (0.5f * b.getHeight()));
    g.restoreState();

    g.setGradientFill (vertical (juce::Colours::white.withAlpha (0.28f), juce::Colours::white.withAlpha (0.0f), b));
    g.strokePath (shape, juce::PathStrokeType (2.5f), juce::AffineTransform::translation (0.0f, 1.2f));
    g.setColour (graphite0);
    g.strokePath (shape, juce::PathStrokeType (2.0f));
}

// A ring of light round the shape's edge: a wide soft halo and a bright core.
void drawRim (juce::Graphics& g, const juce::Rectangle<int>& canvas, const Path& shape, Colour halo, Colour core)
{
    glow (g, canvas, shape, 10.0f, 9, halo.withAlpha (0.85f));
    glow (g, canvas, shape, 4.0f, 3, core.withAlpha (0.9f));
    g.setColour (core.brighter (0.35f));
    g.strokePath (shape, juce::PathStrokeType (2.0f));
}

//==============================================================================
juce::Image knobImage()
{
    constexpr float c = 150.0f;
    auto image = blank (300, 300);
    juce::Graphics g (image);
    const auto canvas = image.getBounds();

    // Scale ticks over the knob's travel (the framework's default rotary range, 0.8 pi each side).
    for (int i = 0; i <= 10; ++i)
    {
        const auto a = -0.8f * pi + 1.6f * pi * (float) i / 10.0f;
        const auto end = i == 0 || i == 5 || i == 10;
        Path tick;
        tick.addRoundedRectangle (-1.6f, -114.0f, 3.2f, end ? 12.0f : 8.0f, 1.6f);
        g.setColour (juce::Colour (0xFFB9BCC4).withAlpha (end ? 0.85f : 0.55f));
        g.fillPath (tick, juce::AffineTransform::rotation (a).translated (c, c));
    }

    // Skirt: a knurled graphite ring.
    const auto skirt = circle (c, c, 90.0f);
    glow (g, canvas, circle (c, c + 8.0f, 90.0f), 0.0f, 10, juce::Colours::black.withAlpha (0.85f));
    g.setGradientFill (vertical (graphite4, graphite0, skirt.getBounds()));
    g.fillPath (skirt);
    for (int i = 0; i < 96; ++i)
    {
        Path ridge;
        ridge.addRectangle (-1.0f, -89.0f, 2.0f, 11.0f);
        g.setColour ((i % 2 == 0 ? juce::Colours::white : juce::Colours::black).withAlpha (0.07f));
        g.fillPath (ridge, juce::AffineTransform::rotation (2.0f * pi * (float) i / 96.0f).translated (c, c));
    }
    g.setGradientFill (
        vertical (juce::Colours::white.withAlpha (0.25f), juce::Colours::transparentWhite, skirt.getBounds()));
    g.strokePath (skirt, juce::PathStrokeType (1.5f));

    // Cap: a shallow dish lit from above, with fine concentric turning marks.
    const auto cap = circle (c, c, 74.0f);
    glow (g, canvas, circle (c, c + 4.0f, 74.0f), 0.0f, 5, juce::Colours::black.withAlpha (0.9f));
    g.setGradientFill (juce::ColourGradient (graphite4, c, c - 60.0f, graphite1, c, c + 80.0f, true));
    g.fillPath (cap);
    for (float r = 6.0f; r < 74.0f; r += 3.0f)
    {
        g.setColour (juce::Colours::white.withAlpha (((int) r / 3) % 2 == 0 ? 0.025f : 0.0f));
        g.drawEllipse (c - r, c - r, 2.0f * r, 2.0f * r, 1.0f);
    }
    g.setGradientFill (vertical (juce::Colours::white.withAlpha (0.35f), juce::Colours::white.withAlpha (0.0f),
                                 cap.getBounds().withTrimmedBottom (60.0f)));
    g.strokePath (cap, juce::PathStrokeType (1.5f));
    g.setColour (graphite0.withAlpha (0.8f));
    g.drawEllipse (c - 75.5f, c - 75.5f, 151.0f, 151.0f, 1.5f);
    return image;
}

juce::Image knobHoverImage()
{
    constexpr float c = 150.0f;
    auto image = blank (300, 300);
    juce::Graphics g (image);
    const auto canvas = image.getBounds();

    // A glowing ring round the skirt, a fainter one round the cap, and a thin halo further out.
    glow (g, canvas, circle (c, c, 93.0f), 8.0f, 8, purplePelko.withAlpha (0.9f));
    glow (g, canvas, circle (c, c, 93.0f), 3.0f, 2, purpleFlashPelko);
    g.setColour (purpleFlashPelko.brighter (0.3f));
    g.drawEllipse (c - 93.0f, c - 93.0f, 186.0f, 186.0f, 1.5f);
    glow (g, canvas, circle (c, c, 76.0f), 3.0f, 3, purplePelko.withAlpha (0.55f));
    g.setColour (purplePelko.withAlpha (0.35f));
    g.drawEllipse (c - 120.0f, c - 120.0f, 240.0f, 240.0f, 1.5f);
    return image;
}

juce::Image sliderThumbImage()
{
    constexpr float c = 100.0f;
    auto image = blank (200, 200);
    juce::Graphics g (image);
    const auto canvas = image.getBounds();

    const auto disc = circle (c, c, 46.0f);
    glow (g, canvas, circle (c, c + 6.0f, 46.0f), 0.0f, 8, juce::Colours::black.withAlpha (0.8f));
    g.setGradientFill (vertical (juce::Colour (0xFF9A9DA4), juce::Colour (0xFF45474C), disc.getBounds()));
    g.fillPath (disc);
    g.setGradientFill (
        juce::ColourGradient (juce::Colour (0xFF6E7177), c, c - 20.0f, juce::Colour (0xFF3A3C40), c, c + 40.0f, true));
    g.fillEllipse (c - 34.0f, c - 34.0f, 68.0f, 68.0f);
    g.setGradientFill (vertical (juce::Colour (0xFFEDEFF2), juce::Colour (0x40EDEFF2), disc.getBounds()));
    g.strokePath (disc, juce::PathStrokeType (3.0f));
    g.setColour (graphite0.withAlpha (0.6f));
    g.drawEllipse (c - 48.0f, c - 48.0f, 96.0f, 96.0f, 1.5f);
    return image;
}

// The button faces. Pills fill their image but for a margin that holds the shadow and the glow; the
// straight middle of the 400 x 200 pills is the same in every column, so it can be stretched.
const juce::Rectangle<float> pillFace { 14.0f, 14.0f, 372.0f, 172.0f };

juce::Image pillImage (bool on)
{
    auto image = blank (400, 200);
    juce::Graphics g (image);
    const auto shape = pill (pillFace);
    drawBody (g, image.getBounds(), shape, graphite3, graphite1);
    if (on)
        drawRim (g, image.getBounds(), shape, redPelko, orangeGlow);
    return image;
}

juce::Image squareImage (bool on)
{
    auto image = blank (200, 200);
    juce::Graphics g (image);
    const auto shape = circle (100.0f, 100.0f, 84.0f);
    drawBody (g, image.getBounds(), shape, graphite3, graphite1);
    if (on)
        drawRim (g, image.getBounds(), shape, purplePelko, purpleFlashPelko);
    return image;
}

juce::Image wideImage (bool on)
{
    auto image = blank (400, 200);
    juce::Graphics g (image);
    const auto shape = pill (pillFace);
    if (on)
    {
        drawBody (g, image.getBounds(), shape, juce::Colour (0xFF3E2770), juce::Colour (0xFF1E1238));
        drawRim (g, image.getBounds(), shape, purplePelko, purpleFlashPelko);
    }
    else
    {
        drawBody (g, image.getBounds(), shape, juce::Colour (0xFFD9CCF4), juce::Colour (0xFFA38BD9));
    }
    return image;
}

// The power symbol: an open ring with a bar through its gap.
Path powerSymbol()
{
    constexpr float c = 50.0f, r = 27.0f;
    Path p;
    p.addCentredArc (c, c + 3.0f, r, r, 0.0f, 0.22f * pi, 1.78f * pi, true);
    p.startNewSubPath (c, c - 30.0f);
    p.lineTo (c, c + 1.0f);
    return p;
}

juce::Image powerImage (bool on)
{
    auto image = blank (100, 100);
    juce::Graphics g (image);
    const auto symbol = powerSymbol();
    const juce::PathStrokeType stroke (10.0f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);
    if (on)
    {
        glow (g, image.getBounds(), symbol, 16.0f, 6, redPelko);
        g.setColour (orangeGlow);
        g.strokePath (symbol, stroke);
        g.setColour (juce::Colour (0xFFFFD2A8));
        g.strokePath (symbol, juce::PathStrokeType (3.5f, juce::PathStrokeType::curved, juce::PathStrokeType::rounded));
    }
    else
    {
        glow (g, image.getBounds(), symbol, 10.0f, 3, juce::Colours::black.withAlpha (0.7f));
        g.setColour (juce::Colour (0xFF8C8F96));
        g.strokePath (symbol, stroke);
    }
    return image;
}

// The word MORVIK, widely spaced, in engraved graphite lettering: a light lower edge under dark
// letters.
juce::Image logoImage (juce::Typeface::Ptr typeface)
{
    auto image = blank (1200, 276);
    juce::Graphics g (image);

    juce::GlyphArrangement glyphs;
    const juce::String word ("MORVIK");
    juce::Font font (typeface);
    font.setHeight (100.0f);
    font.setExtraKerningFactor (0.18f);
    glyphs.addLineOfText (font, word, 0.0f, 0.0f);
    Path letters;
    glyphs.createPath (letters);

    // Fit the letters' own outline (the trailing letter space left out) into the plate.
    const auto fit = juce::RectanglePlacement (juce::RectanglePlacement::centred)
                         .getTransformToFit (letters.getBounds(), { 30.0f, 28.0f, 1140.0f, 220.0f });
    letters.applyTransform (fit);

    // Medium weight set a touch heavier, so the word holds up at the 33 pixels it is shown at.
    const juce::PathStrokeType embolden (5.0f, juce::PathStrokeType::mitered);
    const auto lower = juce::AffineTransform::translation (0.0f, 5.0f);
    g.setColour (juce::Colours::white.withAlpha (0.45f));
    g.fillPath (letters, lower);
    g.strokePath (letters, embolden, lower);
    g.setGradientFill (vertical (juce::Colour (0xFF303238), juce::Colour (0xFF0F1012), letters.getBounds()));
    g.fillPath (letters);
    g.strokePath (letters, embolden);
    return image;
}

// A brushed graphite grain that tiles seamlessly: every row is one streak plus per-pixel noise, so
// the pattern has no edge to match.
juce::Image textureImage()
{
    auto image = juce::Image (juce::Image::RGB, 200, 200, false, juce::SoftwareImageType());
    juce::Random random (0x4d6f7276);
    for (int y = 0; y < 200; ++y)
    {
        const auto streak = random.nextFloat() * 10.0f - 5.0f;
        for (int x = 0; x < 200; ++x)
        {
            const auto grain = random.nextFloat() * 12.0f - 6.0f;
            const auto wave = 3.0f * std::sin (2.0f * pi * (float) x / 200.0f * 3.0f + (float) y * 0.05f);
            const auto v = (juce::uint8) juce::jlimit (0, 255, juce::roundToInt (46.0f + streak + grain + wave));
            image.setPixelAt (x, y, juce::Colour (v, v, (juce::uint8) juce::jmin (255, v + 3)));
        }
    }
    return image;
}

// The framework's FreeType typeface dereferences the face unchecked, so data FreeType cannot read
// would crash it: try the data here first.
juce::Typeface::Ptr readTypeface (const juce::MemoryBlock& data)
{
    FT_Library library = nullptr;
    if (FT_Init_FreeType (&library) != 0)
        return nullptr;
    FT_Face face = nullptr;
    const auto readable =
        FT_New_Memory_Face (library, static_cast<const FT_Byte*> (data.getData()), (FT_Long) data.getSize(), 0, &face)
            == 0
        && face->num_charmaps > 0 && face->family_name != nullptr;
    if (face != nullptr)
        FT_Done_Face (face);
    FT_Done_FreeType (library);
    return readable ? juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize()) : nullptr;
}

bool writeImage (const juce::Image& image, const juce::File& file, juce::ImageFileFormat& format)
{
    file.deleteFile();
    juce::FileOutputStream out (file);
    if (! out.openedOk() || ! format.writeImageToStream (image, out))
    {
        std::cerr << "make_artwork: cannot write " << file.getFullPathName() << "\n";
        return false;
    }
    return true;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 3)
    {
        std::cerr << "usage: make_artwork <output folder> <typeface .ttf>\n";
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI framework;
    const juce::File folder (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    juce::MemoryBlock fontData;
    if (! juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]).loadFileAsData (fontData))
    {
        std::cerr << "make_artwork: cannot read the typeface " << argv[2] << "\n";
        return 1;
    }
    auto typeface = readTypeface (fontData);
    if (typeface == nullptr || typeface->getName().isEmpty() || ! folder.createDirectory())
    {
        std::cerr << "make_artwork: no usable typeface in " << argv[2] << " or no folder " << argv[1] << "\n";
        return 1;
    }

    juce::PNGImageFormat png;
    juce::JPEGImageFormat jpeg;
    jpeg.setQuality (0.92f);

    const std::pair<const char*, juce::Image> pngs[] = {
        { "knob.png", knobImage() },
        { "knob_hover.png", knobHoverImage() },
        { "slider_thumb.png", sliderThumbImage() },
        { "pill_off.png", pillImage (false) },
        { "pill_on.png", pillImage (true) },
        { "square_off.png", squareImage (false) },
        { "square_on.png", squareImage (true) },
        { "wide_off.png", wideImage (false) },
        { "wide_on.png", wideImage (true) },
        { "power_off.png", powerImage (false) },
        { "power_on.png", powerImage (true) },
        { "logo.png", logoImage (typeface) },
    };

    for (const auto& [name, image] : pngs)
        if (! writeImage (image, folder.getChildFile (name), png))
            return 1;

    return writeImage (textureImage(), folder.getChildFile ("panel_texture.jpg"), jpeg) ? 0 : 1;
}
