#pragma once

#include "editor/ParameterAttachments.h"

#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>

// Controls bound to one detector band's type, gain and Q that are never shown. The editor couples
// each band's type (and band 2's Q) to its gain through them: the gain slider follows the gain
// parameter on the message thread whoever changes it, and the combo box and the Q slider write the
// type and the Q back through their attachments. The visible way to edit a band is the XY pad.
class BandEditor : public juce::Component
{
public:
    BandEditor (juce::AudioProcessorValueTreeState& parameters, int band);
    ~BandEditor() override;

    void paint (juce::Graphics&) override {}
    void resized() override {}

    // The identifier of this processor's band parameter: "2Gain", or "Band2Gain" in the LV2 build.
    juce::String getPrmName (int band, const juce::String& suffix) const;

    juce::ComboBox typeBox;
    juce::Slider gainSlider, qSlider;

private:
    juce::AudioProcessorValueTreeState& apvts;
    // Declared after the controls, so they are released first.
    std::unique_ptr<RealtimeSafe::ComboBoxAttachment> typeAttachment;
    std::unique_ptr<RealtimeSafe::SliderAttachment> gainAttachment, qAttachment;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BandEditor)
};
