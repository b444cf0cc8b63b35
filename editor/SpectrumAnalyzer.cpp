#include "editor/SpectrumAnalyzer.h"

SpectrumAnalyzer::SpectrumAnalyzer (MorvikAudioProcessor& p)
    : processor (p)
{}

void SpectrumAnalyzer::timerCallback() {}
