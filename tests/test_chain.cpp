#include "engine/ParameterIds.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <vector>

namespace
{
using Set = juce::AudioChannelSet;
using Settings = std::function<void (MorvikAudioProcessor&)>;

std::unique_ptr<MorvikAudioProcessor> makeProcessor (double rate, int blockSize, const Set& main,
                                                     const Set& sidechain = Set::disabled(),
                                                     const Settings& settings = {})
{
    return test::makePreparedProcessor (rate, blockSize, main, sidechain, settings);
}

void process (MorvikAudioProcessor& processor, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    processor.processBlock (buffer, midi);
}

// Audible compression and makeup, with the colour stage (whose response arrives from a background
// thread) blended out, so two processors fed alike agree exactly.
void useDeterministicCompression (MorvikAudioProcessor& p)
{
    for (auto [id, value] : { std::pair { ParameterIds::compress, 10.0f },
                              { ParameterIds::ratio, 4.0f },
                              { ParameterIds::attack, 1.0f },
                              { ParameterIds::release, 50.0f },
                              { ParameterIds::makeup, 12.0f },
                              { ParameterIds::character, 0.0f },
                              { ParameterIds::mix, 1.0f } })
        test::setParameter (p, id, value);
}

// Bands off and "Smooth" at 0 (threshold and gain 0 dB): the detector shows exactly its input.
void useTransparentDetector (MorvikAudioProcessor& p)
{
    for (const char* id : { "1On", "2On", "3On", ParameterIds::smooth })
        test::setParameter (p, id, 0.0f);
}

void fillNoise (juce::AudioBuffer<float>& buffer, std::mt19937& rng)
{
    std::uniform_real_distribution<float> noise (-0.5f, 0.5f);
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (c, i, noise (rng));
}

bool equal (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b)
{
    for (int c = 0; c < a.getNumChannels(); ++c)
        for (int i = 0; i < a.getNumSamples(); ++i)
            if (a.getSample (c, i) != b.getSample (c, i))
                return false;
    return true;
}

std::vector<float> drainFeed (MorvikAudioProcessor& processor)
{
    auto& fifo = processor.analyserFifo;
    int s1, n1, s2, n2;
    fifo.prepareToRead (fifo.getNumReady(), s1, n1, s2, n2);
    const float* d = processor.analyserBuffer.getReadPointer (0);
    std::vector<float> v (d + s1, d + s1 + n1);
    v.insert (v.end(), d + s2, d + s2 + n2);
    fifo.finishedRead (n1 + n2);
    return v;
}

void openFeed (MorvikAudioProcessor& processor)
{
    processor.resizeAnalyserFeed (48000);
    processor.analyserEnabled = true;
}

// A processor that stays on beside one whose "Power" is switched: the first supplies the processed
// signal, so the second's output can be checked as the fade's mix of processed and dry.
struct PowerPair
{
    PowerPair (double rate, int blockSize)
        : reference (makeProcessor (rate, blockSize, Set::stereo(), Set::disabled(), useDeterministicCompression)),
          switched (makeProcessor (rate, blockSize, Set::stereo(), Set::disabled(), useDeterministicCompression)),
          input (2, blockSize),
          fadeLength ((float) rate * 0.02f)
    {}

    // Runs one block through both; when `target` is given, records it with the fade target.
    bool run (std::function<void (juce::AudioBuffer<float>&)> fill, float target = -1.0f)
    {
        fill (input);
        auto a = input, b = input;
        process (*reference, a);
        process (*switched, b);
        if (target >= 0.0f)
            for (int i = 0; i < input.getNumSamples(); ++i)
            {
                for (int c = 0; c < 2; ++c)
                    samples[c].push_back ({ input.getSample (c, i), a.getSample (c, i), b.getSample (c, i) });
                targets.push_back (target);
            }
        return equal (a, b);
    }

    // The processed signal's weight as the chain must move it: one float step of 1/fadeLength per
    // sample toward the target, clamped there.
    std::vector<float> weights (float start) const
    {
        const float step = 1.0f / fadeLength;
        std::vector<float> w;
        for (const float t : targets)
            w.push_back (start = t > start ? std::min (start + step, t) : std::max (start - step, t));
        return w;
    }

    struct Sample
    {
        float dry, processed, out;
    };

