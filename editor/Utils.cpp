#include "editor/Utils.h"

void drawVerticalLine (juce::Graphics& g, float x, float height)
{
    if (height > 0.0f)
        g.fillRect (juce::Rectangle<float> (x, 0.0f, 1.0f, height));
}

void drawHorizontalLine (juce::Graphics& g, float y, float width)
{
    if (width > 0.0f)
        g.fillRect (juce::Rectangle<float> (0.0f, y, width, 1.0f));
}
