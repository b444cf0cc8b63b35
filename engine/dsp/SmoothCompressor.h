#pragma once

#include <juce_audio_basics/juce_audio_basics.h>
#include <juce_dsp/juce_dsp.h>

#include "engine/dsp/VectorMath.h"

#include <cfloat>
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
        process (detector, numSamples, [] (vmath::Float4 x) { return x; });
    }

    // The same, with prefilter (samples) -> samples applied first to each pair of samples (channel 0
    // in lane 0, channel 1 in lane 1, the other lanes 0), in the same pass as the envelopes; the
    // detector keeps the prefiltered samples, compressed and lifted.
    template <typename Prefilter>
    void process (juce::AudioBuffer<float>& detector, int numSamples, Prefilter&& prefilter) noexcept
    {
        numSamples = juce::jmin (numSamples, envelopes.getNumSamples(), detector.getNumSamples());
        if (numSamples <= 0 || detector.getNumChannels() < 2)
            return;

        float* in[2] = { detector.getWritePointer (0), detector.getWritePointer (1) };
        float* env[2] = { envelopes.getWritePointer (0), envelopes.getWritePointer (1) };

        // The framework's peak ballistics, both channels in the lanes of one vector, so that their
        // recurrences (and the prefilter's) run as one.
        const vmath::Float4 attack = { attackCoefficient, attackCoefficient, attackCoefficient, attackCoefficient };
        const vmath::Float4 release = { releaseCoefficient, releaseCoefficient, releaseCoefficient,
                                        releaseCoefficient };
        vmath::Float4 state = { envelopeState[0], envelopeState[1], 0.0f, 0.0f };

        for (int i = 0; i < numSamples; ++i)
        {
            const vmath::Float4 y = prefilter (vmath::Float4 { in[0][i], in[1][i], 0.0f, 0.0f });
            in[0][i] = y[0];
            in[1][i] = y[1];
            const vmath::Float4 x = vmath::abs (y);
            state = x + vmath::select (x > state, attack, release) * (state - x);
            env[0][i] = state[0];
            env[1][i] = state[1];
        }

        // A sample that is not a number or infinite (or overflowed in the prefilter) leaves the
        // envelope not a number for the rest of the chunk; kept, it would silence the detector for
        // good. The envelope starts again from silence at the next chunk instead. A finite but
        // absurd peak (a float near its largest) would take the slowest release many seconds to
        // forget, so what the next chunk carries is held to a ceiling no real signal reaches.
        state = vmath::select (vmath::abs (state) <= FLT_MAX, state, vmath::Float4 {});
        const vmath::Float4 ceiling = { envelopeCeiling, envelopeCeiling, envelopeCeiling, envelopeCeiling };
        state = vmath::select (state > ceiling, ceiling, state);
        envelopeState[0] = state[0];
        envelopeState[1] = state[1];
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

    // +60 dBFS: far above any real signal, low enough that the slowest release forgets it in about a
    // second.
    static constexpr float envelopeCeiling = 1000.0f;
    juce::AudioBuffer<float> envelopes;
};
