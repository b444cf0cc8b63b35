#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

// The meter's history plot: gain reduction and input level as two mirrored polar shapes, the
// newest value at the top and older values running down both sides to the bottom. The meter
// writes the histories (index 0 newest) when the editor hands it values, and repaints.
class MeterNeedle : public juce::Component
{
public:
    MeterNeedle();

    // There is one mode only: the scale runs from -30 dB to 0 whatever the argument.
    void setMode (int mode);

    void paint (juce::Graphics& g) override;
    void resized() override;

    // Rebuilds the four shapes from the histories for the current size; paint draws them.
    void buildPaths() noexcept;

    juce::ColourGradient gradient;
    // The left and right halves of the reduction (A) and input (B) shapes as open curves, and each
    // shape as one closed path for filling (the renderer fills closed paths only; both halves in
    // one path leave no seam down the middle). Members, cleared rather than recreated, so a repaint
    // reuses their storage.
    juce::Path pathA1, pathA2, pathB1, pathB2, shapeA, shapeB;
    std::array<float, 80> historyA {}; // gain reduction, dB (0 or below), index 0 newest
    std::array<float, 80> historyB {}; // input level, linear (0 or above), index 0 newest
    int minDb = -30, maxDb = 0;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MeterNeedle)
};
