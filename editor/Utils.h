#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// One-pixel grid lines at exact float positions, in the current colour.
void drawVerticalLine (juce::Graphics&, float x, float height);
void drawHorizontalLine (juce::Graphics&, float y, float width);
