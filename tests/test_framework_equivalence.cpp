// Our own code in place of framework members computes what the framework's classes compute: the
// detector bands operation for operation (bit for bit), the Smooth stage within the float steps
// its power may differ by, and the vectorised math within its stated float steps of the C library.

#include "engine/dsp/SmoothCompressor.h"
#include "engine/dsp/VectorMath.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace
{
// Float steps between a and b (0 when equal).
long stepsBetween (float a, float b)
{
    const auto ordered = [] (float x) {
        std::int32_t bits;
        std::memcpy (&bits, &x, sizeof (bits));
        return bits < 0 ? (std::int64_t) INT32_MIN - bits : (std::int64_t) bits;
    };
    return (long) std::llabs (ordered (a) - ordered (b));
}

// Noise whose level jumps every 300 samples, from -60 dB to +6 dB.
void fillBursts (juce::AudioBuffer<float>& buffer, std::mt19937& rng, long start)
{
    std::uniform_real_distribution<float> noise (-1.0f, 1.0f);
    for (int i = 0; i < buffer.getNumSamples(); ++i)
    {
        const auto level = std::pow (10.0f, (float) (((start + i) / 300) % 12) * 0.3f - 3.0f);
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            buffer.setSample (c, i, level * noise (rng));
    }
}
} // namespace

TEST (VectorMath, WithinTheirStatedFloatStepsOfTheCLibrary)
{
    long worstExp = 0, worstGain = 0;
    for (float x = -80.0f; x < 0.0f; x += 0.00137f)
        worstExp = std::max (worstExp, stepsBetween (vmath::exp (x), std::exp (x)));

    for (float db = -99.9f; db < 40.0f; db += 0.00311f)
        worstGain = std::max (worstGain, stepsBetween (vmath::decibelsToGain (db), std::pow (10.0f, db * 0.05f)));

    // The detector's single-precision forms, over the whole float range where their results are
    // normal floats.
    long worstLevel = 0, worstSinglePow = 0;
    for (float x = 1.0e-30f; x < 3.0e38f; x *= 1.00073f)
        worstLevel =
            std::max (worstLevel, stepsBetween (vmath::levelToDecibels (x), (float) (20.0 * std::log10 ((double) x))));

    for (float y = -0.999f; y < 0.0f; y += 0.0371f)
        for (float x = 1.0f; x < 3.0e38f; x *= 1.0173f)
            if (const double exact = std::pow ((double) x, (double) y); exact > 1.2e-38)
                worstSinglePow =
                    std::max (worstSinglePow,
                              stepsBetween (vmath::powPositiveSingle (x, vmath::splitExponent (y)), (float) exact));

    EXPECT_LE (worstExp, 1);
    EXPECT_LE (worstGain, 1);
    EXPECT_LE (worstLevel, 3);
    EXPECT_LE (worstSinglePow, 2);
    EXPECT_EQ (vmath::powPositiveSingle (std::numeric_limits<float>::infinity(), vmath::splitExponent (-0.5f)), 0.0f);
    EXPECT_TRUE (
        std::isnan (vmath::powPositiveSingle (std::numeric_limits<float>::quiet_NaN(), vmath::splitExponent (-0.5f))));
    EXPECT_EQ (vmath::decibelsToGain (-100.0f), 0.0f);
}

