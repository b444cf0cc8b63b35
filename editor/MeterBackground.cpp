#include "editor/MeterBackground.h"

MeterBackground::MeterBackground() = default;

void MeterBackground::paint (juce::Graphics&) {}

void MeterBackground::resized() {}