    std::unique_ptr<MorvikAudioProcessor> reference, switched;
    juce::AudioBuffer<float> input;
    float fadeLength; // 20 ms
    std::vector<Sample> samples[2];
    std::vector<float> targets;
};

double fadeTolerance (const PowerPair::Sample& s)
{
    return 1.0e-6 * (std::abs (s.processed) + std::abs (s.dry)) + 1.0e-7;
}
} // namespace

//==============================================================================
TEST (PowerSwitch, FirstChunkWithPowerOffIsDryWithMetersAtRest)
{
    for (const int channels : { 1, 2 })
    {
        auto processor = makeProcessor (44100.0, 512, channels == 1 ? Set::mono() : Set::stereo());
        test::setParameter (*processor, ParameterIds::power, 0.0f);
        useDeterministicCompression (*processor);
        processor->gainReductionMeter = 5.0f;
        processor->inputLevelMeter = 3.0f;

        juce::AudioBuffer<float> input (channels, 512);
        std::mt19937 rng (7);
        fillNoise (input, rng);
        auto output = input;
        process (*processor, output);

        EXPECT_TRUE (equal (output, input)) << channels;
        EXPECT_EQ (processor->gainReductionMeter.load(), -7.0f);
        EXPECT_EQ (processor->inputLevelMeter.load(), 0.0f);
    }
}

class PowerCrossfade : public ::testing::TestWithParam<std::pair<double, int>>
{};

TEST_P (PowerCrossfade, SwitchingOffFadesToExactlyDry)
{
    const auto [rate, fadeSamples] = GetParam();
    constexpr int blockSize = 256;
    PowerPair pair (rate, blockSize);
    std::mt19937 rng (11);
    const auto noise = [&] (juce::AudioBuffer<float>& b) { fillNoise (b, rng); };

    bool agree = false;
    for (int b = 0; b < 40; ++b)
        agree = pair.run (noise);
    ASSERT_TRUE (agree);

    test::setParameter (*pair.switched, ParameterIds::power, 0.0f);
    for (int b = 0; b < fadeSamples / blockSize + 4; ++b)
        pair.run (noise, 0.0f);

    // At 48 kHz the 960 float steps of 1/960 fall just short of zero and a 961st is needed.
    const auto w = pair.weights (1.0f);
    EXPECT_GT (w[(size_t) fadeSamples - 2], 0.0f);
    EXPECT_EQ (w[(size_t) fadeSamples - 1], 0.0f);

    for (auto& channel : pair.samples)
    {
        int firstDry = (int) channel.size();
        while (firstDry > 0 && channel[(size_t) firstDry - 1].out == channel[(size_t) firstDry - 1].dry)
            --firstDry;
        EXPECT_EQ (firstDry, fadeSamples - 1);

        for (int i = 0; i < fadeSamples - 1; ++i)
        {
            const auto& s = channel[(size_t) i];
            ASSERT_NEAR (s.out, (double) s.processed * w[(size_t) i] + (double) s.dry * (1.0 - w[(size_t) i]),
                         fadeTolerance (s))
                << i;
        }
    }
    EXPECT_EQ (pair.switched->gainReductionMeter.load(), -7.0f);
    EXPECT_EQ (pair.switched->inputLevelMeter.load(), 0.0f);
}

INSTANTIATE_TEST_SUITE_P (Rates, PowerCrossfade,
                          ::testing::Values (std::pair (44100.0, 882), std::pair (48000.0, 961)));

