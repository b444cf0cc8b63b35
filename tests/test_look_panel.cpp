#include "editor/Look.h"
#include "support/RecordingContext.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

// A panel of every widget the look skins, laid out as the editor does at 900 x 530, so the artwork
// can be judged in place: set MORVIK_LOOK_PANEL to a PNG path to keep the picture. Needs a display
// for the hovered widgets (xvfb-run).
namespace
{
struct Panel : juce::Component
{
    Panel()
    {
        for (auto* b : { &presets, &previous, &next })
        {
            b->setColour (juce::TextButton::textColourOffId, blackUltraPelko);
            b->setColour (juce::TextButton::textColourOnId, greyWhitePelko);
            addAndMakeVisible (b);
        }
        presets.setBounds (337, 3, 225, 39);
        previous.setBounds (300, 6, 34, 33);
        next.setBounds (565, 6, 34, 33);
        presetsOn.setBounds (337, 470, 225, 39);
        presetsOn.setToggleState (true, juce::dontSendNotification);
        presetsOn.setColour (juce::TextButton::textColourOnId, greyWhitePelko);
        addAndMakeVisible (presetsOn);

        const auto off = juce::ImageCache::getFromMemory (BinaryData::power_off_png, BinaryData::power_off_pngSize);
        const auto on = juce::ImageCache::getFromMemory (BinaryData::power_on_png, BinaryData::power_on_pngSize);
        for (auto* p : { &power, &powerOn })
        {
            p->setImages (false, true, true, off, 1.0f, {}, {}, 1.0f, {}, on, 1.0f, {});
            addAndMakeVisible (p);
        }
        power.setBounds (828, 6, 33, 33);
        powerOn.setBounds (828, 470, 33, 33);
        powerOn.setToggleState (true, juce::dontSendNotification);

        const std::tuple<juce::Slider*, juce::Label*, const char*, juce::Rectangle<int>, int, int> knobs[] = {
            { &attack, &attackLabel, "ATTACK", { 52, 82, 89, 89 }, 62, 17 },
            { &character, &characterLabel, "CHARACTER", { 151, 111, 179, 179 }, 76, 35 },
            { &compress, &compressLabel, "COMPRESS", { 387, 132, 125, 125 }, 100, 37 },
            { &makeup, &makeupLabel, "MAKEUP", { 563, 111, 179, 179 }, 76, 35 },
            { &ratio, &ratioLabel, "RATIO", { 752, 82, 89, 89 }, 62, 17 },
            { &release, &releaseLabel, "RELEASE", { 52, 211, 89, 89 }, 62, 17 },
        };
        for (const auto& [slider, label, text, bounds, tw, th] : knobs)
        {
            addAndMakeVisible (slider);
            slider->setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
            slider->setRange (0.0, 100.0, 0.1);
            slider->setValue (35.0 + bounds.getX() % 40);
            slider->setTextBoxStyle (juce::Slider::TextBoxBelow, true, tw, th);
            addAndMakeVisible (label);
            label->setText (text, juce::dontSendNotification);
            label->setJustificationType (juce::Justification::centred);
            label->attachToComponent (slider, false);
            slider->setBounds (bounds);
        }
        compress.setColour (juce::Slider::textBoxTextColourId, transparentPelko);

        linear.setSliderStyle (juce::Slider::LinearHorizontal);
        linear.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
        linear.setValue (0.6);
        linear.setRange (0.0, 1.0);
        linearOff.setSliderStyle (juce::Slider::LinearHorizontal);
        linearOff.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
        linearOff.setEnabled (false);
        addAndMakeVisible (linear);
        addAndMakeVisible (linearOff);
        linear.setBounds (40, 330, 200, 36);
        linearOff.setBounds (40, 372, 200, 36);

        combo.addItemList ({ "Bell", "Low shelf", "High shelf" }, 1);
        combo.setSelectedId (2);
        addAndMakeVisible (combo);
        combo.setBounds (40, 420, 150, 28);

        int x = 270;
        for (const auto& [w, toggled] : { std::pair { 60, false },
                                          { 61, true },
                                          { 62, false },
                                          { 58, true },
                                          { 40, false },
                                          { 20, false },
                                          { 30, true } })
        {
            auto* b = sizeButtons.add (new juce::TextButton (juce::String (w)));
            b->setToggleState (toggled, juce::dontSendNotification);
            b->setColour (juce::TextButton::textColourOffId, greyWhitePelko);
            b->setColour (juce::TextButton::textColourOnId, whitePelko);
            addAndMakeVisible (b);
            b->setBounds (x, 330, w, 30);
            x += w + 10;
        }
        caption.setText ("Detector", juce::dontSendNotification);
        addAndMakeVisible (caption);
        caption.setBounds (270, 370, 120, 20);
        setSize (900, 530);
    }

