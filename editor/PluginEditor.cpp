#include "editor/PluginEditor.h"
#include "engine/dsp/ParameterIds.h"
#include "engine/plugin/PluginProcessor.h"

#include <BinaryData.h>

#include <iterator>
#include <utility>

namespace
{
juce::Image embeddedImage (const char* data, int size) { return juce::ImageCache::getFromMemory (data, size); }

// The rotary controls in the order of MorvikAudioProcessorEditor::Knob: the parameter each is bound
// to (none for STEREO LINK), its caption, and its size and its value box's size in knob units.
constexpr struct
{
    const char* parameterId;
    const char* caption;
    double size, boxWidth, boxHeight;
} knobTable[] = {
    { ParameterIds::makeup, "MAKEUP", 2.0, 0.85, 0.4 },    { ParameterIds::character, "CHARACTER", 2.0, 0.85, 0.4 },
    { ParameterIds::compress, "COMPRESS", 1.4, 0.8, 0.3 }, { ParameterIds::ratio, "RATIO", 1.0, 0.7, 0.2 },
    { ParameterIds::attack, "ATTACK", 1.0, 0.7, 0.2 },     { ParameterIds::release, "RELEASE", 1.0, 0.7, 0.2 },
    { ParameterIds::mix, "MIX", 1.0, 0.7, 0.2 },           { ParameterIds::smooth, "SMOOTH", 1.3, 0.85, 0.25 },
    { nullptr, "STEREO LINK", 1.3, 0.85, 0.25 },
};
} // namespace

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
      presetBrowser (p),
      spectrumAnalyzer (p),
      frequencyCurve (p),
      xyPad (bandHandleParameters (p, vts)),
      bandCoupling (vts, xyPad)
{
    // First, so that the first layout already measures the labels in the look's font.
    setLookAndFeel (&look);

    // The power switch: its "down" image is the lit one, which an image button also shows while
    // toggled on.
    powerButton.setImages (false, true, true, embeddedImage (BinaryData::power_off_png, BinaryData::power_off_pngSize),
                           1.0f, juce::Colours::transparentBlack, juce::Image(), 1.0f, juce::Colours::transparentBlack,
                           embeddedImage (BinaryData::power_on_png, BinaryData::power_on_pngSize), 1.0f,
                           juce::Colours::transparentBlack, 0.0f);

    addAndMakeVisible (presetBrowser);
    addAndMakeVisible (meter);

    addAndMakeVisible (sidechainLabel);
    sidechainLabel.setText ("SIDECHAIN", juce::dontSendNotification);
    sidechainLabel.setJustificationType (juce::Justification::centred);

    static_assert (std::size (knobTable) == std::tuple_size_v<decltype (knobs)>);

    for (size_t i = 0; i < knobs.size(); ++i)
    {
        auto& [slider, label, attachment] = knobs[i];
        addAndMakeVisible (slider);
        slider.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
        slider.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 60, 15);
        slider.setTextBoxIsEditable (true);

        addAndMakeVisible (label);
        label.setText (knobTable[i].caption, juce::dontSendNotification);
        label.setJustificationType (juce::Justification::centred);

        // The threshold knob sits in the middle of the meter: its label is a free one above the
        // meter, and its value text is hidden so that it does not cover the plot. Every other
        // label sits on its knob.
        if (i == (size_t) Knob::compress)
            slider.setColour (juce::Slider::textBoxTextColourId, transparentPelko);
        else
            label.attachToComponent (&slider, false);

        if (knobTable[i].parameterId != nullptr)
            attachment = std::make_unique<RealtimeSafe::SliderAttachment> (apvts, knobTable[i].parameterId, slider);
    }

    // STEREO LINK is shown at a fixed 50 % and bound to nothing: the compressor always links the
    // channels that way.
    auto& stereoLink = knob (Knob::stereoLink).slider;
    stereoLink.setRange (0.0, 100.0, 1.0);
    stereoLink.setValue (MorvikAudioProcessor::stereoLinkPercent, juce::dontSendNotification);
    stereoLink.setTextValueSuffix (" %");
    stereoLink.setEnabled (false);
    stereoLink.setAlpha (0.5f);

    addAndMakeVisible (bandCoupling);

    addAndMakeVisible (powerButton);
    powerButton.setClickingTogglesState (true);
    powerButton.setToggleState (true, juce::dontSendNotification);
    powerAttachment = std::make_unique<RealtimeSafe::ButtonAttachment> (apvts, ParameterIds::power, powerButton);
    powerButton.addListener (this);

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

    bandCoupling.coupleBand (1);

    setArtwork (embeddedImage (BinaryData::panel_texture_jpg, BinaryData::panel_texture_jpgSize),
                embeddedImage (BinaryData::logo_png, BinaryData::logo_pngSize));
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
    meter.pushValues (audioProcessor.gainReductionMeter.load(), audioProcessor.inputLevelMeter.load());

    if (frequencyCurve.rebuildIfStale())
        frame.repaint();
}