TEST (PowerSwitch, ReversalMidFadeTurnsBackWithoutAJump)
{
    constexpr double rate = 44100.0;
    constexpr int blockSize = 100;
    PowerPair pair (rate, blockSize);
    int position = 0;
    // A slow sine, so a jump of the fade weight would stand out from the signal's own slope.
    const auto sine = [&] (juce::AudioBuffer<float>& b) {
        test::fillSine (b, rate, 60.0, 0.4f, position);
        position += blockSize;
    };

    bool agree = false;
    for (int b = 0; b < 30; ++b)
        agree = pair.run (sine);
    ASSERT_TRUE (agree);

    test::setParameter (*pair.switched, ParameterIds::power, 0.0f);
    for (int b = 0; b < 3; ++b)
        pair.run (sine, 0.0f);
    test::setParameter (*pair.switched, ParameterIds::power, 1.0f);
    for (int b = 0; b < 8; ++b)
        pair.run (sine, 1.0f);

    const float step = 1.0f / 882.0f;
    const auto w = pair.weights (1.0f);
    EXPECT_NEAR (w[299], 1.0f - 300.0f * step, 1.0e-5f);
    EXPECT_EQ (w[599], 1.0f);

    for (auto& ch : pair.samples)
        for (size_t i = 0; i < ch.size(); ++i)
        {
            const auto& s = ch[i];
            ASSERT_NEAR (s.out, (double) s.processed * w[i] + (double) s.dry * (1.0 - w[i]), fadeTolerance (s)) << i;
            if (i >= 600)
            {
                ASSERT_EQ (s.out, s.processed) << i;
            }
            // A jump of the weight would add the whole processed-dry difference at once.
            if (i > 0)
            {
                ASSERT_LE (std::abs (s.out - ch[i - 1].out),
                           std::abs (s.processed - ch[i - 1].processed) + std::abs (s.dry - ch[i - 1].dry)
                               + step * std::abs (ch[i - 1].processed - ch[i - 1].dry) + 1.0e-6)
                    << i;
            }
        }
}

TEST (PowerSwitch, FullyOffFeedsZerosToAnOpenAnalyser)
{
    auto processor = makeProcessor (44100.0, 200, Set::stereo(), Set::disabled(), useDeterministicCompression);
    openFeed (*processor);
    test::setParameter (*processor, ParameterIds::power, 0.0f);
    juce::AudioBuffer<float> block (2, 200);
    std::mt19937 rng (9);

    for (int b = 0; b < 10; ++b)
    {
        processor->analyserDataReady = false;
        fillNoise (block, rng);
        process (*processor, block);
        EXPECT_TRUE (processor->analyserDataReady.load());
    }
    const auto fed = drainFeed (*processor);
    EXPECT_EQ ((int) fed.size(), 2000);
    EXPECT_TRUE (std::all_of (fed.begin(), fed.end(), [] (float v) { return v == 0.0f; }));
}

//==============================================================================
namespace
{
struct Routing
{
    const char* name;
    int mainChannels;
    Set sidechain;
    int extraChannels; // channels in the host buffer after the main ones
    int expectedLeft, expectedRight; // buffer channels that feed detector channels 0 and 1
};

void PrintTo (const Routing& r, std::ostream* os) { *os << r.name; }

class DetectorRouting : public ::testing::TestWithParam<Routing>
{};
} // namespace

TEST_P (DetectorRouting, DetectorTakesTheRightChannelsAndTheAnalyserTheirSum)
{
    const auto r = GetParam();
    constexpr int blockSize = 256;
    auto processor = makeProcessor (44100.0, blockSize, r.mainChannels == 1 ? Set::mono() : Set::stereo(), r.sidechain,
                                    useTransparentDetector);
    openFeed (*processor);

    const int channels = r.mainChannels + r.extraChannels;
    juce::AudioBuffer<float> input (channels, blockSize);
    for (int c = 0; c < channels; ++c)
        for (int i = 0; i < blockSize; ++i)
            input.setSample (c, i, (0.2f + 0.1f * (float) c) * (float) std::sin (0.01 * (c + 1) * (i + 1) + c));
    auto buffer = input;
    process (*processor, buffer);

    const auto& detector = processor->sidechainBuffer;
    const auto fed = drainFeed (*processor);
    ASSERT_EQ ((int) fed.size(), blockSize);
    for (int i = 0; i < blockSize; ++i)
    {
        const float left = input.getSample (r.expectedLeft, i), right = input.getSample (r.expectedRight, i);
        ASSERT_EQ (detector.getSample (0, i), left) << i;
        ASSERT_EQ (detector.getSample (1, i), right) << i;
        ASSERT_EQ (fed[(size_t) i], r.mainChannels == 1 ? left : left + right) << i;
        for (int c = r.mainChannels; c < channels; ++c)
            ASSERT_EQ (buffer.getSample (c, i), input.getSample (c, i)) << "side-chain channel " << c << " written";
    }
}

