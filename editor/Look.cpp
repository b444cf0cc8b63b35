#include "editor/Look.h"

#include <BinaryData.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <array>
#include <cmath>

namespace
{
juce::Image embeddedImage (const char* data, int size) { return juce::ImageCache::getFromMemory (data, size); }

// Draws the whole image into the rectangle.
void drawWhole (juce::Graphics& g, const juce::Image& image, int x, int y, int w, int h)
{
    g.drawImage (image, x, y, w, h, 0, 0, image.getWidth(), image.getHeight());
}

// A length in the drawing's own units as device pixels (more than one per unit on a scaled display).
int devicePixels (const juce::Graphics& g, double length)
{
    return juce::roundToInt (length * g.getInternalContext().getPhysicalPixelScaleFactor());
}

// Along one axis of a resampling: the source pixels that make each destination pixel, and their
// weights, which sum to 1 for every destination pixel.
struct Taps
{
    std::vector<int> first, count;
    std::vector<float> weights; // count[d] entries for each destination pixel d, in order

    Taps (int sourceSize, int destSize)
    {
        const double ratio = (double) sourceSize / (double) destSize;

        for (int d = 0; d < destSize; ++d)
        {
            if (ratio > 1.0)
            {
                // The destination pixel's footprint, [from, to) in source pixels, averaged.
                const double from = d * ratio, to = from + ratio;
                const int start = (int) from, end = juce::jmin (sourceSize, (int) std::ceil (to));
                first.push_back (start);
                count.push_back (end - start);
                for (int s = start; s < end; ++s)
                    weights.push_back ((float) ((juce::jmin (to, s + 1.0) - juce::jmax (from, (double) s)) / ratio));
            }
            else
            {
                // Linear between the two source pixels whose centres are nearest.
                const double centre = juce::jlimit (0.0, sourceSize - 1.0, (d + 0.5) * ratio - 0.5);
                const int start = (int) centre;
                const auto fraction = (float) (centre - start);
                first.push_back (start);
                count.push_back (start + 1 < sourceSize ? 2 : 1);
                weights.push_back (start + 1 < sourceSize ? 1.0f - fraction : 1.0f);
                if (start + 1 < sourceSize)
                    weights.push_back (fraction);
            }
        }
    }
};

bool isHot (const juce::Component& c) { return c.isMouseOverOrDragging() && c.isEnabled(); }

// A widget coloured exactly transparentPelko asks for no skin or frame; a colour of alpha 0 with
// another RGB is an ordinary colour.
bool isMarkedBare (const juce::Component& c, int colourId) { return c.findColour (colourId) == transparentPelko; }
} // namespace

