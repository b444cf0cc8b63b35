#include "editor/PluginEditor.h"
#include "editor/EmbeddedImage.h"
#include "engine/ParameterIds.h"
#include "engine/PluginProcessor.h"

#include <BinaryData.h>

// The processor's factory for its editor lives here, so that the processor's files never name the
// editor.
juce::AudioProcessorEditor* MorvikAudioProcessor::createEditor()
{
    return new MorvikAudioProcessorEditor (*this, apvts);
}

std::vector<XYPad::BandParameters>
    MorvikAudioProcessorEditor::bandHandleParameters (MorvikAudioProcessor& p, juce::AudioProcessorValueTreeState& vts)
{
    // The LV2 build names band parameters differently (see ParameterIds::band).
    const bool lv2Names = p.wrapperType == juce::AudioProcessor::wrapperType_LV2;
    std::vector<XYPad::BandParameters> parameters;

    for (int band = 1; band <= 3; ++band)
        parameters.emplace_back (vts.getParameter (ParameterIds::band (band, ParameterIds::bandFreq, lv2Names)),
                                 vts.getParameter (ParameterIds::band (band, ParameterIds::bandGain, lv2Names)));

    return parameters;
}

MorvikAudioProcessorEditor::MorvikAudioProcessorEditor (MorvikAudioProcessor& p,
                                                        juce::AudioProcessorValueTreeState& vts)
    : juce::AudioProcessorEditor (p),
      audioProcessor (p),
      apvts (vts),
      meter(),
      frame(),
      spectrumAnalyzer (p),
      frequencyCurve (p),
      xyPad (bandHandleParameters (p, vts)),
      bandEditor1 (vts, 1),
      bandEditor2 (vts, 2),
      bandEditor3 (vts, 3)
{
    // First, so that the first layout already measures the labels in the look's font.
    setLookAndFeel (&look);

    // The power switch: its "down" image is the lit one, which an image button also shows while
    // toggled on.
    powerButton.setImages (false, true, true, embeddedImage (BinaryData::power_off_png, BinaryData::power_off_pngSize),
                           1.0f, juce::Colours::transparentBlack, juce::Image(), 1.0f, juce::Colours::transparentBlack,
                           embeddedImage (BinaryData::power_on_png, BinaryData::power_on_pngSize), 1.0f,
                           juce::Colours::transparentBlack, 0.0f);

    presetButton.setButtonText ("PRESETS");
    previousPresetButton.setButtonText ("<");
    nextPresetButton.setButtonText (">");

    for (auto* button : { &presetButton, &previousPresetButton, &nextPresetButton })
    {
        button->setColour (juce::TextButton::textColourOffId, blackUltraPelko);
        button->setColour (juce::TextButton::textColourOnId, greyWhitePelko);
    }

    addAndMakeVisible (presetButton);
    addAndMakeVisible (previousPresetButton);
    addAndMakeVisible (nextPresetButton);
    addAndMakeVisible (meter);
    meter.needle.setMode (0);

    addAndMakeVisible (sidechainLabel);
    sidechainLabel.setText ("SIDECHAIN", juce::dontSendNotification);
    sidechainLabel.setVisible (true);
    sidechainLabel.setJustificationType (juce::Justification::centred);

    const auto attach = [this] (juce::Slider& slider, const char* parameterId) {
        return std::make_unique<SliderAttachment> (audioProcessor.apvts, parameterId, slider);
    };

    createSlider (makeupSlider, {});
    createLabel (makeupLabel, "MAKEUP", &makeupSlider);
    makeupAttachment = attach (makeupSlider, ParameterIds::makeup);

    createSlider (characterSlider, {});
    createLabel (characterLabel, "CHARACTER", &characterSlider);
    characterAttachment = attach (characterSlider, ParameterIds::character);

    // The threshold knob sits in the middle of the meter: its label is a free one above the meter,
    // and its value text is hidden so that it does not cover the plot.
    createSlider (compressSlider, {});
    addAndMakeVisible (compressLabel);
    compressLabel.setVisible (true);
    compressLabel.setText ("COMPRESS", juce::dontSendNotification);
    compressLabel.setJustificationType (juce::Justification::centred);
    compressSlider.setColour (juce::Slider::textBoxTextColourId, transparentPelko);
    compressAttachment = attach (compressSlider, ParameterIds::compress);

    createSlider (ratioSlider, {});
    createLabel (ratioLabel, "RATIO", &ratioSlider);
    ratioAttachment = attach (ratioSlider, ParameterIds::ratio);

    createSlider (attackSlider, {});
    createLabel (attackLabel, "ATTACK", &attackSlider);
    attackAttachment = attach (attackSlider, ParameterIds::attack);

    createSlider (releaseSlider, {});
    createLabel (releaseLabel, "RELEASE", &releaseSlider);
    releaseAttachment = attach (releaseSlider, ParameterIds::release);

    createSlider (mixSlider, {});
    createLabel (mixLabel, "MIX", &mixSlider);
    mixAttachment = attach (mixSlider, ParameterIds::mix);

    createSlider (smoothSlider, {});
    createLabel (smoothLabel, "SMOOTH", &smoothSlider);
    smoothAttachment = attach (smoothSlider, ParameterIds::smooth);

    // STEREO LINK is shown at a fixed 50 % and bound to nothing: the compressor always links the
    // channels that way.
    createSlider (stereoLinkSlider, {});
    createLabel (stereoLinkLabel, "STEREO LINK", &stereoLinkSlider);
    stereoLinkSlider.setRange (0.0, 100.0, 1.0);
    stereoLinkSlider.setValue (MorvikAudioProcessor::stereoLinkPercent, juce::dontSendNotification);
    stereoLinkSlider.setTextValueSuffix (" %");
    stereoLinkSlider.setEnabled (false);
    stereoLinkSlider.setAlpha (0.5f);

    createSlider (qKnob, {});

    addAndMakeVisible (powerButton);
    powerButton.setClickingTogglesState (true);
    presetButton.setClickingTogglesState (true);
    powerButton.setToggleState (true, juce::dontSendNotification);
    powerAttachment = std::make_unique<ButtonAttachment> (apvts, ParameterIds::power, powerButton);
    powerButton.addListener (this);

    installBandCoupling();
    installPresetBrowser();

    setOpaque (true);
    setWantsKeyboardFocus (true);
    setPaintingIsUnclipped (true);

    addAndMakeVisible (frame);
    frame.addAndMakeVisible (spectrumAnalyzer);
    frame.addAndMakeVisible (frequencyCurve);
    frame.addAndMakeVisible (xyPad);

    // Each tick moves the meter's history on by one place, about 30 times a second.
    constexpr int meterTickMs = 33;
    startTimer (meterTickMs);

    setResizable (true, false);
    getConstrainer()->setFixedAspectRatio (900.0f / 530.0f);
    setSize (audioProcessor.editorWidth, audioProcessor.editorHeight);
    setResizeLimits (450, 265, 1800, 1060);

    // One second of mono detector signal for the analyser (48000 samples while no rate is known).
    // The processor sizes the feed under the lock its audio thread only tries, and the flag goes up
    // last, so the audio thread never writes into a buffer being resized.
    const double rate = audioProcessor.sampleRate.load();
    audioProcessor.resizeAnalyserFeed (rate > 0.0 ? (int) rate : 48000);
    audioProcessor.analyserEnabled.store (true);

    coupleBand (1);

    textureImage = embeddedImage (BinaryData::panel_texture_jpg, BinaryData::panel_texture_jpgSize);
    logoImage = embeddedImage (BinaryData::logo_png, BinaryData::logo_pngSize);
}