INSTANTIATE_TEST_SUITE_P (Layouts, DetectorRouting,
                          ::testing::Values (Routing { "StereoSidechainOff", 2, Set::disabled(), 0, 0, 1 },
                                             Routing { "StereoSidechainMono", 2, Set::mono(), 1, 2, 2 },
                                             Routing { "StereoSidechainStereo", 2, Set::stereo(), 2, 2, 3 },
                                             Routing { "StereoSidechainOnButNoChannels", 2, Set::stereo(), 0, 0, 1 },
                                             Routing { "MonoSidechainOff", 1, Set::disabled(), 0, 0, 0 },
                                             Routing { "MonoSidechainStereo", 1, Set::stereo(), 2, 1, 2 }),
                          [] (const auto& paramInfo) { return std::string (paramInfo.param.name); });

// The layout rule never gives one input with two outputs, but the chain copies the single input to
// the second output first, so the result matches a stereo processor fed that copy by the host.
TEST (Routing, OneInputWithTwoOutputsCopiesTheInputFirst)
{
    const Settings settings = [] (MorvikAudioProcessor& p) {
        useTransparentDetector (p);
        useDeterministicCompression (p);
    };
    auto processor = makeProcessor (44100.0, 256, Set::stereo(), Set::disabled(), settings);
    auto reference = makeProcessor (44100.0, 256, Set::stereo(), Set::disabled(), settings);
    processor->mainInputChannels = 1;
    std::mt19937 rng (21);
    juce::AudioBuffer<float> input (2, 256);

    for (int b = 0; b < 8; ++b)
    {
        fillNoise (input, rng); // channel 1 holds unrelated noise that must never be heard
        auto output = input, copied = input;
        copied.copyFrom (1, 0, input, 0, 0, 256);
        process (*processor, output);
        process (*reference, copied);
        ASSERT_TRUE (equal (output, copied)) << b;
        for (int i = 0; i < 256; ++i)
            ASSERT_EQ (processor->sidechainBuffer.getSample (1, i), input.getSample (0, i));
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
        process (processor, block);
        detector.insert (detector.end(), processor.sidechainBuffer.getReadPointer (0),
                         processor.sidechainBuffer.getReadPointer (0) + blockSize);
    }
    return detector;
}
} // namespace

TEST (SmoothStage, ThresholdAndGainFollowTheControl)
{
    for (const float smooth : { 0.0f, 50.0f, 100.0f })
        for (const float level : { 0.1f, 2.0f })
        {
            auto processor = makeProcessor (44100.0, 441, Set::stereo(), Set::disabled(), useTransparentDetector);
            for (auto [id, value] : { std::pair { ParameterIds::smooth, smooth },
                                      { ParameterIds::ratio, 4.0f },
                                      { ParameterIds::attack, 1.0f },
                                      { ParameterIds::release, 5.0f } })
                test::setParameter (*processor, id, value);

            const double thresholdDb = -0.6 * smooth, gainDb = 0.3 * smooth,
                         levelDb = 20.0 * std::log10 ((double) level);
            const double compressedDb = levelDb < thresholdDb ? levelDb : thresholdDb + (levelDb - thresholdDb) / 4.0;
            const float out = detectorForConstantInput (*processor, level, 30, 441).back();
            EXPECT_NEAR (20.0 * std::log10 ((double) out), compressedDb + gainDb, 0.001) << smooth << " " << level;
        }
}

// A step of constant level: the Smooth stage's peak envelope rises as 1 - c^(n+1), and the detector
// shows it through the static curve. The stage's attack is 0.8 x "Attack", also at the automatic end.
TEST (SmoothStage, AutomaticAttackGivesTheSmoothStage40ms)
{
    constexpr double rate = 44100.0;
    for (auto [attack, expectedMs] : { std::pair { 10.0f, 8.0 }, { ParameterIds::attackAuto, 40.008 } })
    {
        auto processor = makeProcessor (rate, 256, Set::stereo(), Set::disabled(), useTransparentDetector);
        for (auto [id, value] : { std::pair { ParameterIds::smooth, 100.0f },
                                  { ParameterIds::ratio, 2.0f },
                                  { ParameterIds::attack, attack } })
            test::setParameter (*processor, id, value);

        constexpr double level = 0.5, threshold = 0.001, ratio = 2.0;
        const double gain = std::pow (10.0, 1.5);
        const auto detector = detectorForConstantInput (*processor, (float) level, 12, 256);
        EXPECT_EQ (processor->compressor.levelDetector.autoAttack, attack > 50.0f);

        const double c = std::exp (-2.0 * juce::MathConstants<double>::pi * 1000.0 / rate / expectedMs);
        for (const int n : { 0, 200, 1000, 2500 })
        {
            // y = level (env / threshold)^(1/ratio - 1) gain, solved for env.
            const double envelope =
                threshold * std::pow (detector[(size_t) n] / (level * gain), 1.0 / (1.0 / ratio - 1.0));
            const double expected = level * (1.0 - std::pow (c, n + 1));
            EXPECT_NEAR (envelope, expected, 2.0e-4 * expected) << attack << " ms, sample " << n;
        }
    }
}

