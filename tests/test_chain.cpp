#include "engine/dsp/ParameterIds.h"
#include "support/EngineRender.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace
{
using Set = juce::AudioChannelSet;
using Settings = std::function<void (MorvikAudioProcessor&)>;

std::unique_ptr<MorvikAudioProcessor> makeStereo (double rate, int blockSize, const Settings& settings = {})
{
    return test::makePreparedProcessor (rate, blockSize, Set::stereo(), Set::disabled(), settings);
}

// Audible compression and makeup, with the colour stage (whose response arrives from a background
// thread) blended out, so two processors fed alike agree exactly.
void useDeterministicCompression (MorvikAudioProcessor& p)
{
    test::setParameters (p, { { ParameterIds::compress, 10.0f },
                              { ParameterIds::ratio, 4.0f },
                              { ParameterIds::attack, 1.0f },
                              { ParameterIds::release, 50.0f },
                              { ParameterIds::makeup, 12.0f },
                              { ParameterIds::character, 0.0f },
                              { ParameterIds::mix, 1.0f } });
}

// Bands off and "Smooth" at 0 (threshold and gain 0 dB): the detector shows exactly its input.
void useTransparentDetector (MorvikAudioProcessor& p)
{
    test::setParameters (p, { { "1On", 0.0f }, { "2On", 0.0f }, { "3On", 0.0f }, { ParameterIds::smooth, 0.0f } });
}

// Opens a fresh feed, which fills from its first slot on.
void openFeed (MorvikAudioProcessor& processor)
{
    processor.resizeAnalyserFeed (48000);
    processor.analyserEnabled = true;
}

std::vector<float> fed (MorvikAudioProcessor& processor)
{
    const float* d = processor.analyserBuffer.getReadPointer (0);
    return { d, d + processor.analyserFifo.getNumReady() };
}

// A processor that stays on beside one whose "Power" is switched: the first supplies the processed
// signal, so the second's output can be checked as the fade's mix of processed and dry.
struct PowerPair
{
    PowerPair (double sampleRate, int blockSize)
        : reference (makeStereo (sampleRate, blockSize, useDeterministicCompression)),
          switched (makeStereo (sampleRate, blockSize, useDeterministicCompression)),
          input (2, blockSize),
          rate (sampleRate)
    {}

    // One block of a slow sine through both (a jump of the fade weight would stand out from the
    // signal's own slope), recorded with the fade target when one is given.
    bool run (float target = -1.0f)
    {
        const int n = input.getNumSamples();
        test::fillSine (input, rate, 60.0, 0.4f, position);
        input.applyGain (1, 0, n, 0.5f);
        position += n;
        auto a = input, b = input;
        test::process (*reference, a);
        test::process (*switched, b);
        for (int i = 0; target >= 0.0f && i < n; ++i)
        {
            for (int c = 0; c < 2; ++c)
                samples[c].push_back ({ input.getSample (c, i), a.getSample (c, i), b.getSample (c, i) });
            targets.push_back (target);
        }
        return test::sameSamples (a, b);
    }

    void switchTo (float power, int blocks)
    {
        test::setParameter (*switched, ParameterIds::power, power);
        for (int b = 0; b < blocks; ++b)
            run (power);
    }

    // The processed signal's weight as the chain must move it: one float step of 1 / (20 ms) per
    // sample toward the target, clamped there.
    std::vector<float> weights() const
    {
        const float step = 1.0f / ((float) rate * 0.02f);
        float w = 1.0f;
        std::vector<float> result;
        for (const float t : targets)
            result.push_back (w = t > w ? std::min (w + step, t) : std::max (w - step, t));
        return result;
    }

    struct Sample
    {
        float dry, processed, out;
    };

    std::unique_ptr<MorvikAudioProcessor> reference, switched;
    juce::AudioBuffer<float> input;
    double rate;
    int position = 0;
    std::vector<Sample> samples[2];
    std::vector<float> targets;
};
} // namespace