Look::Look()
    : typeface (createTypeface (BinaryData::manrope_medium_ttf, (size_t) BinaryData::manrope_medium_ttfSize))
{
    // Later entries for the same ID win.
    const std::pair<int, juce::Colour> table[] = {
        { juce::Label::textColourId, greyWhitePelko },
        { juce::PopupMenu::textColourId, greyWhitePelko },
        { juce::PopupMenu::backgroundColourId, greyOpacityPelko },
        { juce::PopupMenu::headerTextColourId, purplePelko },
        { juce::PopupMenu::highlightedTextColourId, whitePelko },
        { juce::PopupMenu::highlightedBackgroundColourId, purpleDarkPelko },
        { juce::ProgressBar::backgroundColourId, purplePelko },
        { juce::ProgressBar::foregroundColourId, whitePelko },
        { juce::AlertWindow::textColourId, whitePelko },
        { juce::AlertWindow::backgroundColourId, greyOpacityPelko },
        { juce::AlertWindow::outlineColourId, purplePelko },
        { juce::TextButton::buttonColourId, whitePelko },
        { juce::TextButton::buttonOnColourId, purpleDarkPelko },
        { juce::TextButton::textColourOffId, backgroundPelko2 },
        { juce::TextButton::textColourOnId, purplePelko },
        { juce::ComboBox::outlineColourId, whiteLightPelko },
        { juce::ScrollBar::thumbColourId, whitePelko },
        { juce::ScrollBar::backgroundColourId, purplePelko },
        { juce::ScrollBar::trackColourId, purplePelko },
        { juce::TextEditor::backgroundColourId, greyBlackPelko },
        { juce::TextEditor::highlightColourId, purplePelko },
        { juce::TextEditor::focusedOutlineColourId, purpleTransChord },
        { juce::TextEditor::outlineColourId, greyWhitePelko },
        { juce::TextEditor::textColourId, whitePelko },
        { juce::TextEditor::shadowColourId, blackPelko },
        { juce::ListBox::outlineColourId, whitePelko },
        { juce::ListBox::backgroundColourId, blackPelko },
        { juce::TableHeaderComponent::backgroundColourId, blackPelko },
        { juce::TableHeaderComponent::textColourId, whitePelko },
        { juce::TableHeaderComponent::outlineColourId, blackPelko },
        { juce::TableHeaderComponent::highlightColourId, blackPelko },
        { juce::FileChooserDialogBox::titleTextColourId, whitePelko },
        { juce::TooltipWindow::backgroundColourId, blackPelko },
        { juce::AlertWindow::textColourId, whitePelko },
        { juce::AlertWindow::outlineColourId, whitePelko },
        { juce::AlertWindow::backgroundColourId, greyDownPelko },
        { juce::FileBrowserComponent::currentPathBoxTextColourId, whitePelko },
        { juce::FileBrowserComponent::currentPathBoxArrowColourId, whitePelko },
        { juce::FileBrowserComponent::filenameBoxBackgroundColourId, blackPelko },
        { juce::FileBrowserComponent::filenameBoxTextColourId, whitePelko },
        { juce::Slider::textBoxOutlineColourId, juce::Colour (0x00000000) },
    };

    for (const auto& [id, colour] : table)
        setColour (id, colour);

    knob = embeddedImage (BinaryData::knob_png, BinaryData::knob_pngSize);
    knobHover = embeddedImage (BinaryData::knob_hover_png, BinaryData::knob_hover_pngSize);
    sliderThumb = embeddedImage (BinaryData::slider_thumb_png, BinaryData::slider_thumb_pngSize);
    pillOff = embeddedImage (BinaryData::pill_off_png, BinaryData::pill_off_pngSize);
    pillOn = embeddedImage (BinaryData::pill_on_png, BinaryData::pill_on_pngSize);
    squareOff = embeddedImage (BinaryData::square_off_png, BinaryData::square_off_pngSize);
    squareOn = embeddedImage (BinaryData::square_on_png, BinaryData::square_on_pngSize);
    wideOff = embeddedImage (BinaryData::wide_off_png, BinaryData::wide_off_pngSize);
    wideOn = embeddedImage (BinaryData::wide_on_png, BinaryData::wide_on_pngSize);
}

Look::~Look() = default;

juce::Font Look::font (float height) const
{
    return typeface != nullptr ? juce::Font (typeface).withHeight (height) : juce::Font (height, juce::Font::plain);
}

juce::Image Look::sized (const juce::Image& image, int width, int height)
{
    width = juce::jmax (1, width);
    height = juce::jmax (1, height);

    if (! image.isValid() || (image.getWidth() == width && image.getHeight() == height))
        return image;

    ++useCount;
    for (auto& entry : sizedImages)
        if (entry.source == image && entry.image.getWidth() == width && entry.image.getHeight() == height)
        {
            entry.lastUse = useCount;
            return entry.image;
        }

    // A window being resized passes through many sizes; only the recent ones stay.
    if (sizedImages.size() >= maxSizedImages)
        sizedImages.erase (std::min_element (sizedImages.begin(), sizedImages.end(),
                                             [] (const auto& a, const auto& b) { return a.lastUse < b.lastUse; }));

    sizedImages.push_back ({ image, resampled (image, width, height), useCount });
    return sizedImages.back().image;
}