// A step down from 0.5 to 0.05 with an instant Smooth attack: the peak envelope falls as
// 0.05 + 0.45 c^k with the stage's release of 0.6 x "Release" (60 ms for 100 ms).
TEST (SmoothStage, ReleaseIsSixTenthsOfTheControl)
{
    constexpr double rate = 44100.0, threshold = 0.001, ratio = 2.0;
    auto processor = makeProcessor (rate, 256, Set::stereo(), Set::disabled(), useTransparentDetector);
    for (auto [id, value] : { std::pair { ParameterIds::smooth, 100.0f },
                              { ParameterIds::ratio, 2.0f },
                              { ParameterIds::attack, 0.0f },
                              { ParameterIds::release, 100.0f } })
        test::setParameter (*processor, id, value);

    detectorForConstantInput (*processor, 0.5f, 4, 256);
    const auto detector = detectorForConstantInput (*processor, 0.05f, 12, 256);

    const double gain = std::pow (10.0, 1.5);
    const double c = std::exp (-2.0 * juce::MathConstants<double>::pi * 1000.0 / rate / 60.0);
    for (const int k : { 1, 300, 1000, 2500 })
    {
        const double envelope =
            threshold * std::pow (detector[(size_t) k - 1] / (0.05 * gain), 1.0 / (1.0 / ratio - 1.0));
        const double expected = 0.05 + 0.45 * std::pow (c, k);
        EXPECT_NEAR (envelope, expected, 2.0e-4 * expected) << "sample " << k;
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
        auto processor = makeProcessor (48000.0, 512, Set::stereo(), Set::disabled(), useTransparentDetector);
        test::setParameter (*processor, ParameterIds::attack, attack);
        test::setParameter (*processor, ParameterIds::release, release);
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
    auto processor = makeProcessor (48000.0, 512, Set::stereo(), Set::disabled(), [] (MorvikAudioProcessor& p) {
        useTransparentDetector (p);
        useDeterministicCompression (p);
        for (auto [id, value] : { std::pair { ParameterIds::compress, 20.0f },
                                  { ParameterIds::attack, 0.0f },
                                  { ParameterIds::makeup, 0.0f } })
            test::setParameter (p, id, value);
    });

    juce::AudioBuffer<float> block (2, 512);
    for (int chunk = 0; chunk < 3; ++chunk)
    {
        juce::FloatVectorOperations::fill (block.getWritePointer (0), 0.5f, 512);
        juce::FloatVectorOperations::fill (block.getWritePointer (1), 0.125f, 512);
        process (*processor, block);
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
    fillNoise (input, rng);

    juce::AudioBuffer<float> renders[2] = { input, input };
    for (auto& render : renders)
    {
        auto processor = makeProcessor (48000.0, 256, Set::stereo(), Set::disabled(), [] (MorvikAudioProcessor& p) {
            test::setParameter (p, ParameterIds::character, 100.0f);
        });
        EXPECT_EQ (processor->console.getResponseLength(), 1);

        for (int start = 0; start < input.getNumSamples(); start += 256)
        {
            juce::AudioBuffer<float> block (render.getArrayOfWritePointers(), 2, start,
                                            juce::jmin (256, input.getNumSamples() - start));
            process (*processor, block);
            EXPECT_EQ (processor->console.getResponseLength(), 4) << "48 kHz: four taps from the first chunk on";
        }
    }

    EXPECT_TRUE (equal (renders[0], renders[1]));
}
