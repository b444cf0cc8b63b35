#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

namespace test
{
// One drawing call as it reached the graphics context.
struct Drawn
{
    enum class Kind
    {
        image,
        path,
        rect,
        line,
        glyph
    };

    Kind kind;
    juce::Rectangle<float> bounds; // where it landed, in the drawing's own coordinates
    juce::FillType fill; // the fill at the time, opacity included
    juce::Graphics::ResamplingQuality quality;
    juce::Image image; // images: what was drawn (possibly a subsection of a larger image)
    juce::Font font; // glyphs

    juce::Colour colour() const { return fill.colour; }
};

// The software renderer, logging every drawing call on the way, so a test can check what was drawn
// where (and still look at the pixels) without comparing screenshots.
class RecordingContext : public juce::LowLevelGraphicsSoftwareRenderer
{
public:
    explicit RecordingContext (const juce::Image& target)
        : juce::LowLevelGraphicsSoftwareRenderer (target)
    {}

    void fillRect (const juce::Rectangle<int>&, bool replaceExistingContents) override;
    void fillRect (const juce::Rectangle<float>&) override;
    void fillPath (const juce::Path&, const juce::AffineTransform&) override;
    void drawImage (const juce::Image&, const juce::AffineTransform&) override;
    void drawGlyph (int glyphNumber, const juce::AffineTransform&) override;
    void drawLine (const juce::Line<float>&) override;

    std::vector<Drawn> log;

    std::vector<Drawn> of (Drawn::Kind) const;

private:
    void record (Drawn::Kind, juce::Rectangle<float>, const juce::Image& = {});
};

// The area of `source` that `drawn` shows when it is `source` itself or a subsection of it (as
// juce::Graphics::drawImage makes for a source rectangle); empty when it is another image.
juce::Rectangle<int> areaWithin (const juce::Image& drawn, const juce::Image& source);

// Renders with a recording context into a fresh ARGB image of the given size.
struct Recording
{
    Recording (int width, int height);

    juce::Image image;
    RecordingContext context;
    juce::Graphics g;
};

// Puts the component on the desktop and moves the main mouse over it, so that it reports
// isMouseOverOrDragging() as a hovered widget does; undone on destruction. Needs a display.
class Hover
{
public:
    explicit Hover (juce::Component&);
    ~Hover();

private:
    juce::Component& component;
    void moveMouseTo (juce::Point<float>);
};
} // namespace test