void MorvikAudioProcessorEditor::buttonClicked (juce::Button* button)
{
    if (button != &powerButton)
        return;

    meter.setEnabled (powerButton.getToggleState());
    meter.clearHistory();
}

void MorvikAudioProcessorEditor::setArtwork (juce::Image panelTexture, juce::Image logo)
{
    textureImage = std::move (panelTexture);
    logoImage = std::move (logo);
    repaint();
}

// The geometry: one proportional formula set places every control at any window size.
void MorvikAudioProcessorEditor::resized()
{
    const int W = getWidth();
    const int H = getHeight();

    // The next editor of this processor opens at this size.
    audioProcessor.editorWidth = W;
    audioProcessor.editorHeight = H;

    // Units. W / 8 is an integer division on purpose: widths a few pixels apart share one layout.
    const double u = (double) (W / 8) * 0.8; // small knob
    const double m = (W - 8.0 * u) / 9.0; // gap between knob columns
    const int r = (int) (0.156 * H); // top of the first knob row
    const int s = (int) (0.37 * u); // small buttons, title labels
    const int t = (int) (0.08 * r); // top of the button row

    // Attached labels take their height from this font whenever their control moves, so it is set
    // before any bounds.
    look.labelFontHeight = (float) W * 0.013f;

    backgroundCache = {};
    windowGradient = juce::ColourGradient (juce::Colour (0xFFC8ABEE), (float) (0.25 * W), (float) (0.06 * H),
                                           juce::Colour (0xFF4A2459), (float) (0.85 * W), (float) (0.99 * H), true);
    panelGradient = juce::ColourGradient (juce::Colour (0xFFA5B4BC), (float) (0.3 * W), (float) (0.15 * H),
                                          blackUltraPelko, (float) (0.75 * W), (float) (1.1 * H), true);

    // The button row: the preset browser in the middle, the power switch on the right.
    const juce::Rectangle<int> presets ((int) (0.375 * W), (int) (0.08 * r - 0.1 * s), (int) (0.25 * W),
                                        (int) (1.2 * s));
    presetBrowser.setButtonBounds (presets, { (int) (presets.getX() - 1.106 * s), t, (int) (1.06 * s), s },
                                   { (int) (presets.getRight() + 0.106 * s), t, (int) (1.06 * s), s });
    powerButton.setBounds ((int) (0.92 * W), t, s, s);

    // Knobs are square, as large as the table says; each value box scales with its knob and is
    // read-only from the first layout on.
    const auto place = [this, u] (Knob which, double x, double y) -> juce::Slider& {
        auto& slider = knob (which).slider;
        const auto& entry = knobTable[(size_t) which];
        const auto size = (int) (entry.size * u);
        slider.setBounds ((int) x, (int) y, size, size);
        slider.setTextBoxStyle (juce::Slider::TextBoxBelow, true, (int) (entry.boxWidth * u),
                                (int) (entry.boxHeight * u));
        return slider;
    };

    // The compressor section: five columns (Attack, Character, the meter with Compress at its
    // centre, Makeup, Ratio), Release under Attack and Mix under Ratio. Attack anchors it all.
    const auto& attack = place (Knob::attack, (int) (2.6 * m), r);
    const auto rowTop = knob (Knob::attack).label.getY();
    const auto& character = place (Knob::character, attack.getRight() + 0.5 * m, rowTop + 0.55 * u);
    meter.setBounds ((int) (character.getRight() + 0.5 * m + 0.08 * u), (int) (rowTop + 0.2 * u), (int) (2.3 * u),
                     (int) (2.3 * u));
    place (Knob::compress, meter.getX() + 0.5 * meter.getWidth() - 0.7 * u,
           meter.getY() + 0.5 * meter.getHeight() - 0.55 * u);
    knob (Knob::compress).label.setBounds (meter.getX(), meter.getY() - s, meter.getWidth(), s);
    const auto& makeup = place (Knob::makeup, meter.getRight() + 0.5 * m, rowTop + 0.55 * u);
    const auto& ratio = place (Knob::ratio, makeup.getRight() + 0.5 * m, attack.getY());
    place (Knob::release, attack.getX(), attack.getBottom() + 2 * m);
    const auto& mix = place (Knob::mix, ratio.getX(), ratio.getBottom() + 2 * m);

    // The side-chain section: the graph under the middle, Smooth to its left, STEREO LINK to its right.
    frame.setBounds ((int) (0.3 * W), (int) (mix.getBottom() + 0.648 * u), (int) (0.4 * W), (int) (1.5 * u));
    spectrumAnalyzer.setBounds (frame.getLocalBounds());
    frequencyCurve.setBounds (frame.getLocalBounds());
    xyPad.setBounds (frame.getLocalBounds());
    sidechainLabel.setBounds (frame.getX(), frame.getY() - s, frame.getWidth(), s);
    place (Knob::smooth, frame.getX() - 1.5 * u, frame.getY() + 0.2 * u);
    place (Knob::stereoLink, frame.getRight() + 0.2 * u, frame.getY() + 0.2 * u);
}