//==============================================================================
// Off from the first chunk on: the output is the input exactly, the meters rest and an open
// analyser is fed zeros.
TEST (PowerSwitch, OffFromTheFirstChunkIsDryWithMetersAtRestAndFeedsZeros)
{
    for (const int channels : { 1, 2 })
    {
        auto processor = test::makePreparedProcessor (44100.0, 200, channels);
        useDeterministicCompression (*processor);
        test::setParameter (*processor, ParameterIds::power, 0.0f);
        openFeed (*processor);
        processor->gainReductionMeter = 5.0f;
        processor->inputLevelMeter = 3.0f;
        juce::AudioBuffer<float> input (channels, 200);
        std::mt19937 rng (7);

        for (int b = 0; b < 10; ++b)
        {
            processor->analyserDataReady = false;
            test::fillNoise (input, rng);
            auto output = input;
            test::process (*processor, output);
            ASSERT_TRUE (test::sameSamples (output, input)) << channels << " channels, block " << b;
            EXPECT_TRUE (processor->analyserDataReady.load());
        }
        EXPECT_EQ (processor->gainReductionMeter.load(), -7.0f);
        EXPECT_EQ (processor->inputLevelMeter.load(), 0.0f);
        EXPECT_EQ (fed (*processor), std::vector<float> (2000, 0.0f));
    }
}

// Switched off for 300 samples and back on, the weight turns back from where it stands; switched
// off for good, it falls to exactly 0 (at 48 kHz the 960 float steps of 1/960 fall just short and a
// 961st is needed), from where the output is exactly dry and the meters rest.
class PowerCrossfade : public ::testing::TestWithParam<std::pair<double, int>>
{};

