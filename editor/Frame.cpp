#include "editor/Frame.h"

#include "editor/Look.h"
#include "editor/Utils.h"

Frame::Frame()
    : gridImage (juce::Image::ARGB, 1800, 1060, true),
      gridColour (backgroundPelkoL)
{
    setOpaque (true);
}

void Frame::paint (juce::Graphics& g) { g.drawImageAt (gridImage, 0, 0, false); }

void Frame::resized()
{
    // The layout never makes the graph larger than the largest window's image; should anything
    // else do so, the image grows rather than leaving part of an opaque component unpainted.
    if (getWidth() > gridImage.getWidth() || getHeight() > gridImage.getHeight())
        gridImage = juce::Image (juce::Image::ARGB, juce::jmax (getWidth(), gridImage.getWidth()),
                                 juce::jmax (getHeight(), gridImage.getHeight()), true);

    const auto w = (float) getWidth();
    const auto h = (float) getHeight();

    backgroundGradient =
        juce::ColourGradient (blackPelko, 0.35f * w, 0.09f * h, blackFullPelko, 0.75f * w, 0.99f * h, true);

    juce::Graphics g (gridImage);
    g.setGradientFill (backgroundGradient);
    g.fillRect (juce::Rectangle<float> (0.0f, 0.0f, w, h));

    g.setColour (gridColour.brighter (0.01f));
    drawHorizontalLine (g, h * 0.5f, w);
    for (auto gain : bandGains)
        drawHorizontalLine (g, graphY (gain, h), w);
    for (auto frequency : freqsB)
        drawVerticalLine (g, graphX (frequency, w), h);

    g.setColour (gridColour.brighter (0.082f));
    for (auto frequency : freqsA)
        drawVerticalLine (g, graphX (frequency, w), h);

    g.setColour (blackUltraPelko);
    for (auto edge : { 0.0f, 1.0f, 2.0f })
        drawHorizontalLine (g, edge, w);
    for (auto edge : { 0.0f, 1.0f, 2.0f })
        drawVerticalLine (g, edge, h);
}
