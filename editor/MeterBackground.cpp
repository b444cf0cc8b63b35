#include "editor/MeterBackground.h"

#include "editor/Look.h"

MeterBackground::MeterBackground() = default;

void MeterBackground::resized()
{
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();
    gradient = juce::ColourGradient (greyBlackPelko, 0.35f * w, 0.3f * h, blackFullPelko, 0.75f * w, 0.7f * h, true);
}

void MeterBackground::paint (juce::Graphics& g)
{
    g.setGradientFill (gradient);
    g.fillEllipse (0.0f, 0.0f, (float) getWidth(), (float) getHeight());
}
