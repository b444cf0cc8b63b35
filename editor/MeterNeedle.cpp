#include "editor/MeterNeedle.h"

MeterNeedle::MeterNeedle() = default;

void MeterNeedle::setMode (int)
{
    minDb = -30;
    repaint();
}

void MeterNeedle::paint (juce::Graphics&) {}

void MeterNeedle::resized()
{
    historyA.fill (0.0f);
    historyB.fill (0.0f);
}
