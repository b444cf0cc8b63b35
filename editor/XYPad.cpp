#include "editor/XYPad.h"
#include "editor/Look.h"

namespace
{
// Host wrappers pass the value a parameter is set with straight on to the host, which expects
// normalised values; the parameter itself would clamp, the host would not.
void setNormalised (juce::RangedAudioParameter& parameter, double value)
{
    parameter.setValueNotifyingHost ((float) juce::jlimit (0.0, 1.0, value));
}

constexpr float grabRadius = 9.0f;
} // namespace

//==============================================================================
XYPad::XYPadHandle::XYPadHandle (XYPad& pad, juce::RangedAudioParameter& frequency, juce::RangedAudioParameter& gain)
    : owner (pad),
      xParam (&frequency),
      yParam (&gain)
{
    // The argument is ignored: the position is read back from both parameters, so a change of
    // either one places the handle completely.
    prmChangedCallback = [this] (float) {
        x = xParam->getValue() * (float) owner.getWidth();
        y = (float) owner.getHeight() - yParam->getValue() * (float) owner.getHeight();
        owner.repaint();
    };

    // No initial update: the handle waits at (0, 0) for the pad's first layout.
    xAttach = std::make_unique<RealtimeSafe::ParameterAttachment> (*xParam, prmChangedCallback, nullptr);
    yAttach = std::make_unique<RealtimeSafe::ParameterAttachment> (*yParam, prmChangedCallback, nullptr);
}

//==============================================================================
XYPad::XYPad (const std::vector<BandParameters>& bands)
{
    setPaintingIsUnclipped (true);

    for (const auto& [frequency, gain] : bands)
    {
        // A missing parameter is a wiring mistake; the band is left without a handle rather than
        // dereferencing null.
        jassert (frequency != nullptr && gain != nullptr);

        if (frequency != nullptr && gain != nullptr)
            handles.push_back (std::make_unique<XYPadHandle> (*this, *frequency, *gain));
    }
}

void XYPad::mouseMove (const juce::MouseEvent&)
{
    if (grabbed != nullptr)
    {
        grabbed = nullptr;
        repaint();
    }
}

void XYPad::mouseDown (const juce::MouseEvent& e)
{
    // With no area there is no position to turn into a value.
    if (getWidth() <= 0 || getHeight() <= 0)
        return;

    const juce::Point<float> mouse ((float) e.x, (float) e.y);

    for (auto& handle : handles)
    {
        if (juce::Point<float> (handle->x, handle->y).getDistanceFrom (mouse) >= grabRadius)
            continue;

        grabbed = handle.get();
        grabbed->xParam->beginChangeGesture();
        grabbed->yParam->beginChangeGesture();
        repaint();

        markPos = { grabbed->x, grabbed->y };

        // Handles at the same frequency select the lower band of the two.
        for (size_t i = 0; i < positions.size(); ++i)
        {
            if (positions[i].first == grabbed->x)
            {
                selectedIndex = (int) i;
                break;
            }
        }

        // Tell the gain's listeners and the host about the grab even without movement: a tenth of
        // a pixel up and straight back. The first change moves the handle at once, so the way back
        // starts from the position taken before it.
        const auto y = grabbed->y;
        const auto h = getHeight();
        setNormalised (*grabbed->yParam, 1.0 - ((double) y - 0.1) / (double) h);
        setNormalised (*grabbed->yParam, 1.0f - y / (float) h);
        return;
    }
}

void XYPad::mouseDrag (const juce::MouseEvent& e)
{
    if (grabbed == nullptr || getWidth() <= 0 || getHeight() <= 0)
        return;

    setNormalised (*grabbed->xParam, e.position.x / (float) getWidth());
    setNormalised (*grabbed->yParam, 1.0f - e.position.y / (float) getHeight());
    markPos = e.position;
    repaint();
}

void XYPad::mouseUp (const juce::MouseEvent&)
{
    if (grabbed == nullptr)
        return;

    grabbed->xParam->endChangeGesture();
    grabbed->yParam->endChangeGesture();
}

void XYPad::mouseDoubleClick (const juce::MouseEvent&)
{
    // The middle of the gain range is 0 dB.
    if (grabbed != nullptr)
        grabbed->yParam->setValueNotifyingHost (0.5f);
}

void XYPad::paint (juce::Graphics& g)
{
    dotsPath.clear();
    positions.clear();

    for (auto& handle : handles)
    {
        positions.emplace_back (handle->x, handle->y);
        dotsPath.addEllipse (handle->x - 4.0f, handle->y - 4.0f, 8.0f, 8.0f);
    }

    g.setColour (whitePelko);
    g.fillPath (dotsPath);

    const auto ring = [&g] (juce::Point<float> centre, float diameter, float thickness) {
        g.drawEllipse (centre.x - diameter * 0.5f, centre.y - diameter * 0.5f, diameter, diameter, thickness);
    };

    if (grabbed != nullptr)
    {
        g.setColour (whitePelko);
        ring (markPos, 4.5f, 1.0f);
        g.setColour (whiteLightPelko);
        ring (markPos, 13.5f, 8.0f);
        g.setColour (purplePelko);
        ring ({ grabbed->x, grabbed->y }, 18.0f, 3.0f);
    }

    if (! juce::isPositiveAndBelow (selectedIndex, (int) positions.size()))
        return;

    markPos = { positions[(size_t) selectedIndex].first, positions[(size_t) selectedIndex].second };
    g.setColour (purpleTransChord);
    ring (markPos, 13.5f, 5.0f);
    g.setColour (greyWhitePelko);
    ring (markPos, 9.0f, 5.0f);
}

void XYPad::resized()
{
    // Everyone listening hears the current values again; through the attachments every handle
    // takes its place for the new size.
    for (auto& handle : handles)
    {
        handle->xParam->sendValueChangedMessageToListeners (handle->xParam->getValue());
        handle->yParam->sendValueChangedMessageToListeners (handle->yParam->getValue());
    }
}
