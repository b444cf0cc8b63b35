#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_dsp/juce_dsp.h>

// The "Smooth" pre-compressor of the detector with its make-up gain: the framework's compressor
// (peak ballistics filter, then the gain (envelope / threshold)^(1/ratio - 1) above the threshold)
// followed by a gain without ramp, computed as the two framework stages compute them, but in one
// vectorised pass and with coefficients recomputed only when a setting changes.
class SmoothCompressor
{
public:
    void prepare (double sampleRate, int blockSize);
    void reset() noexcept;

    // Each recomputes its coefficients only when the value differs from the stored one.
    void setThreshold (float decibels) noexcept;
    void setRatio (float ratio) noexcept;
    void setAttack (float milliseconds) noexcept;
    void setRelease (float milliseconds) noexcept;
    void setGainDecibels (float decibels) noexcept;

    // Compresses and lifts channels 0 and 1 of `detector` in place, numSamples of each.
    void process (juce::AudioBuffer<float>& detector, int numSamples) noexcept;

private:
    float coefficientFor (float milliseconds) const noexcept;

    float thresholdDecibels = 0.0f, ratio = 1.0f, attackMs = 1.0f, releaseMs = 100.0f;
    float threshold = 1.0f, thresholdInverse = 1.0f, ratioInverse = 1.0f;
    float attackCoefficient = 0.0f, releaseCoefficient = 0.0f;
    float gainDecibels = 0.0f, gain = 1.0f;
    double expFactor = 0.0;
    float envelopeState[2] = { 0.0f, 0.0f };
    juce::AudioBuffer<float> envelopes;
};