void MorvikAudioProcessorEditor::paint (juce::Graphics& g)
{
    // The background only changes with the size (and the artwork), while a full repaint at the
    // largest size would spend most of its time on the two radial gradients and the texture. So it
    // is drawn once into an image at the display's pixel scale and copied from there.
    const float scale = g.getInternalContext().getPhysicalPixelScaleFactor();
    const int width = juce::roundToInt ((float) getWidth() * scale);
    const int height = juce::roundToInt ((float) getHeight() * scale);

    if (width <= 0 || height <= 0)
        return;

    if (backgroundCache.getWidth() != width || backgroundCache.getHeight() != height
        || backgroundCacheTexture != textureImage || backgroundCacheLogo != logoImage)
    {
        backgroundCache = juce::Image (juce::Image::RGB, width, height, false, juce::SoftwareImageType());
        juce::Graphics cacheGraphics (backgroundCache);
        cacheGraphics.addTransform (
            juce::AffineTransform::scale ((float) width / (float) getWidth(), (float) height / (float) getHeight()));
        paintBackground (cacheGraphics);
        backgroundCacheTexture = textureImage;
        backgroundCacheLogo = logoImage;
    }

    if (width == getWidth() && height == getHeight())
        g.drawImageAt (backgroundCache, 0, 0);
    else
        g.drawImage (backgroundCache, getLocalBounds().toFloat());
}

