#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/BandCoupling.h"
#include "editor/Frame.h"
#include "editor/FrequencyCurve.h"
#include "editor/Look.h"
#include "editor/Meter.h"
#include "editor/ParameterAttachments.h"
#include "editor/PresetBrowser.h"
#include "editor/SpectrumAnalyzer.h"
#include "editor/XYPad.h"

#include <array>
#include <memory>

class MorvikAudioProcessor;

// The plug-in's window: the rotary controls and the power switch bound to the parameter tree, the
// history meter fed from a 33 ms timer, the equaliser graph with its analyser and band handles, the
// band coupling and the preset browser. The host may resize it within fixed limits at a fixed aspect
// ratio; it reopens at the size it last had. While it exists the processor feeds the analyser.
//
// The members' order matters: each attachment is declared after its control, so it goes first when
// the window closes.
class MorvikAudioProcessorEditor final : public juce::AudioProcessorEditor,
                                         public juce::Button::Listener,
                                         public juce::Timer
{
public:
    // The rotary controls, in the order they are built and stacked.
    enum class Knob
    {
        makeup,
        character,
        compress,
        ratio,
        attack,
        release,
        mix,
        smooth,
        stereoLink
    };

    MorvikAudioProcessorEditor (MorvikAudioProcessor& p, juce::AudioProcessorValueTreeState& vts);
    ~MorvikAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    // The power switch: the meter shows nothing while it is off.
    void buttonClicked (juce::Button* button) override;
    // The 33 ms tick: hands the meter the processor's newest values and redraws a stale curve.
    void timerCallback() override;

    // The window's parts.
    juce::Slider& getKnob (Knob knob) noexcept { return knobs[(size_t) knob].slider; }
    juce::Button& getPowerButton() noexcept { return powerButton; }
    Meter& getMeter() noexcept { return meter; }
    Frame& getGraph() noexcept { return frame; }
    SpectrumAnalyzer& getSpectrumAnalyzer() noexcept { return spectrumAnalyzer; }
    FrequencyCurve& getFrequencyCurve() noexcept { return frequencyCurve; }
    XYPad& getXYPad() noexcept { return xyPad; }
    BandCoupling& getBandCoupling() noexcept { return bandCoupling; }
    PresetBrowser& getPresetBrowser() noexcept { return presetBrowser; }

    // The panel texture and the logo painted behind the controls; the window opens with its own.
    void setArtwork (juce::Image panelTexture, juce::Image logo);

    // The (frequency, gain) parameters of bands 1 to 3 for the XY pad, under the identifiers of the
    // format the processor was built for.
    static std::vector<XYPad::BandParameters> bandHandleParameters (MorvikAudioProcessor& p,
                                                                    juce::AudioProcessorValueTreeState& vts);

private:
    // One rotary control: the knob, its caption and its link to a parameter (none for STEREO LINK).
    struct KnobParts
    {
        juce::Slider slider;
        juce::Label label;
        std::unique_ptr<RealtimeSafe::SliderAttachment> attachment;
    };

    KnobParts& knob (Knob which) noexcept { return knobs[(size_t) which]; }
    // Draws the window's background (gradients, panels, meter ring, graph border, logo).
    void paintBackground (juce::Graphics& g);

    MorvikAudioProcessor& audioProcessor;
    juce::AudioProcessorValueTreeState& apvts;

    Look look;
    juce::Image logoImage;
    juce::ColourGradient windowGradient;
    juce::ColourGradient panelGradient;
    juce::Image textureImage;

    PresetBrowser presetBrowser;
    Meter meter;
    Frame frame;
    SpectrumAnalyzer spectrumAnalyzer;
    FrequencyCurve frequencyCurve;
    XYPad xyPad;
    BandCoupling bandCoupling;

    juce::Label sidechainLabel;
    std::array<KnobParts, 9> knobs;
    juce::ImageButton powerButton;
    std::unique_ptr<RealtimeSafe::ButtonAttachment> powerAttachment;

    // paint copies the background from here; it is redrawn after a resize or a change of artwork.
    juce::Image backgroundCache, backgroundCacheTexture, backgroundCacheLogo;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MorvikAudioProcessorEditor)
};