juce::Image Look::resampled (const juce::Image& image, int width, int height)
{
    width = juce::jmax (1, width);
    height = juce::jmax (1, height);
    juce::Image result (juce::Image::ARGB, width, height, true);

    if (! image.isValid())
        return result;

    // Premultiplied components average correctly, so transparent pixels lend no colour to their
    // neighbours. Rows first, into floats (alpha, red, green, blue per pixel), then columns.
    const auto source = image.convertedToFormat (juce::Image::ARGB);
    const int sourceWidth = source.getWidth(), sourceHeight = source.getHeight();
    const Taps across (sourceWidth, width), down (sourceHeight, height);
    const auto rowLength = (size_t) width * 4;
    std::vector<float> rows ((size_t) sourceHeight * rowLength);

    {
        const juce::Image::BitmapData in (source, juce::Image::BitmapData::readOnly);
        for (int y = 0; y < sourceHeight; ++y)
        {
            const auto* line = in.getLinePointer (y);
            auto* sum = rows.data() + (size_t) y * rowLength;
            const auto* weight = across.weights.data();

            for (int x = 0; x < width; ++x, sum += 4)
            {
                const auto* p = line + across.first[(size_t) x] * in.pixelStride;
                float a = 0.0f, r = 0.0f, g = 0.0f, b = 0.0f;
                for (int k = across.count[(size_t) x]; --k >= 0; p += in.pixelStride)
                {
                    const auto& pixel = *reinterpret_cast<const juce::PixelARGB*> (p);
                    const auto w = *weight++;
                    a += w * pixel.getAlpha();
                    r += w * pixel.getRed();
                    g += w * pixel.getGreen();
                    b += w * pixel.getBlue();
                }
                sum[0] = a;
                sum[1] = r;
                sum[2] = g;
                sum[3] = b;
            }
        }
    }

    const juce::Image::BitmapData out (result, juce::Image::BitmapData::writeOnly);
    const auto toByte = [] (float v) { return (juce::uint8) juce::jlimit (0, 255, juce::roundToInt (v)); };
    std::vector<float> sum (rowLength);
    const auto* weight = down.weights.data();

    for (int y = 0; y < height; ++y)
    {
        std::fill (sum.begin(), sum.end(), 0.0f);
        for (int k = 0; k < down.count[(size_t) y]; ++k)
        {
            const auto w = *weight++;
            const auto* row = rows.data() + (size_t) (down.first[(size_t) y] + k) * rowLength;
            for (size_t i = 0; i < rowLength; ++i)
                sum[i] += w * row[i];
        }

        for (int x = 0; x < width; ++x)
        {
            const auto* v = sum.data() + (size_t) x * 4;
            const auto alpha = toByte (v[0]);
            reinterpret_cast<juce::PixelARGB*> (out.getPixelPointer (x, y))
                ->setARGB (alpha, juce::jmin (alpha, toByte (v[1])), juce::jmin (alpha, toByte (v[2])),
                           juce::jmin (alpha, toByte (v[3])));
        }
    }

    return result;
}

juce::Typeface::Ptr Look::createTypeface (const void* data, size_t size)
{
    if (data == nullptr || size == 0)
        return nullptr;

    // The framework's FreeType typeface dereferences the face without checking it, so data that
    // FreeType cannot read, or a face without a character map, would crash it: try it here first.
    FT_Library library = nullptr;
    if (FT_Init_FreeType (&library) != 0)
        return nullptr;

    FT_Face face = nullptr;
    const auto readable =
        FT_New_Memory_Face (library, static_cast<const FT_Byte*> (data), (FT_Long) size, 0, &face) == 0
        && face->num_charmaps > 0 && face->family_name != nullptr;
    if (face != nullptr)
        FT_Done_Face (face);
    FT_Done_FreeType (library);

    if (! readable)
        return nullptr;

    auto typeface = juce::Typeface::createSystemTypefaceFor (data, size);
    return typeface != nullptr && typeface->getName().isNotEmpty() ? typeface : nullptr;
}

