#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>

// The equaliser graph's background: a dark radial gradient, the gain and frequency grid and a dark
// border along the top and left edges. The grid is drawn into an image once per resize; painting
// only copies it. The analyser, the response curve and the XY pad are its children.
class Frame : public juce::Component
{
public:
    Frame();

    void paint (juce::Graphics& g) override;
    void resized() override;

    static constexpr std::array<float, 4> bandGains { 24.0f, 12.0f, -12.0f, -24.0f };
    static constexpr std::array<float, 24> freqsB { 30.0f,   40.0f,   50.0f,   60.0f,   70.0f,   80.0f,
                                                    90.0f,   200.0f,  300.0f,  400.0f,  500.0f,  600.0f,
                                                    700.0f,  800.0f,  900.0f,  2000.0f, 3000.0f, 4000.0f,
                                                    5000.0f, 6000.0f, 7000.0f, 8000.0f, 9000.0f, 20000.0f };
    static constexpr std::array<float, 3> freqsA { 100.0f, 1000.0f, 10000.0f };

    // Sized for the largest window; each resize redraws its top-left corner only.
    juce::Image gridImage;
    juce::ColourGradient backgroundGradient;
    juce::Colour gridColour;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (Frame)
};