    void paint (juce::Graphics& g) override
    {
        const auto w = (float) getWidth(), h = (float) getHeight();
        g.setGradientFill (
            { juce::Colour (0xFFC8ABEE), 0.25f * w, 0.06f * h, juce::Colour (0xFF4A2459), 0.85f * w, 0.99f * h, true });
        g.fillAll();
        const juce::Rectangle<float> panel (25.0f, 44.0f, 843.0f, 265.0f);
        g.setGradientFill (
            { juce::Colour (0xFFA5B4BC), 0.3f * w, 0.15f * h, blackUltraPelko, 0.75f * w, 1.1f * h, true });
        g.fillRoundedRectangle (panel, 25.0f);
        g.setTiledImageFill (
            juce::ImageCache::getFromMemory (BinaryData::panel_texture_jpg, BinaryData::panel_texture_jpgSize), 0, 0,
            0.5f);
        g.fillRoundedRectangle (panel.withTrimmedLeft (3).withTrimmedTop (3), 25.0f);
        g.setColour (blackPelko);
        g.drawRoundedRectangle (panel.withTrimmedLeft (3).withTrimmedTop (3), 25.0f, 3.0f);
        g.setColour (greyPelko);
        g.fillEllipse (347.0f, 80.0f, 208.0f, 206.0f);
        const auto logo = juce::ImageCache::getFromMemory (BinaryData::logo_png, BinaryData::logo_pngSize);
        g.drawImage (logo, 40, 7, 143, 33, 0, 0, logo.getWidth(), logo.getHeight());
    }

    juce::TextButton presets { "PRESETS" }, previous { "<" }, next { ">" }, presetsOn { "3 Clean Sustain" };
    juce::ImageButton power, powerOn;
    juce::Slider attack, character, compress, makeup, ratio, release, linear, linearOff;
    juce::Label attackLabel, characterLabel, compressLabel, makeupLabel, ratioLabel, releaseLabel, caption;
    juce::ComboBox combo;
    juce::OwnedArray<juce::TextButton> sizeButtons;
};

// The open menu, drawn item by item as the framework's menu window would.
void drawMenu (Look& look, juce::Graphics& g, juce::Point<int> at)
{
    juce::Graphics::ScopedSaveState state (g);
    g.setOrigin (at);
    look.drawPopupMenuBackground (g, 150, 140);
    look.drawPopupMenuSectionHeader (g, { 0, 4, 150, 22 }, "PRESETS");
    const char* items[] = { "Bus", "Vocal", "Drum", "", "Guitar" };
    int y = 26;
    for (int i = 0; i < 5; ++i)
    {
        const auto separator = juce::String (items[i]).isEmpty();
        const auto height = separator ? 8 : 24;
        look.drawPopupMenuItem (g, { 0, y, 150, height }, separator, i != 4, i == 1, false, i < 3, items[i],
                                i == 0 ? "B" : "", nullptr, nullptr);
        y += height;
    }
}
} // namespace

TEST (LookPanel, DrawsEveryWidgetInPlace)
{
    juce::ScopedJuceInitialiser_GUI gui;
    Look look;
    look.labelFontHeight = 11.7f;
    Panel panel;
    panel.setLookAndFeel (&look);
    auto image = panel.createComponentSnapshot (panel.getLocalBounds(), true, 2.0f);
    {
        juce::Graphics g (image);
        g.addTransform (juce::AffineTransform::scale (2.0f));
        drawMenu (look, g, { 715, 318 });

        // Hovered widgets, drawn on their own and laid over their place.
        for (juce::Component* c : { (juce::Component*) &panel.makeup, (juce::Component*) &panel.previous })
        {
            const auto bounds = c->getBounds();
            panel.removeChildComponent (c);
            {
                test::Hover hover (*c);
                c->repaint();
                const auto hot = c->createComponentSnapshot (c->getLocalBounds(), true, 2.0f);
                g.drawImage (hot, bounds.toFloat());
            }
            panel.addAndMakeVisible (c);
            c->setBounds (bounds);
        }
    }
    panel.setLookAndFeel (nullptr);

    // The knobs' bodies are dark graphite; the power switch's on state glows orange.
    const auto knobCentre = image.getPixelAt (2 * (52 + 44), 2 * (82 + 36));
    EXPECT_LT (knobCentre.getBrightness(), 0.35f);
    const auto glow = image.getPixelAt (2 * (828 + 16), 2 * (470 + 12));
    EXPECT_GT (glow.getRed(), glow.getBlue()) << glow.toString();

    if (const auto path = juce::SystemStats::getEnvironmentVariable ("MORVIK_LOOK_PANEL", {}); path.isNotEmpty())
    {
        juce::File file (path);
        file.deleteFile();
        juce::FileOutputStream out (file);
        juce::PNGImageFormat().writeImageToStream (image, out);
    }
}