//==============================================================================
void Look::drawButtonSkin (juce::Graphics& g, const juce::Button& button, bool threeSlice)
{
    const auto w = button.getWidth(), h = button.getHeight();
    const auto on = button.getToggleState();

    if (w == h)
    {
        drawWhole (g, sized (on ? squareOn : squareOff, devicePixels (g, w), devicePixels (g, w)), 0, 0, w, w);
        return;
    }

    if (! threeSlice || (2 * h - 2 < w && w < 2 * h + 2))
    {
        drawWhole (g, sized (on ? pillOn : pillOff, devicePixels (g, w), devicePixels (g, h)), 0, 0, w, h);
        return;
    }

    // The slices keep the image's proportions, so it is scaled once to the button's height and the
    // caps are copied from it at their own size.
    const auto& source = on ? wideOn : wideOff;
    if (! source.isValid())
        return;

    const auto image =
        sized (source, devicePixels (g, (double) h * source.getWidth() / source.getHeight()), devicePixels (g, h));
    const auto iw = image.getWidth(), ih = image.getHeight();

    if (w >= 2 * h + 2)
    {
        g.drawImage (image, 0, 0, h, h, 0, 0, ih, ih);
        g.drawImage (image, w - h, 0, h, h, iw - ih, 0, ih, ih);
        g.drawImage (image, h, 0, w - 2 * h, h, ih, 0, (int) (0.5 * ih), ih);
    }
    else if (h < w)
    {
        // Half caps: the right one's source runs past the image edge, which the drawing clips while
        // keeping the scale, so the image's last half-height lands on the button's last half-height.
        g.drawImage (image, 0, 0, (int) (0.5 * h), h, 0, 0, (int) (0.5 * ih), ih);
        g.drawImage (image, (int) (w - 0.5 * h), 0, h, h, (int) (iw - 0.5 * ih), 0, ih, ih);
        g.drawImage (image, (int) (0.5 * h), 0, w - h, h, (int) (0.5 * ih), 0, (int) (0.6 * ih), ih);
    }
}

void Look::drawHoverOverlay (juce::Graphics& g, const juce::Component& c)
{
    if (! isHot (c))
        return;

    const auto w = (float) c.getWidth(), h = (float) c.getHeight();
    g.setColour (lightPelko2);

    if (c.getWidth() == c.getHeight())
        g.fillRoundedRectangle (0.1f * w, 0.1f * w, 0.8f * w, 0.8f * w, 0.5f * w);
    else if (c.getWidth() < 2 * c.getHeight() + 3)
        g.fillRoundedRectangle (0.05f * w, 0.15f * h, 0.9f * w, 0.7f * h, 0.5f * h);
    else
        g.fillRoundedRectangle (0.03f * w, 0.15f * h, 0.94f * w, 0.7f * h, 0.5f * h);
}

void Look::drawButtonBackground (juce::Graphics& g, juce::Button& button, const juce::Colour&, bool, bool)
{
    if (isMarkedBare (button, juce::TextButton::buttonColourId))
        return;

    g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
    drawButtonSkin (g, button, true);
    drawHoverOverlay (g, button);
}

void Look::drawButtonText (juce::Graphics& g, juce::TextButton& button, bool, bool)
{
    const auto w = button.getWidth(), h = button.getHeight();
    const auto yIndent = juce::roundToInt (0.1f * (float) h);

    // The side indents are measured in vertical indents; a button 5 pixels high or less has none,
    // and no room for legible text either, so it shows none.
    if (yIndent <= 0)
        return;

    g.setFont (font (0.3f * (float) h));
    g.setColour (
        button
            .findColour (button.getToggleState() ? juce::TextButton::textColourOnId : juce::TextButton::textColourOffId)
            .withMultipliedAlpha (button.isEnabled() ? 1.0f : 0.5f));

    const auto cornerSize = juce::jmin (w, h) / 2;
    const auto leftIndent = cornerSize / (button.isConnectedOnLeft() ? 2 * yIndent : yIndent);
    const auto rightIndent = cornerSize / (button.isConnectedOnRight() ? 2 * yIndent : yIndent);
    const auto textWidth = w - leftIndent - rightIndent;

    if (textWidth > 0)
        g.drawFittedText (button.getButtonText(), leftIndent, yIndent + 1, textWidth, h - 2 * yIndent,
                          juce::Justification::centred, 2, 0.5f);
}

void Look::drawImageButton (juce::Graphics& g, juce::Image* image, int imageX, int imageY, int imageW, int imageH,
                            const juce::Colour& overlayColour, float imageOpacity, juce::ImageButton& button)
{
    if (isMarkedBare (button, juce::TextButton::buttonColourId))
        return;

    g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
    drawButtonSkin (g, button, false);

    if (image != nullptr && image->isValid())
    {
        // The symbol takes 40 % of its box, moved by 30 % of the button, so it sits on the skin's face.
        const auto area = juce::Rectangle<int> (imageX, imageY, imageW, imageH)
                              .toFloat()
                              .transformedBy (juce::AffineTransform::scale (0.4f).translated (
                                  0.3f * (float) button.getWidth(), 0.3f * (float) button.getHeight()));
        const auto symbol = sized (*image, devicePixels (g, area.getWidth()), devicePixels (g, area.getHeight()));
        const auto t = juce::RectanglePlacement (juce::RectanglePlacement::stretchToFit)
                           .getTransformToFit (symbol.getBounds().toFloat(), area);

        if (! overlayColour.isOpaque())
        {
            g.setOpacity (button.isEnabled() ? imageOpacity : 0.3f * imageOpacity);
            g.drawImageTransformed (symbol, t, false);
        }

        if (! overlayColour.isTransparent())
        {
            g.setColour (overlayColour);
            g.drawImageTransformed (symbol, t, true);
        }
    }

    drawHoverOverlay (g, button);
}

