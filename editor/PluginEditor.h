#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include "editor/BandEditor.h"
#include "editor/Frame.h"
#include "editor/FrequencyCurve.h"
#include "editor/Look.h"
#include "editor/Meter.h"
#include "editor/ParameterAttachments.h"
#include "editor/SpectrumAnalyzer.h"
#include "editor/XYPad.h"

#include <array>
#include <memory>

class MorvikAudioProcessor;

// The plug-in's window: the rotary controls and the power switch bound to the parameter tree, the
// history meter fed from a 33 ms timer, the equaliser graph with its analyser and band handles, and
// the preset browser. The host may resize it within fixed limits at a fixed aspect ratio; it reopens
// at the size it last had. While it exists the processor feeds the analyser.
//
// Everything is public: the pieces built in their own files (band coupling, preset browser) and the
// tests reach the members directly. The members' order matters: each attachment is declared after
// its control, so it goes first when the window closes.
class MorvikAudioProcessorEditor final : public juce::AudioProcessorEditor,
                                         public juce::Button::Listener,
                                         public juce::Timer
{
public:
    MorvikAudioProcessorEditor (MorvikAudioProcessor& p, juce::AudioProcessorValueTreeState& vts);
    ~MorvikAudioProcessorEditor() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void buttonClicked (juce::Button* button) override;
    void timerCallback() override;

    // The common shape of every rotary control and of the label above it.
    void createSlider (juce::Slider& slider, juce::String suffix);
    void createLabel (juce::Label& label, juce::String text, juce::Component* owner);

    // Band coupling (PluginEditorBands.cpp): installs the gain sliders' and qKnob's handlers, and
    // applies one band's rule as if its gain had just changed.
    void installBandCoupling();
    void coupleBand (int band);

    // Preset browser (PluginEditorPresets.cpp): installs the three buttons' handlers, and rebuilds
    // the list of factory preset files.
    void installPresetBrowser();
    void loadPresetFiles();

    // ---- preset browser helpers ----
    // The *.mrv entries of a presets folder, hidden ones left out, sorted by path ignoring case.
    static juce::Array<juce::File> listPresetFolder (const juce::File& presetFolder);
    // The name a preset shows: its file name without extension from the third character on.
    static juce::String presetDisplayName (const juce::File& preset);
    // The PRESETS menu's result handler; files is the list the menu was built from, result the
    // chosen item id (0 when dismissed). Does nothing once the editor is gone.
    static void presetMenuClosed (juce::Component::SafePointer<MorvikAudioProcessorEditor> editor,
                                  const juce::Array<juce::File>& files, int result);
    void presetButtonClicked();
    void stepPreset (int direction); // +1 for ">", -1 for "<"
    void showPresetCaption();
    void clearPresetMenus();
    // ---- end of preset browser helpers ----

    using SliderAttachment = RealtimeSafe::SliderAttachment;
    using ButtonAttachment = RealtimeSafe::ButtonAttachment;

    MorvikAudioProcessor& audioProcessor;
    juce::AudioProcessorValueTreeState& apvts;

    Look look;
    juce::Image logoImage;
    juce::ColourGradient windowGradient;
    juce::ColourGradient panelGradient;
    juce::Image textureImage;

    Meter meter;
    Frame frame;
    SpectrumAnalyzer spectrumAnalyzer;
    FrequencyCurve frequencyCurve;
    XYPad xyPad;
    BandEditor bandEditor1, bandEditor2, bandEditor3;
    juce::Slider qKnob;

    juce::Label sidechainLabel;

    juce::Slider makeupSlider;
    juce::Label makeupLabel;
    std::unique_ptr<SliderAttachment> makeupAttachment;

    juce::Slider characterSlider;
    juce::Label characterLabel;
    std::unique_ptr<SliderAttachment> characterAttachment;

    juce::Slider compressSlider;
    juce::Label compressLabel;
    std::unique_ptr<SliderAttachment> compressAttachment;

    juce::Slider ratioSlider;
    juce::Label ratioLabel;
    std::unique_ptr<SliderAttachment> ratioAttachment;

    juce::Slider attackSlider;
    juce::Label attackLabel;
    std::unique_ptr<SliderAttachment> attackAttachment;

    juce::Slider releaseSlider;
    juce::Label releaseLabel;
    std::unique_ptr<SliderAttachment> releaseAttachment;

    juce::Slider mixSlider;
    juce::Label mixLabel;
    std::unique_ptr<SliderAttachment> mixAttachment;

    juce::Slider smoothSlider;
    juce::Label smoothLabel;
    std::unique_ptr<SliderAttachment> smoothAttachment;

    juce::Slider stereoLinkSlider;
    juce::Label stereoLinkLabel;

    juce::TextButton presetButton, previousPresetButton, nextPresetButton;
    juce::ImageButton powerButton;

    juce::PopupMenu presetMenu;
    std::unique_ptr<juce::Timer> presetMenuGrace; // clears presetMenu a while after it closed
    std::array<juce::PopupMenu, 6> categoryMenus;
    juce::Array<juce::File> presetFiles;
    int currentPresetIndex = 0;

    std::unique_ptr<ButtonAttachment> powerAttachment;

    // The (frequency, gain) parameters of bands 1 to 3 for the XY pad, under the identifiers of the
    // format the processor was built for.
    static std::vector<XYPad::BandParameters> bandHandleParameters (MorvikAudioProcessor& p,
                                                                    juce::AudioProcessorValueTreeState& vts);

private:
    // Draws the window's background (gradients, panels, meter ring, graph border, logo).
    void paintBackground (juce::Graphics& g);

    // paint copies the background from here; it is redrawn after a resize or a change of artwork.
    juce::Image backgroundCache, backgroundCacheTexture, backgroundCacheLogo;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MorvikAudioProcessorEditor)
};
