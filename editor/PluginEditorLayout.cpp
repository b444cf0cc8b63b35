// The editor's geometry and background: one proportional formula set places every control at any
// window size, and paint draws the gradients, panels, meter ring, graph border and logo behind them.

#include "editor/PluginEditor.h"
#include "engine/PluginProcessor.h"

void MorvikAudioProcessorEditor::createSlider (juce::Slider& slider, juce::String suffix)
{
    addAndMakeVisible (slider);
    slider.setSliderStyle (juce::Slider::RotaryHorizontalVerticalDrag);
    slider.setTextValueSuffix (suffix);
    slider.setTextBoxStyle (juce::Slider::TextBoxBelow, false, 60, 15);
    slider.setTextBoxIsEditable (true);
}

void MorvikAudioProcessorEditor::createLabel (juce::Label& label, juce::String text, juce::Component* owner)
{
    addAndMakeVisible (label);
    label.setText (text, juce::dontSendNotification);
    label.setJustificationType (juce::Justification::centred);
    label.attachToComponent (owner, false);
}

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

    presetButton.setBounds ((int) (0.375 * W), (int) (0.08 * r - 0.1 * s), (int) (0.25 * W), (int) (1.2 * s));
    previousPresetButton.setBounds ((int) (presetButton.getX() - 1.106 * s), t, (int) (1.06 * s), s);
    nextPresetButton.setBounds ((int) (presetButton.getRight() + 0.106 * s), t, (int) (1.06 * s), s);
    powerButton.setBounds ((int) (0.92 * W), t, s, s);

    // The compressor section: five columns (Attack, Character, the meter with Compress at its
    // centre, Makeup, Ratio), Release under Attack and Mix under Ratio. Attack anchors it all.
    attackSlider.setBounds ((int) (2.6 * m), r, (int) u, (int) u);
    characterSlider.setBounds ((int) (attackSlider.getRight() + 0.5 * m), (int) (attackLabel.getY() + 0.55 * u),
                               (int) (2 * u), (int) (2 * u));
    meter.setBounds ((int) (characterSlider.getRight() + 0.5 * m + 0.08 * u), (int) (attackLabel.getY() + 0.2 * u),
                     (int) (2.3 * u), (int) (2.3 * u));
    compressSlider.setBounds ((int) (meter.getX() + 0.5 * meter.getWidth() - 0.7 * u),
                              (int) (meter.getY() + 0.5 * meter.getHeight() - 0.55 * u), (int) (1.4 * u),
                              (int) (1.4 * u));
    compressLabel.setBounds (meter.getX(), meter.getY() - s, meter.getWidth(), s);
    makeupSlider.setBounds ((int) (meter.getRight() + 0.5 * m), (int) (attackLabel.getY() + 0.55 * u), (int) (2 * u),
                            (int) (2 * u));
    ratioSlider.setBounds ((int) (makeupSlider.getRight() + 0.5 * m), attackSlider.getY(), (int) u, (int) u);
    releaseSlider.setBounds (attackSlider.getX(), (int) (attackSlider.getBottom() + 2 * m), (int) u, (int) u);
    mixSlider.setBounds (ratioSlider.getX(), (int) (ratioSlider.getBottom() + 2 * m), (int) u, (int) u);

    // The side-chain section: the graph under the middle, Smooth to its left, STEREO LINK to its right.
    frame.setBounds ((int) (0.3 * W), (int) (mixSlider.getBottom() + 0.648 * u), (int) (0.4 * W), (int) (1.5 * u));
    spectrumAnalyzer.setBounds (frame.getLocalBounds());
    frequencyCurve.setBounds (frame.getLocalBounds());
    xyPad.setBounds (frame.getLocalBounds());
    sidechainLabel.setBounds (frame.getX(), frame.getY() - s, frame.getWidth(), s);
    smoothSlider.setBounds ((int) (frame.getX() - 1.5 * u), (int) (frame.getY() + 0.2 * u), (int) (1.3 * u),
                            (int) (1.3 * u));
    stereoLinkSlider.setBounds ((int) (frame.getRight() + 0.2 * u), (int) (frame.getY() + 0.2 * u), (int) (1.3 * u),
                                (int) (1.3 * u));

    // Value boxes scale with the knobs and are read-only from the first layout on.
    const auto valueBox = [] (juce::Slider& slider, double width, double height) {
        slider.setTextBoxStyle (juce::Slider::TextBoxBelow, true, (int) width, (int) height);
    };
    valueBox (ratioSlider, 0.7 * u, 0.2 * u);
    valueBox (compressSlider, 0.8 * u, 0.3 * u);
    valueBox (characterSlider, 0.85 * u, 0.4 * u);
    valueBox (makeupSlider, 0.85 * u, 0.4 * u);
    valueBox (attackSlider, 0.7 * u, 0.2 * u);
    valueBox (releaseSlider, 0.7 * u, 0.2 * u);
    valueBox (mixSlider, 0.7 * u, 0.2 * u);
    valueBox (smoothSlider, 0.85 * u, 0.25 * u);
    valueBox (stereoLinkSlider, 0.85 * u, 0.25 * u);
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
    const int p = (int) (0.174 * attackSlider.getX()); // panel padding

    g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
    g.setGradientFill (windowGradient);
    g.fillAll();

    // The compressor panel around the knob rows, and the side-chain panel around the graph.
    const juce::Rectangle<float> panelA ((float) (attackLabel.getX() - 3 * p), (float) (attackLabel.getY() - 2 * p),
                                         (float) (mixSlider.getRight() + 6 * p - attackLabel.getX()),
                                         (float) (mixSlider.getBottom() + 3 * p - attackLabel.getY()));
    const juce::Rectangle<float> panelB ((float) (smoothLabel.getX() - 2 * p),
                                         (float) (sidechainLabel.getY() - 0.3 * p),
                                         (float) (stereoLinkSlider.getRight() + 4 * p - smoothLabel.getX()),
                                         (float) (stereoLinkSlider.getBottom() + 3 * p - sidechainLabel.getY()));
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
        g.drawImage (logo, (int) (4.5 * p), (int) (0.09 * attackSlider.getY()), w, h, 0, 0, logo.getWidth(),
                     logo.getHeight(), false);
    }
}