//==============================================================================
void Look::drawPopupMenuBackground (juce::Graphics& g, int width, int height)
{
    g.setColour (findColour (juce::PopupMenu::backgroundColourId));
    g.fillRoundedRectangle (0.0f, 0.0f, (float) width, (float) height, 6.0f);
}

void Look::drawPopupMenuItem (juce::Graphics& g, const juce::Rectangle<int>& area, bool isSeparator, bool isActive,
                              bool isHighlighted, bool, bool hasSubMenu, const juce::String& text,
                              const juce::String& shortcutKeyText, const juce::Drawable*,
                              const juce::Colour* textColour)
{
    const auto ax = (float) area.getX(), ay = (float) area.getY();
    const auto aw = (float) area.getWidth(), ah = (float) area.getHeight();

    if (isSeparator)
    {
        g.setColour (whitePadPelko);
        g.drawLine (ax, ay + ah, ax + aw, ay + ah);
        return;
    }

    g.setColour (termsPelko);
    g.drawLine (ax + 0.4f * aw, ay, ax + 0.6f * aw, ay);

    auto colour = textColour != nullptr ? *textColour : findColour (juce::PopupMenu::textColourId);
    auto r = area;

    if (isHighlighted)
    {
        g.setColour (findColour (juce::PopupMenu::highlightedBackgroundColourId));
        g.fillRect (r);
        colour = findColour (juce::PopupMenu::highlightedTextColourId);
    }

    g.setColour (colour);

    if (! isActive)
        g.setOpacity (0.3f);

    auto font = getPopupMenuFont();
    font.setHeight (0.64f * ah);
    g.setFont (font);

    if (hasSubMenu)
    {
        const auto a = 0.6f * getPopupMenuFont().getAscent();
        const auto sx = (float) r.removeFromRight ((int) a).getX();
        const auto yc = (float) (r.getY() + r.getHeight() / 2);

        juce::Path arrow;
        arrow.addTriangle (sx, yc - 0.5f * a, sx, yc + 0.5f * a, sx + 0.6f * a, yc);
        g.fillPath (arrow);
    }

    g.drawFittedText (text, r, juce::Justification::centred, 1);

    if (shortcutKeyText.isNotEmpty())
    {
        auto small = font;
        small.setHeight (0.75f * font.getHeight());
        small.setHorizontalScale (0.95f);
        g.setFont (small);
        g.drawText (shortcutKeyText, r, juce::Justification::centred, true);
    }
}

void Look::drawPopupMenuSectionHeader (juce::Graphics& g, const juce::Rectangle<int>& area,
                                       const juce::String& sectionName)
{
    // The embedded typeface has one weight, which the header shares with the items.
    g.setFont (getPopupMenuFont());
    g.setColour (findColour (juce::PopupMenu::headerTextColourId));
    g.drawFittedText (sectionName, area, juce::Justification::centred, 1);
}

void Look::drawComboBox (juce::Graphics& g, int width, int height, bool, int buttonX, int buttonY, int buttonW,
                         int buttonH, juce::ComboBox&)
{
    const juce::Rectangle<float> box (2.0f, 2.0f, (float) width - 4.0f, (float) height - 4.0f);
    const auto corner = 0.4f * (float) height;

    g.setGradientFill (juce::ColourGradient (backgroundPelkoL, 0.48f * (float) width, 0.0f, greyBlackPelko,
                                             0.51f * (float) width, (float) height, false));
    g.fillRoundedRectangle (box, corner);
    g.setColour (blackPelko);
    g.drawRoundedRectangle (box, corner, 2.0f);

    g.setColour (whitePelko);
    g.setFont (font ((float) buttonW));
    g.drawText (":", buttonX, buttonY, buttonW, buttonH, juce::Justification::left, true);
}

