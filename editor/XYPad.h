#pragma once

#include "editor/ParameterAttachments.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

// The top layer of the equaliser graph: one draggable handle per detector band, across the width the
// band's normalised frequency, up the height its normalised gain, so the handles sit on the graph's
// own axes. A press grabs the first handle within 9 pixels; the drag writes both parameters inside
// one change gesture per parameter; a double-click on the grabbed handle returns its gain to 0 dB.
// The pad also remembers which band was grabbed last, which the band coupling reads.
class XYPad : public juce::Component
{
public:
    using BandParameters = std::pair<juce::RangedAudioParameter*, juce::RangedAudioParameter*>; // (freq, gain)

    // One band's handle. Its position follows the two parameters through attachments, which call
    // back on the message thread whoever changed them.
    class XYPadHandle
    {
    public:
        XYPadHandle (XYPad& pad, juce::RangedAudioParameter& frequency, juce::RangedAudioParameter& gain);

        XYPad& owner;
        float x = 0.0f, y = 0.0f;
        juce::RangedAudioParameter* xParam = nullptr;
        juce::RangedAudioParameter* yParam = nullptr;
        std::unique_ptr<RealtimeSafe::ParameterAttachment> xAttach, yAttach;
        std::function<void (float)> prmChangedCallback;

    private:
        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (XYPadHandle)
    };

    explicit XYPad (const std::vector<BandParameters>& bands); // band order 1, 2, 3

    void mouseMove (const juce::MouseEvent& e) override;
    void mouseDown (const juce::MouseEvent& e) override;
    void mouseDrag (const juce::MouseEvent& e) override;
    void mouseUp (const juce::MouseEvent& e) override;
    void mouseDoubleClick (const juce::MouseEvent& e) override;
    void paint (juce::Graphics& g) override;
    void resized() override;

    // The handle grabbed last (0 to 2); only a press on a handle changes it.
    int selectedIndex = 0;
    std::vector<std::unique_ptr<XYPadHandle>> handles;
    // The handle being dragged; it stays set after the release until the mouse next moves, so the
    // grab marks stay drawn and a double-click still finds it.
    XYPadHandle* grabbed = nullptr;
    juce::Path dotsPath;
    // The handles' positions as of the last paint, in handle order.
    std::vector<std::pair<float, float>> positions;
    // Centre of the grab marks while dragging, of the selection rings otherwise.
    juce::Point<float> markPos;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (XYPad)
};
