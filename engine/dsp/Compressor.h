#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

#include "engine/dsp/GainComputer.h"
#include "engine/dsp/LevelDetector.h"

#include <vector>

// Feed-forward stereo soft-knee compressor. The two-channel detector signal is only measured; the
// resulting gain, makeup and dry/wet mix are applied to the audio (one or two channels).
class Compressor
{
public:
    // Sizes every buffer for chunks of up to blockSize samples; process() then allocates nothing.
    void prepare (double sampleRate, int blockSize);

    // One chunk. `audio` is changed in place; `detector` supplies channels 0 and 1 (a one-channel
    // detector feeds both sides) and is not changed. A chunk longer than the prepared block size, or
    // a detector shorter than the audio, leaves everything untouched.
    void process (juce::AudioBuffer<float>& audio, const juce::AudioBuffer<float>& detector) noexcept;

    juce::AudioBuffer<float> drySignal;
    // Per-sample work buffers: rectified and linked level, then gain change in dB (then, while the
    // makeup ramps, linear gain).
    std::vector<float> leftLevels, rightLevels;
    // Per-sample louder of the two rectified detector channels, before linking.
    std::vector<float> maxLevels;
    LevelDetector levelDetector;
    GainComputer gainComputer;
    float makeupDb = 0.0f;
    float mix = 1.0f; // wet proportion 0..1
    float gainReductionDb = 0.0f; // the chunk's deepest smoothed gain change, before makeup
    float inputLevel = 0.0f; // 10 x the chunk's largest rectified detector value
    float stereoLink = 100.0f; // percent
    juce::SmoothedValue<float, juce::ValueSmoothingTypes::Linear> makeupSmoother { 0.0f };
    juce::SmoothedValue<float, juce::ValueSmoothingTypes::Linear> mixSmoother { 0.0f };
    bool smoothersPrimed = false;
};