juce::Font Look::getLabelFont (juce::Label& label)
{
    label.setFont (font (labelFontHeight));
    return label.getFont();
}

juce::Font Look::getPopupMenuFont() { return font (17.0f); }

//==============================================================================
void Look::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos, float, float,
                             juce::Slider::SliderStyle, juce::Slider& slider)
{
    const auto w = (float) width, h = (float) height;
    const auto hh = (float) (int) (0.5f * h);
    const juce::Rectangle<float> track ((float) x, (float) y + 0.75f * hh, w, 0.5f * hh);
    const auto corner = 0.25f * hh;

    // The outline goes first: the fill covers its inner half, leaving a thin dark edge.
    g.setColour (blackPelko);
    g.drawRoundedRectangle (track, corner, 2.0f);
    g.setGradientFill (
        juce::ColourGradient (greyDownPelko, 1.1f * sliderPos, 0.2f * h, greyPlusPelko, 2.0f * w, 0.8f * h, true));
    g.fillRoundedRectangle (track, corner);

    if (! slider.isEnabled())
        return;

    drawWhole (g, sized (sliderThumb, devicePixels (g, height), devicePixels (g, height)),
               (int) (0.9f * sliderPos - 0.08f * w), 0, height, height);

    if (slider.isMouseOverOrDragging())
    {
        g.setColour (purplePelko);
        g.drawEllipse (0.9f * sliderPos - 0.012f * w, 0.275f * h, 0.5f * h, 0.5f * h, 3.0f);
    }
}

void Look::drawRotarySlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPosProportional,
                             float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider)
{
    const auto w = (float) width, h = (float) height;
    const auto r = (float) juce::jmin (width / 2, height / 2) - 0.22f * w;
    const auto hot = isHot (slider);

    // The knob is as wide as the slider and raised by a tenth of it; its value box sits below.
    const juce::Rectangle<int> knobArea (0, (int) (-0.1f * w), width, width);
    const auto knobPixels = devicePixels (g, width);
    g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
    drawWhole (g, sized (knob, knobPixels, knobPixels), knobArea.getX(), knobArea.getY(), knobArea.getWidth(),
               knobArea.getHeight());

    const auto angle = rotaryStartAngle + sliderPosProportional * (rotaryEndAngle - rotaryStartAngle);
    juce::Path pointer;
    pointer.addRectangle (-2.0f, -1.0f - r, 4.0f, 0.55f * r + 1.0f);
    g.setColour (hot ? purplePelko : greyWhitePelko);
    g.fillPath (pointer,
                juce::AffineTransform::rotation (angle).translated ((float) x + 0.5f * w, (float) y + 0.5f * h - 1.0f));

    const auto drawHover = [&] {
        if (hot)
            drawWhole (g, sized (knobHover, knobPixels, knobPixels), knobArea.getX(), knobArea.getY(),
                       knobArea.getWidth(), knobArea.getHeight());
    };

    if (isMarkedBare (slider, juce::Slider::textBoxTextColourId))
    {
        drawHover();
        return;
    }

    // The value text follows the hover state; the colour stays on the slider until the next paint.
    drawHover();
    slider.setColour (juce::Slider::textBoxTextColourId, hot ? purpleLightPelko : greyTextBoxPelko);

    const auto cx = (float) x + 0.5f * w;
    const auto tw = (float) slider.getTextBoxWidth(), th = (float) slider.getTextBoxHeight();
    g.setColour (hot ? purplepurplePelko : maskPelko);
    g.drawRoundedRectangle (cx - 0.5f * tw, h + 3.0f, tw, th - 6.0f, 0.05f * h, 2.0f);
    g.setColour (maskTextBox);
    g.fillRoundedRectangle (cx - 0.5f * tw - 1.0f, h + 2.0f, tw - 1.0f, th - 6.0f, 0.05f * h);
}

juce::Label* Look::createSliderTextBox (juce::Slider& slider)
{
    auto* label = juce::LookAndFeel_V2::createSliderTextBox (slider);

    if (isMarkedBare (slider, juce::Slider::textBoxTextColourId))
        return label;

    label->setColour (juce::Label::textColourId, slider.isMouseOverOrDragging() ? purpleFlashPelko : greyTextBoxPelko);
    label->setFont (font (label->getFont().getHeight() - 2.0f));
    return label;
}
