#include "support/RecordingContext.h"

#include "tools/host/XErrors.h"

namespace test
{
void RecordingContext::record (Drawn::Kind kind, juce::Rectangle<float> bounds, const juce::Image& image)
{
    log.push_back ({ kind, bounds, stack->fillType, stack->interpolationQuality, image, stack->font });
}

void RecordingContext::fillRect (const juce::Rectangle<int>& r, bool replace)
{
    record (Drawn::Kind::rect, r.toFloat());
    LowLevelGraphicsSoftwareRenderer::fillRect (r, replace);
}

void RecordingContext::fillRect (const juce::Rectangle<float>& r)
{
    record (Drawn::Kind::rect, r);
    LowLevelGraphicsSoftwareRenderer::fillRect (r);
}

void RecordingContext::fillPath (const juce::Path& path, const juce::AffineTransform& t)
{
    record (Drawn::Kind::path, path.getBoundsTransformed (t));
    LowLevelGraphicsSoftwareRenderer::fillPath (path, t);
}

void RecordingContext::drawImage (const juce::Image& image, const juce::AffineTransform& t)
{
    record (Drawn::Kind::image, image.getBounds().toFloat().transformedBy (t), image);
    LowLevelGraphicsSoftwareRenderer::drawImage (image, t);
}

void RecordingContext::drawGlyph (int glyphNumber, const juce::AffineTransform& t)
{
    record (Drawn::Kind::glyph, { t.getTranslationX(), t.getTranslationY(), 0.0f, 0.0f });
    LowLevelGraphicsSoftwareRenderer::drawGlyph (glyphNumber, t);
}

void RecordingContext::drawLine (const juce::Line<float>& line)
{
    record (Drawn::Kind::line, juce::Rectangle<float> (line.getStart(), line.getEnd()));
    LowLevelGraphicsSoftwareRenderer::drawLine (line);
}

std::vector<Drawn> RecordingContext::of (Drawn::Kind kind) const
{
    std::vector<Drawn> found;
    for (const auto& d : log)
        if (d.kind == kind)
            found.push_back (d);
    return found;
}

juce::Rectangle<int> areaWithin (const juce::Image& drawn, const juce::Image& source)
{
    if (! drawn.isValid() || ! source.isValid())
        return {};

    const juce::Image::BitmapData d (drawn, juce::Image::BitmapData::readOnly);
    const juce::Image::BitmapData s (source, juce::Image::BitmapData::readOnly);
    const auto offset = d.data - s.data;

    if (offset < 0 || offset >= (ptrdiff_t) s.lineStride * s.height || d.lineStride != s.lineStride)
        return {};

    return { (int) (offset % s.lineStride) / s.pixelStride, (int) (offset / s.lineStride), drawn.getWidth(),
             drawn.getHeight() };
}

Recording::Recording (int width, int height)
    : image (juce::Image::ARGB, width, height, true, juce::SoftwareImageType()),
      context (image),
      g (context)
{}

Hover::Hover (juce::Component& c)
    : component (c)
{
    hostkit::tolerateXErrors();
    component.setVisible (true);
    component.addToDesktop (0);
    moveMouseTo (component.getLocalBounds().getCentre().toFloat());
}

Hover::~Hover()
{
    moveMouseTo ({ -100.0f, -100.0f });
    component.removeFromDesktop();
}

void Hover::moveMouseTo (juce::Point<float> position)
{
    if (auto* peer = component.getPeer())
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, position, {},
                                juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                juce::Time::currentTimeMillis());
}
} // namespace test