MorvikAudioProcessorEditor::~MorvikAudioProcessorEditor()
{
    juce::PopupMenu::dismissAllActiveMenus();
    setLookAndFeel (nullptr);
    audioProcessor.analyserEnabled.exchange (false);
    stopTimer();
}

void MorvikAudioProcessorEditor::timerCallback()
{
    const float gainReduction = audioProcessor.gainReductionMeter.load();
    const float inputLevel = audioProcessor.inputLevelMeter.load();
    auto& historyA = meter.needle.historyA;
    auto& historyB = meter.needle.historyB;

    // Every tick moves the plot on by one place, so its time axis stays even whether or not the
    // values change.
    std::copy_backward (historyA.begin(), historyA.end() - 1, historyA.end());
    historyA[0] = gainReduction;
    std::copy_backward (historyB.begin(), historyB.end() - 1, historyB.end());
    historyB[0] = inputLevel;
    meter.needle.repaint();

    if (frequencyCurve.rebuildIfStale())
        frame.repaint();
}

void MorvikAudioProcessorEditor::buttonClicked (juce::Button* button)
{
    if (button != &powerButton)
        return;

    meter.setEnabled (powerButton.getToggleState());
    meter.needle.historyA.fill (0.0f);
    meter.needle.historyB.fill (0.0f);
    meter.needle.repaint();
    meter.background.repaint();
}