void MorvikAudioProcessorEditor::paintBackground (juce::Graphics& g)
{
    const auto& attack = knob (Knob::attack);
    const auto& smoothLabel = knob (Knob::smooth).label;
    const auto& mix = knob (Knob::mix).slider;
    const auto& stereoLink = knob (Knob::stereoLink).slider;
    const int p = (int) (0.174 * attack.slider.getX()); // panel padding

    g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
    g.setGradientFill (windowGradient);
    g.fillAll();

    // The compressor panel around the knob rows, and the side-chain panel around the graph.
    const juce::Rectangle<float> panelA ((float) (attack.label.getX() - 3 * p), (float) (attack.label.getY() - 2 * p),
                                         (float) (mix.getRight() + 6 * p - attack.label.getX()),
                                         (float) (mix.getBottom() + 3 * p - attack.label.getY()));
    const juce::Rectangle<float> panelB ((float) (smoothLabel.getX() - 2 * p),
                                         (float) (sidechainLabel.getY() - 0.3 * p),
                                         (float) (stereoLink.getRight() + 4 * p - smoothLabel.getX()),
                                         (float) (stereoLink.getBottom() + 3 * p - sidechainLabel.getY()));
    const auto inset = [] (juce::Rectangle<float> area) { return area.withTrimmedLeft (3.0f).withTrimmedTop (3.0f); };
    const auto panelA3 = inset (panelA);
    const auto panelB3 = inset (panelB);

    g.setGradientFill (panelGradient);
    g.fillRoundedRectangle (panelA, 25.0f);
    g.fillRoundedRectangle (panelB, 20.0f);

    if (textureImage.isValid())
    {
        g.setTiledImageFill (textureImage, 0, 0, 0.5f);
        g.fillRoundedRectangle (panelA3, 25.0f);
        g.fillRoundedRectangle (panelB3, 20.0f);
    }

    g.setColour (blackPelko);
    g.drawRoundedRectangle (panelA3, 25.0f, 3.0f);
    g.drawRoundedRectangle (panelB3, 20.0f, 2.0f);
    g.setColour (blackUltraPelko);
    g.drawRoundedRectangle (panelA.translated (1.0f, 1.0f), 25.0f, 2.0f);
    g.drawRoundedRectangle (panelB.translated (1.0f, 1.0f), 20.0f, 2.0f);

    // The ring behind the meter.
    const auto meterArea = meter.getBounds().toFloat();
    g.setColour (blackUltraPelko);
    g.drawEllipse (meterArea, 5.0f);
    g.setColour (blackPelko);
    g.drawEllipse (meterArea.translated (1.0f, 3.0f), 5.0f);
    g.setColour (greyPelko);
    g.fillEllipse (meterArea.getX(), meterArea.getY() + 1.0f, meterArea.getWidth() + 2.0f, meterArea.getHeight());

    // The border behind the graph.
    const auto frameArea = frame.getBounds().toFloat();
    g.setColour (blackUltraPelko);
    g.drawRoundedRectangle (frameArea, 1.0f, 11.0f);
    g.setColour (blackPelko);
    g.drawRoundedRectangle (frameArea.translated (1.0f, 1.0f), 3.0f, 5.0f);
    g.setColour (greyPelko);
    g.fillRoundedRectangle (frameArea.getX(), frameArea.getY(), frameArea.getWidth() + 1.0f, frameArea.getHeight(),
                            1.0f);

    // The logo, as tall as the power button at its own aspect; the colour is still the opaque grey,
    // so it is drawn opaque. It is shown at a small fraction of its size, so it is resampled to the
    // pixels it covers first (this runs once per window size).
    if (logoImage.isValid())
    {
        const auto scale = g.getInternalContext().getPhysicalPixelScaleFactor();
        const auto w = (int) (powerButton.getHeight() * 4.3478), h = powerButton.getHeight();
        const auto logo =
            Look::resampled (logoImage, juce::roundToInt ((float) w * scale), juce::roundToInt ((float) h * scale));
        g.drawImage (logo, (int) (4.5 * p), (int) (0.09 * attack.slider.getY()), w, h, 0, 0, logo.getWidth(),
                     logo.getHeight(), false);
    }
}
