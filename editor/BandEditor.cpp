#include "editor/BandEditor.h"

BandEditor::BandEditor (juce::AudioProcessorValueTreeState&, int) {}
