#include "editor/Meter.h"

Meter::Meter()
{
    addAndMakeVisible (background);
    addAndMakeVisible (needle);
}

void Meter::resized()
{
    background.setBounds (getLocalBounds());
    needle.setBounds (getLocalBounds());
}
