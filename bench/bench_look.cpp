// The look-and-feel: building it (typeface and nine bitmaps, decoded or from the image cache),
// drawing each kind of widget it skins at the editor's default size and at twice that (the largest
// window), and scaling a bitmap to a new size. Run under xvfb-run: the framework's desktop wants a display.

#include "editor/Look.h"

#include <BinaryData.h>
#include <benchmark/benchmark.h>

namespace
{
void lookConstructionCold (benchmark::State& state)
{
    for (auto _ : state)
    {
        state.PauseTiming();
        juce::ImageCache::releaseUnusedImages(); // the next look decodes its PNGs again
        state.ResumeTiming();
        Look look;
        benchmark::DoNotOptimize (look.knob.getWidth());
    }
}
BENCHMARK (lookConstructionCold)->Unit (benchmark::kMicrosecond);

void lookConstructionCached (benchmark::State& state)
{
    Look keeper; // holds the bitmaps, as a reopened editor finds them
    for (auto _ : state)
    {
        Look look;
        benchmark::DoNotOptimize (look.knob.getWidth());
    }
}
BENCHMARK (lookConstructionCached)->Unit (benchmark::kMicrosecond);

// Widget kinds at their size in the 900 x 530 editor.
enum Kind
{
    wideButton,
    narrowButton,
    powerButton,
    smallKnob,
    largeKnob,
    linearSlider,
    comboBox,
    label,
    menuItem,
    kinds
};

const char* const kindNames[] = { "wide button 225x39", "narrow button 34x33", "power button 33x33",
                                  "small knob 89x89",   "large knob 179x179",  "linear slider 200x36",
                                  "combo box 150x28",   "label 89x20",         "menu item 150x24" };

std::unique_ptr<juce::Component> makeWidget (int kind, int scale)
{
    std::unique_ptr<juce::Component> c;
    juce::Rectangle<int> size;
    switch (kind)
    {
        case wideButton:
        case narrowButton:
            c = std::make_unique<juce::TextButton> (kind == wideButton ? "PRESETS" : "<");
            size = kind == wideButton ? juce::Rectangle<int> (225, 39) : juce::Rectangle<int> (34, 33);
            break;
        case powerButton:
        {
            auto b = std::make_unique<juce::ImageButton>();
            const auto off = juce::ImageCache::getFromMemory (BinaryData::power_off_png, BinaryData::power_off_pngSize);
            const auto on = juce::ImageCache::getFromMemory (BinaryData::power_on_png, BinaryData::power_on_pngSize);
            b->setImages (false, true, true, off, 1.0f, {}, {}, 1.0f, {}, on, 1.0f, {});
            c = std::move (b);
            size = { 33, 33 };
            break;
        }
        case smallKnob:
        case largeKnob:
        {
            const auto large = kind == largeKnob;
            auto s =
                std::make_unique<juce::Slider> (juce::Slider::RotaryHorizontalVerticalDrag, juce::Slider::TextBoxBelow);
            s->setTextBoxStyle (juce::Slider::TextBoxBelow, true, (large ? 76 : 62) * scale, (large ? 35 : 17) * scale);
            s->setValue (0.4);
            c = std::move (s);
            size = large ? juce::Rectangle<int> (179, 179) : juce::Rectangle<int> (89, 89);
            break;
        }
        case linearSlider:
        {
            auto s = std::make_unique<juce::Slider> (juce::Slider::LinearHorizontal, juce::Slider::NoTextBox);
            s->setValue (0.6);
            c = std::move (s);
            size = { 200, 36 };
            break;
        }
        case comboBox:
        {
            auto box = std::make_unique<juce::ComboBox>();
            box->addItem ("Low shelf", 1);
            box->setSelectedId (1);
            c = std::move (box);
            size = { 150, 28 };
            break;
        }
        case label:
            c = std::make_unique<juce::Label> (juce::String(), "ATTACK");
            size = { 89, 20 };
            break;
        default:
            c = std::make_unique<juce::Component>();
            size = { 150, 24 };
            break;
    }
    c->setSize (size.getWidth() * scale, size.getHeight() * scale);
    return c;
}

void drawWidget (benchmark::State& state)
{
    const auto kind = (int) state.range (0), scale = (int) state.range (1);
    Look look;
    look.labelFontHeight = 11.7f * (float) scale;
    auto widget = makeWidget (kind, scale);
    widget->setLookAndFeel (&look);
    juce::Image image (juce::Image::ARGB, widget->getWidth(), widget->getHeight() * 2, true);

    for (auto _ : state)
    {
        juce::Graphics g (image);
        if (kind == menuItem)
            look.drawPopupMenuItem (g, widget->getLocalBounds(), false, true, true, false, true, "Vocal", {}, nullptr,
                                    nullptr);
        else
            widget->paintEntireComponent (g, false);
    }
    widget->setLookAndFeel (nullptr);
    state.SetLabel (juce::String (kindNames[kind]).toStdString() + (scale == 2 ? " at 2x" : ""));
}
BENCHMARK (drawWidget)
    ->ArgsProduct ({ benchmark::CreateDenseRange (0, kinds - 1, 1), { 1, 2 } })
    ->Unit (benchmark::kMicrosecond);

// Scaling a bitmap to the size it is shown at, which the look does once per size: the large knob in
// the default and the largest window, and the PRESETS pill's image at the button's height.
void resampleBitmap (benchmark::State& state)
{
    Look look;
    const auto& image = state.range (0) == 0 ? look.knob : look.wideOff;
    const auto height = (int) state.range (1);
    for (auto _ : state)
        benchmark::DoNotOptimize (
            Look::resampled (image, image.getWidth() * height / image.getHeight(), height).getWidth());
}
BENCHMARK (resampleBitmap)->Args ({ 0, 179 })->Args ({ 0, 358 })->Args ({ 1, 39 })->Unit (benchmark::kMicrosecond);
} // namespace

int main (int argc, char** argv)
{
    juce::ScopedJuceInitialiser_GUI framework;
    benchmark::Initialize (&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
