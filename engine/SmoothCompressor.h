#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_dsp/juce_dsp.h>

#include <cmath>

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
    void process (juce::AudioBuffer<float>& detector, int numSamples) noexcept
    {
        process (detector, numSamples, [] (size_t, float x) { return x; });
    }

    // The same, with prefilter (channel, sample) -> sample applied to each sample first, in the same
    // pass as the envelopes; the detector keeps the prefiltered samples, compressed and lifted.
    template <typename Prefilter>
    void process (juce::AudioBuffer<float>& detector, int numSamples, Prefilter&& prefilter) noexcept
    {
        numSamples = juce::jmin (numSamples, envelopes.getNumSamples(), detector.getNumSamples());
        if (numSamples <= 0 || detector.getNumChannels() < 2)
            return;

        float* in[2] = { detector.getWritePointer (0), detector.getWritePointer (1) };
        float* env[2] = { envelopes.getWritePointer (0), envelopes.getWritePointer (1) };

        // The framework's peak ballistics, both channels in one loop so that their recurrences
        // (and the prefilter's) overlap.
        const float attack = attackCoefficient, release = releaseCoefficient;
        float state0 = envelopeState[0], state1 = envelopeState[1];

        for (int i = 0; i < numSamples; ++i)
        {
            const float y0 = prefilter ((size_t) 0, in[0][i]), y1 = prefilter ((size_t) 1, in[1][i]);
            in[0][i] = y0;
            in[1][i] = y1;
            const float x0 = std::abs (y0), x1 = std::abs (y1);
            state0 = x0 + (x0 > state0 ? attack : release) * (state0 - x0);
            state1 = x1 + (x1 > state1 ? attack : release) * (state1 - x1);
            env[0][i] = state0;
            env[1][i] = state1;
        }

        envelopeState[0] = state0;
        envelopeState[1] = state1;
        applyGain (detector, numSamples);
    }

private:
    // The gain above the threshold from the envelopes, then the make-up gain.
    void applyGain (juce::AudioBuffer<float>& detector, int numSamples) noexcept;

    float coefficientFor (float milliseconds) const noexcept;

    float thresholdDecibels = 0.0f, ratio = 1.0f, attackMs = 1.0f, releaseMs = 100.0f;
    float threshold = 1.0f, thresholdInverse = 1.0f, ratioInverse = 1.0f;
    float attackCoefficient = 0.0f, releaseCoefficient = 0.0f;
    float gainDecibels = 0.0f, gain = 1.0f;
    double expFactor = 0.0;
    float envelopeState[2] = { 0.0f, 0.0f };
    juce::AudioBuffer<float> envelopes;
};
