#include "editor/Meter.h"

#include <algorithm>

Meter::Meter()
{
    // The disc is rendered once per size, the plot once per repaint request.
    background.setBufferedToImage (true);
    needle.setBufferedToImage (true);
    needle.setMode (0);

    addAndMakeVisible (background);
    addAndMakeVisible (needle);
    setBufferedToImage (true);
}

void Meter::paint (juce::Graphics&) {}

void Meter::resized()
{
    background.setBounds (getLocalBounds());
    needle.setBounds (getLocalBounds());
}

void Meter::pushValues (float gainReduction, float inputLevel)
{
    auto& historyA = needle.historyA;
    auto& historyB = needle.historyB;
    std::copy_backward (historyA.begin(), historyA.end() - 1, historyA.end());
    historyA[0] = gainReduction;
    std::copy_backward (historyB.begin(), historyB.end() - 1, historyB.end());
    historyB[0] = inputLevel;
    needle.repaint();
}

void Meter::clearHistory()
{
    needle.historyA.fill (0.0f);
    needle.historyB.fill (0.0f);
    needle.repaint();
    background.repaint();
}
