// Draws a panel of every widget the look skins, laid out as the editor lays them out at 900 x 530,
// at twice that size, with the artwork as built in: make_artwork_panel <out.png>. A tool for
// judging the artwork in place; it needs a display for the hovered widgets (run it under xvfb-run).

#include "editor/Look.h"

#include <BinaryData.h>
#include <dlfcn.h>
#include <iostream>

namespace
{
// Shows a component as hovered: on the desktop, with the main mouse moved over it.
struct Hover
{
    explicit Hover (juce::Component& c)
        : component (c)
    {
        // Without a window manager on Xvfb the framework's windows raise harmless BadAtom errors,
        // and Xlib's default error handler would exit.
        using Handler = int (*) (void*, void*);
        if (auto* x11 = dlopen ("libX11.so.6", RTLD_NOW))
            if (auto* setHandler = reinterpret_cast<Handler (*) (Handler)> (dlsym (x11, "XSetErrorHandler")))
                setHandler ([] (void*, void*) { return 0; });
        component.setVisible (true);
        component.addToDesktop (0);
        moveMouseTo (component.getLocalBounds().getCentre().toFloat());
    }

    ~Hover()
    {
        moveMouseTo ({ -100.0f, -100.0f });
        component.removeFromDesktop();
    }

    void moveMouseTo (juce::Point<float> position)
    {
        if (auto* peer = component.getPeer())
            peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, position, {},
                                    juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                    juce::Time::currentTimeMillis());
    }

    juce::Component& component;
};

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

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: make_artwork_panel <out.png>\n";
        return 2;
    }

    juce::ScopedJuceInitialiser_GUI gui;
    Look look;
    look.labelFontHeight = 11.7f;
    // Every widget takes the look, also the hovered ones drawn apart from the panel.
    juce::LookAndFeel::setDefaultLookAndFeel (&look);
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
                Hover hover (*c);
                g.drawImage (c->createComponentSnapshot (c->getLocalBounds(), true, 2.0f), bounds.toFloat());
            }
            panel.addAndMakeVisible (c);
            c->setBounds (bounds);
        }
    }
    panel.setLookAndFeel (nullptr);
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);

    juce::File file (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    file.deleteFile();
    juce::FileOutputStream out (file);
    if (! out.openedOk() || ! juce::PNGImageFormat().writeImageToStream (image, out))
    {
        std::cerr << "make_artwork_panel: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
