#pragma once
// Placeholder interface; the compressor itself is written in its own change.
#include <juce_audio_basics/juce_audio_basics.h>
#include <vector>

struct GainComputer
{
    float threshold = -20.0f, ratio = 2.0f, knee = 6.0f, kneeHalf = 3.0f, slope = -0.5f;
};

struct LevelDetector
{
    bool autoAttack = false, autoRelease = false;
    void setAttack (const double&) {}
    void setRelease (const double&) {}
};

class Compressor
{
public:
    void prepare (double, int) {}
    void process (juce::AudioBuffer<float>&, const juce::AudioBuffer<float>&) {}

    LevelDetector levelDetector;
    GainComputer gainComputer;
    float makeupDb = 0.0f, mix = 1.0f, gainReductionDb = 0.0f, inputLevel = 0.0f, stereoLink = 100.0f;
};
