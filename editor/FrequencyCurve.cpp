#include "editor/FrequencyCurve.h"

FrequencyCurve::FrequencyCurve (MorvikAudioProcessor& p)
    : processor (p)
{}

void FrequencyCurve::parameterChanged (const juce::String&, float) {}

void FrequencyCurve::drawFrequencyCurve() {}

bool FrequencyCurve::rebuildIfStale() { return false; }
