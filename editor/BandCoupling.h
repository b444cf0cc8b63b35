#pragma once

#include "editor/BandEditor.h"

class XYPad;

// The band coupling. While the window exists, every change of a band's gain picks the band's type
// by a -23 dB threshold: the lowest decibel of the gain range turns bands 1 and 3 into cut filters
// and band 2 into a low shelf. Band 2's Q follows as well when band 2 is the pad's selected handle.
//
// The gain sliders of the hidden band editors follow their parameters on the message thread, so the
// rules run there whoever changed the gain; the type combo boxes and band 2's Q slider write the
// results back through their attachments. The component is never given bounds: it only holds qKnob,
// the hidden holder of the Q a rule wrote last.
class BandCoupling : public juce::Component
{
public:
    // pad: the graph's handles, whose selection decides whether band 2's Q follows.
    BandCoupling (juce::AudioProcessorValueTreeState& parameters, const XYPad& pad);
    ~BandCoupling() override;

    // Applies one band's rule (1 to 3) as if its gain had just changed.
    void coupleBand (int band);

    // The Q a rule wrote last; whether band 2's rule re-sends "2Q" depends on it.
    double getHeldQ() const { return qKnob.getValue(); }

private:
    const XYPad& xyPad;
    BandEditor bandEditor1, bandEditor2, bandEditor3;
    juce::Slider qKnob;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BandCoupling)
};
