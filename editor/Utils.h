#pragma once

#include "engine/dsp/FrequencyMapping.h"

#include <juce_graphics/juce_graphics.h>

// One-pixel grid lines in the current colour, placed at the exact float position given (no snapping
// to whole pixels). Nothing is drawn for a length of zero or less.
void drawVerticalLine (juce::Graphics& g, float x, float height);
void drawHorizontalLine (juce::Graphics& g, float y, float width);

// The equaliser graph's axes, shared by the grid and the response curve: ten octaves from 20 Hz
// across the width, +24 dB at the top, 0 dB in the middle and -24 dB at the bottom.
inline float graphX (float frequency, float width)
{
    return FrequencyMapping::octavesAbove (frequency) / FrequencyMapping::numOctaves * width;
}
inline float graphY (float gainDb, float height) { return ((gainDb + 24.0f) / -48.0f + 1.0f) * height; }