// The active bands run as one cascade inside another pass; the framework's biquads run block by
// block, one band after the other. The results must be equal bit for bit, across chunks.
TEST (DetectorBands, CascadeEqualsTheFrameworksBiquadsBitForBit)
{
    auto processor = test::makePreparedProcessor (48000.0, 256);
    test::setParameter (*processor, "1Gain", -9.0f);
    test::setParameter (*processor, "2Gain", 6.5f);
    test::setParameter (*processor, "2Q", 4.0f);
    test::setParameter (*processor, "3Type", 4.0f);
    test::setParameter (*processor, "3Freq", 3000.0f);

    juce::dsp::IIR::Filter<float> reference[3][2];
    for (int b = 0; b < 3; ++b)
    {
        const auto c = processor->bands[(size_t) b].readCoefficients();
        auto coefficients = new juce::dsp::IIR::Coefficients<float> (c[0], c[1], c[2], 1.0f, c[3], c[4]);
        for (auto& filter : reference[b])
            filter.coefficients = coefficients;
    }

    std::mt19937 rng (11);
    juce::AudioBuffer<float> ours (2, 256);
    long differing = 0;

    for (int chunk = 0; chunk < 40; ++chunk)
    {
        fillBursts (ours, rng, chunk * 256L);
        auto theirs = ours;

        MorvikAudioProcessor::Band::withActiveBands (processor->bands, [&] (auto& cascade) {
            // Both channels at once, as the chain runs it, in the first half; a channel at a time after.
            for (int i = 0; i < 256; ++i)
            {
                if (chunk < 20)
                {
                    const auto y = cascade (vmath::Float4 { ours.getSample (0, i), ours.getSample (1, i), 0.0f, 0.0f });
                    ours.setSample (0, i, y[0]);
                    ours.setSample (1, i, y[1]);
                }
                else
                {
                    for (size_t c = 0; c < 2; ++c)
                        ours.setSample ((int) c, i, cascade (c, ours.getSample ((int) c, i)));
                }
            }
        });

        for (auto& band : reference)
            for (int c = 0; c < 2; ++c)
            {
                auto block = juce::dsp::AudioBlock<float> (theirs).getSingleChannelBlock ((size_t) c);
                band[c].process (juce::dsp::ProcessContextReplacing<float> (block));
            }

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < 256; ++i)
                differing += ours.getSample (c, i) != theirs.getSample (c, i);
    }

    EXPECT_EQ (differing, 0);
}

// The Smooth stage against the framework's compressor and gain, with its settings changing as the
// chain writes them: the envelopes are computed alike; the power may round one float step apart.
TEST (SmoothStage, MatchesTheFrameworksCompressorAndGain)
{
    constexpr double rate = 44100.0;
    constexpr int block = 128;
    SmoothCompressor ours;
    ours.prepare (rate, block);
    juce::dsp::Compressor<float> compressor;
    juce::dsp::Gain<float> gain;
    compressor.prepare ({ rate, (juce::uint32) block, 2 });
    gain.prepare ({ rate, (juce::uint32) block, 2 });

    std::mt19937 rng (5);
    std::uniform_real_distribution<float> unit (0.0f, 1.0f);
    juce::AudioBuffer<float> mine (2, block);
    long worst = 0;

    for (int chunk = 0; chunk < 600; ++chunk)
    {
        if (chunk % 50 == 0)
        {
            const float ratio = 1.1f + 18.9f * unit (rng), attack = 50.01f * unit (rng),
                        release = 5.0f + 1496.0f * unit (rng), smooth = std::round (100.0f * unit (rng));
            ours.setRatio (ratio);
            ours.setAttack ((float) (0.8 * attack));
            ours.setRelease ((float) (0.6 * release));
            ours.setThreshold ((float) (-0.6 * smooth));
            ours.setGainDecibels ((float) (0.3 * smooth));
            compressor.setRatio (ratio);
            compressor.setAttack ((float) (0.8 * attack));
            compressor.setRelease ((float) (0.6 * release));
            compressor.setThreshold ((float) (-0.6 * smooth));
            gain.setGainDecibels ((float) (0.3 * smooth));
        }

        fillBursts (mine, rng, chunk * (long) block);
        auto theirs = mine;
        ours.process (mine, block);
        juce::dsp::AudioBlock<float> theirBlock (theirs);
        compressor.process (juce::dsp::ProcessContextReplacing<float> (theirBlock));
        gain.process (juce::dsp::ProcessContextReplacing<float> (theirBlock));

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < block; ++i)
                worst = std::max (worst, stepsBetween (mine.getSample (c, i), theirs.getSample (c, i)));
    }

    // Up to two steps from the single-precision power, up to two from the multiplications after it:
    // 4 x 2^-23 relative, 3.5e-6 dB.
    EXPECT_LE (worst, 4);
}
