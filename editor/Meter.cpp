#include "editor/Meter.h"

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