TEST_P (PowerCrossfade, TurnsBackWithoutAJumpAndFadesToExactlyDry)
{
    const auto [rate, fadeSamples] = GetParam();
    constexpr int blockSize = 100;
    PowerPair pair (rate, blockSize);

    bool agree = false;
    for (int b = 0; b < 30; ++b)
        agree = pair.run();
    ASSERT_TRUE (agree);

    pair.switchTo (0.0f, 3);
    pair.switchTo (1.0f, fadeSamples / blockSize);
    const size_t offAt = pair.targets.size(), firstDry = offAt + (size_t) fadeSamples - 1;
    pair.switchTo (0.0f, fadeSamples / blockSize + 3);
    EXPECT_EQ (pair.switched->gainReductionMeter.load(), -7.0f);
    EXPECT_EQ (pair.switched->inputLevelMeter.load(), 0.0f);

    const auto w = pair.weights();
    ASSERT_EQ (w[offAt - 1], 1.0f);
    EXPECT_GT (w[firstDry - 1], 0.0f);
    EXPECT_EQ (w[firstDry], 0.0f);

    for (auto& ch : pair.samples)
    {
        EXPECT_NE (ch[firstDry - 1].out, ch[firstDry - 1].dry);
        for (size_t i = 0; i < ch.size(); ++i)
        {
            const auto& s = ch[i];
            ASSERT_NEAR (s.out, (double) s.processed * w[i] + (double) s.dry * (1.0 - w[i]),
                         1.0e-6 * (std::abs (s.processed) + std::abs (s.dry)) + 1.0e-7)
                << i;
            ASSERT_TRUE (w[i] != 0.0f || s.out == s.dry) << i;
            ASSERT_TRUE (w[i] != 1.0f || s.out == s.processed) << i;
            // A jump of the weight would add the whole processed-dry difference at once.
            if (i > 0)
            {
                const auto& p = ch[i - 1];
                ASSERT_LE (std::abs (s.out - p.out), std::abs (s.processed - p.processed) + std::abs (s.dry - p.dry)
                                                         + std::abs (p.processed - p.dry) / (rate * 0.02) + 1.0e-6)
                    << i;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P (Rates, PowerCrossfade,
                          ::testing::Values (std::pair (44100.0, 882), std::pair (48000.0, 961)));

// The detector takes the main channels unless the side-chain has any (its first two, a mono one
// twice); the analyser is fed the detector's sum (its left alone for mono); side-chain channels are
// never written.
TEST (Routing, DetectorTakesTheRightChannelsAndTheAnalyserTheirSum)
{
    constexpr int blockSize = 256;
    for (auto [mainChannels, sidechain, extraChannels, expectedLeft, expectedRight] :
         { std::tuple { 2, Set::disabled(), 0, 0, 1 },
           { 2, Set::mono(), 1, 2, 2 },
           { 2, Set::stereo(), 2, 2, 3 },
           { 2, Set::stereo(), 0, 0, 1 }, // enabled, but the host hands over no channels for it
           { 1, Set::disabled(), 0, 0, 0 },
           { 1, Set::stereo(), 2, 1, 2 } })
    {
        SCOPED_TRACE (juce::String (mainChannels) + " main, side-chain " + sidechain.getDescription() + ", "
                      + juce::String (extraChannels) + " extra");
        auto processor = test::makePreparedProcessor (
            44100.0, blockSize, mainChannels == 1 ? Set::mono() : Set::stereo(), sidechain, useTransparentDetector);
        openFeed (*processor);

        const int channels = mainChannels + extraChannels;
        juce::AudioBuffer<float> input (channels, blockSize);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < blockSize; ++i)
                input.setSample (c, i, (0.2f + 0.1f * (float) c) * (float) std::sin (0.01 * (c + 1) * (i + 1) + c));
        auto buffer = input;
        test::process (*processor, buffer);

        const auto& detector = processor->sidechainBuffer;
        const auto feed = fed (*processor);
        ASSERT_EQ ((int) feed.size(), blockSize);
        for (int i = 0; i < blockSize; ++i)
        {
            const float left = input.getSample (expectedLeft, i), right = input.getSample (expectedRight, i);
            ASSERT_EQ (detector.getSample (0, i), left) << i;
            ASSERT_EQ (detector.getSample (1, i), right) << i;
            ASSERT_EQ (feed[(size_t) i], mainChannels == 1 ? left : left + right) << i;
            for (int c = mainChannels; c < channels; ++c)
                ASSERT_EQ (buffer.getSample (c, i), input.getSample (c, i)) << "side-chain channel " << c << " written";
        }
    }
}

// The layout rule never gives one input with two outputs, but under a host that ignores it the chain
// copies the single input to the second output first, as a stereo processor fed that copy would hear.
TEST (Routing, OneInputWithTwoOutputsCopiesTheInputFirst)
{
    const Settings settings = [] (MorvikAudioProcessor& p) {
        useTransparentDetector (p);
        useDeterministicCompression (p);
    };
    struct IgnoresTheRule : MorvikAudioProcessor
    {
        bool isBusesLayoutSupported (const BusesLayout&) const override { return true; }
    } processor;
    settings (processor);
    ASSERT_TRUE (processor.setBusesLayout ({ { Set::mono(), Set::disabled() }, { Set::stereo() } }));
    processor.prepareToPlay (44100.0, 256);
    auto reference = makeStereo (44100.0, 256, settings);
    std::mt19937 rng (21);
    juce::AudioBuffer<float> input (2, 256);

    for (int b = 0; b < 8; ++b)
    {
        test::fillNoise (input, rng); // channel 1 holds unrelated noise that must never be heard
        auto output = input, copied = input;
        copied.copyFrom (1, 0, input, 0, 0, 256);
        test::process (processor, output);
        test::process (*reference, copied);
        ASSERT_TRUE (test::sameSamples (output, copied)) << b;
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ (processor.sidechainBuffer.getSample (1, i), input.getSample (0, i));
    }
}

//==============================================================================
namespace
{
std::vector<float> detectorForConstantInput (MorvikAudioProcessor& processor, float level, int blocks, int blockSize)
{
    juce::AudioBuffer<float> block (2, blockSize);
    std::vector<float> detector;
    for (int b = 0; b < blocks; ++b)
    {
        for (int c = 0; c < 2; ++c)
            juce::FloatVectorOperations::fill (block.getWritePointer (c), level, blockSize);
        test::process (processor, block);
        detector.insert (detector.end(), processor.sidechainBuffer.getReadPointer (0),
                         processor.sidechainBuffer.getReadPointer (0) + blockSize);
    }
    return detector;
}
} // namespace

// At Smooth s the stage's threshold is -0.6 s dB and its gain +0.3 s dB; a steady level settles on the
// static curve (4:1, no knee).
TEST (SmoothStage, ThresholdAndGainFollowTheControl)
{
    for (const float smooth : { 0.0f, 50.0f, 100.0f })
        for (const float level : { 0.1f, 2.0f })
        {
            auto processor = makeStereo (44100.0, 441, useTransparentDetector);
            test::setParameters (*processor, { { ParameterIds::smooth, smooth },
                                               { ParameterIds::ratio, 4.0f },
                                               { ParameterIds::attack, 1.0f },
                                               { ParameterIds::release, 5.0f } });

            const double thresholdDb = -0.6 * smooth, gainDb = 0.3 * smooth,
                         levelDb = 20.0 * std::log10 ((double) level);
            const double compressedDb = levelDb < thresholdDb ? levelDb : thresholdDb + (levelDb - thresholdDb) / 4.0;
            const float out = detectorForConstantInput (*processor, level, 30, 441).back();
            EXPECT_NEAR (20.0 * std::log10 ((double) out), compressedDb + gainDb, 0.001) << smooth << " " << level;
        }
}

// Steps of constant level at Smooth 100 (threshold 0.001, gain 10^1.5) and 2:1: the detector shows
// level (envelope / 0.001)^(1/2 - 1) 10^1.5, solved here for the stage's peak envelope. Up from
// silence it rises as level (1 - c^(n+1)) with the stage's attack of 0.8 x "Attack" (40 ms at the
// automatic end); down from 0.5 to 0.05 with an instant attack it falls as 0.05 + 0.45 c^k with the
// stage's release of 0.6 x "Release" (60 ms for 100 ms).
TEST (SmoothStage, AttackIsEightTenthsAndReleaseSixTenthsOfTheControls)
{
    constexpr double rate = 44100.0;
    const auto envelope = [] (float detected, double level) {
        return 0.001 * std::pow (detected / (level * std::pow (10.0, 1.5)), -2.0);
    };
    const auto coefficient = [] (double ms) {
        return std::exp (-2.0 * juce::MathConstants<double>::pi * 1000.0 / rate / ms);
    };
    const auto smoothStage = [] (float attack) {
        auto processor = makeStereo (rate, 256, useTransparentDetector);
        test::setParameters (
            *processor,
            { { ParameterIds::smooth, 100.0f }, { ParameterIds::ratio, 2.0f }, { ParameterIds::attack, attack } });
        return processor;
    };

    for (auto [attack, expectedMs] : { std::pair { 10.0f, 8.0 }, { ParameterIds::attackAuto, 40.008 } })
    {
        auto processor = smoothStage (attack);
        const auto detector = detectorForConstantInput (*processor, 0.5f, 12, 256);
        EXPECT_EQ (processor->compressor.levelDetector.autoAttack, attack > 50.0f);

        for (const int n : { 0, 200, 1000, 2500 })
        {
            const double expected = 0.5 * (1.0 - std::pow (coefficient (expectedMs), n + 1));
            EXPECT_NEAR (envelope (detector[(size_t) n], 0.5), expected, 2.0e-4 * expected)
                << attack << " ms, sample " << n;
        }
    }

    auto processor = smoothStage (0.0f);
    test::setParameter (*processor, ParameterIds::release, 100.0f);
    detectorForConstantInput (*processor, 0.5f, 4, 256);
    const auto detector = detectorForConstantInput (*processor, 0.05f, 12, 256);
    for (const int k : { 1, 300, 1000, 2500 })
    {
        const double expected = 0.05 + 0.45 * std::pow (coefficient (60.0), k);
        EXPECT_NEAR (envelope (detector[(size_t) k - 1], 0.05), expected, 2.0e-4 * expected) << "release, sample " << k;
    }
}

// Steady detector levels give a crest factor of exactly 1, so automatic times read 0.16 s and
// 1.84 s; the top of each range switches them on, one step below is a manual time.
TEST (AutomaticTimes, OnlyTheTopOfEachRangeMeansAutomatic)
{
    for (auto [attack, release, attackTime, releaseTime] :
         { std::tuple { ParameterIds::attackAuto, ParameterIds::releaseAuto, 0.16, 1.84 },
           { 50.0f, 1500.0f, 0.05, 1.5 },
           { 10.0f, ParameterIds::releaseAuto, 0.01, 1.84 } })
    {
        auto processor = makeStereo (48000.0, 512, useTransparentDetector);
        test::setParameters (*processor, { { ParameterIds::attack, attack }, { ParameterIds::release, release } });
        detectorForConstantInput (*processor, 0.5f, 2, 512);

        const auto& detector = processor->compressor.levelDetector;
        EXPECT_NEAR (detector.attackTime, attackTime, 1.0e-9) << attack;
        EXPECT_NEAR (detector.releaseTime, releaseTime, 1.0e-9) << release;
    }
}

// Left 0.5, right 0.125 into the detector: with the chain's 50 % link the right side is measured at
// the mean of itself and the louder side, 0.3125. -20 dB threshold at 4:1 takes 0.75 dB per dB above
// it. The one ballistics state attacks at once to the left block's value, then releases (50 ms)
// toward the right block's value through the right block.
TEST (Routing, DetectorChannelsAreHalfLinked)
{
    auto processor = makeStereo (48000.0, 512, [] (MorvikAudioProcessor& p) {
        useTransparentDetector (p);
        useDeterministicCompression (p);
        test::setParameters (
            p, { { ParameterIds::compress, 20.0f }, { ParameterIds::attack, 0.0f }, { ParameterIds::makeup, 0.0f } });
    });

    juce::AudioBuffer<float> block (2, 512);
    for (int chunk = 0; chunk < 3; ++chunk)
    {
        juce::FloatVectorOperations::fill (block.getWritePointer (0), 0.5f, 512);
        juce::FloatVectorOperations::fill (block.getWritePointer (1), 0.125f, 512);
        test::process (*processor, block);
    }

    const auto curve = [] (double measured) { return -0.75 * (20.0 * std::log10 (measured) + 20.0); };
    const double left = curve (0.5), right = curve (0.3125), a = std::exp (-1.0 / (0.05 * 48000.0));
    for (const int i : { 0, 100, 511 })
    {
        const double state = std::pow (a, i + 1) * left + (1.0 - std::pow (a, i + 1)) * right;
        EXPECT_NEAR (block.getSample (0, i), 0.5 * std::pow (10.0, left / 20.0), 1.0e-6);
        EXPECT_NEAR (block.getSample (1, i), 0.125 * std::pow (10.0, state / 20.0), 1.0e-6) << i;
    }
    EXPECT_NEAR (block.getSample (1, 511), 0.04000, 1.0e-5) << "worked by hand";
}

// The console response is taken over on the first chunk after preparation, not whenever a loader
// thread finishes: two offline renders agree from the first sample.
TEST (Chain, TwoRendersOfTheSameInputAreEqualFromTheFirstSample)
{
    std::mt19937 rng (5);
    juce::AudioBuffer<float> input (2, 48000);
    test::fillNoise (input, rng);

    juce::AudioBuffer<float> renders[2] = { input, input };
    for (auto& render : renders)
    {
        auto processor =
            makeStereo (48000.0, 256, [] (auto& p) { test::setParameter (p, ParameterIds::character, 100.0f); });
        EXPECT_EQ (processor->console.getResponseLength(), 1);

        for (int start = 0; start < input.getNumSamples(); start += 256)
        {
            juce::AudioBuffer<float> block (render.getArrayOfWritePointers(), 2, start,
                                            juce::jmin (256, input.getNumSamples() - start));
            test::process (*processor, block);
            EXPECT_EQ (processor->console.getResponseLength(), 4) << "48 kHz: four taps from the first chunk on";
        }
    }

    EXPECT_TRUE (test::sameSamples (renders[0], renders[1]));
}

namespace
{
// The whole input through a processor in blocks of blockSize (its chunk size).
juce::AudioBuffer<float> render (double rate, int blockSize, juce::AudioBuffer<float> audio, const Settings& settings)
{
    auto processor = makeStereo (rate, blockSize, settings);
    for (int start = 0; start < audio.getNumSamples(); start += blockSize)
    {
        juce::AudioBuffer<float> block (audio.getArrayOfWritePointers(), 2, start,
                                        juce::jmin (blockSize, audio.getNumSamples() - start));
        test::process (*processor, block);
    }
    return audio;
}
} // namespace

// A NaN, an infinity or the largest float as the last sample of a chunk, in the left input or both,
// with Compress at 30 dB, the slowest release (AUTO) and two detector bands in use: from the next
// chunk on every output sample is finite (the console, the bands and the Smooth stage carry the
// sample over), and from two seconds after it the output is within 0.1 dB of a clean instance's.
TEST (Chain, ABadInputSampleLeavesNoLastingDamage)
{
    const Settings settings = [] (MorvikAudioProcessor& p) {
        test::setParameters (p, { { ParameterIds::compress, 30.0f },
                                  { ParameterIds::release, ParameterIds::releaseAuto },
                                  { "1Gain", -6.0f },
                                  { "2Gain", 4.0f } });
    };
    constexpr float infinity = std::numeric_limits<float>::infinity();
    constexpr int badAt = 4 * 4096 - 1; // last in its chunk at each block size here

    for (const double rate : { 44100.0, 48000.0, 96000.0 })
        for (const int blockSize : { 32, 512, 4096 })
        {
            const int settledAt = badAt + (int) (2.0 * rate), length = settledAt + (int) (0.05 * rate);
            juce::AudioBuffer<float> input (2, length);
            test::fillSine (input, rate, 220.0, 0.5f);
            const auto clean = render (rate, blockSize, input, settings);
            const float peak = clean.getMagnitude (settledAt, length - settledAt);

            for (const float bad : { std::numeric_limits<float>::quiet_NaN(), infinity, -infinity, FLT_MAX })
                for (const int channels : { 1, 2 })
                {
                    SCOPED_TRACE (juce::String (rate) + " Hz, blocks of " + juce::String (blockSize) + ", "
                                  + juce::String (bad) + " in " + juce::String (channels) + " channel(s)");
                    auto out = input;
                    for (int c = 0; c < channels; ++c)
                        out.setSample (c, badAt, bad);
                    out = render (rate, blockSize, out, settings);

                    float apart = 0.0f;
                    for (int c = 0; c < 2; ++c)
                        for (int i = badAt + 1; i < length; ++i)
                        {
                            ASSERT_TRUE (std::isfinite (out.getSample (c, i))) << i;
                            if (i >= settledAt)
                                apart = std::max (apart, std::abs (out.getSample (c, i) - clean.getSample (c, i)));
                        }
                    EXPECT_LT (20.0 * std::log10 (1.0 + apart / peak), 0.1);
                }
        }
}
