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

// A processor with the given main and side-chain layouts, its parameters set by `settings` before
// preparation, prepared.
std::unique_ptr<MorvikAudioProcessor> makeProcessor (double sampleRate, int blockSize, const Set& main, const Set& sidechain = Set::disabled(), const Settings& settings = {})
{
    auto processor = std::make_unique<MorvikAudioProcessor>();
    if (settings)
        settings (*processor);

    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (main);
    layout.inputBuses.add (sidechain);
    layout.outputBuses.add (main);
    EXPECT_TRUE (processor->setBusesLayout (layout));

    processor->setRateAndBufferSizeDetails (sampleRate, blockSize);
    processor->prepareToPlay (sampleRate, blockSize);
    return processor;
}

void process (MorvikAudioProcessor& processor, juce::AudioBuffer<float>& buffer)
{
    juce::MidiBuffer midi;
    processor.processBlock (buffer, midi);
}

// Settings under which the processed signal clearly differs from the dry one (compression and
// makeup), and which keep the colour stage out of the output: with "Character" at 0 the blend
// outputs exactly its dry input once its ramp has settled. The colour stage takes its response on
// a background thread, so it is the one part whose timing differs between two processors.
void useDeterministicCompression (MorvikAudioProcessor& processor)
{
    test::setParameter (processor, "Compress", 10.0f);
    test::setParameter (processor, "Ratio", 4.0f);
    test::setParameter (processor, "Attack", 1.0f);
    test::setParameter (processor, "Release", 50.0f);
    test::setParameter (processor, "Makeup", 12.0f);
    test::setParameter (processor, "Character", 0.0f);
    test::setParameter (processor, "Mix", 1.0f);
}

// Detector equaliser bypassed and the "Smooth" stage transparent for signals below full scale
// (threshold 0 dB, gain 0 dB), so the detector buffer shows exactly what was routed into it.
void useTransparentDetector (MorvikAudioProcessor& processor)
{
    for (const char* id : { "1On", "2On", "3On" })
        test::setParameter (processor, id, 0.0f);
    test::setParameter (processor, "Smooth", 0.0f);
}

struct NoiseSource
{
    explicit NoiseSource (unsigned seed, float amplitude = 0.5f) : rng (seed), noise (-amplitude, amplitude) {}

    void fill (juce::AudioBuffer<float>& buffer)
    {
        for (int c = 0; c < buffer.getNumChannels(); ++c)
            for (int i = 0; i < buffer.getNumSamples(); ++i)
                buffer.setSample (c, i, noise (rng));
    }

    std::mt19937 rng;
    std::uniform_real_distribution<float> noise;
};

// Per-channel sample streams collected over several blocks.
struct Stream
{
    explicit Stream (int numChannels) : channels ((size_t) numChannels) {}

    void append (const juce::AudioBuffer<float>& buffer)
    {
        for (size_t c = 0; c < channels.size(); ++c)
            channels[c].insert (channels[c].end(), buffer.getReadPointer ((int) c), buffer.getReadPointer ((int) c) + buffer.getNumSamples());
    }

    size_t size() const { return channels[0].size(); }

    std::vector<std::vector<float>> channels;
};

// The crossfade weight of the processed signal, sample by sample, as the chain must move it: one
// step of the float 1/length per sample toward the chunk's target, clamped at the target.
std::vector<float> fadeWeights (float start, const std::vector<float>& targetPerSample, int length)
{
    const float step = 1.0f / (float) length;
    std::vector<float> weights;
    float g = start;
    for (const float target : targetPerSample)
    {
        g = target > g ? std::min (g + step, target) : std::max (g - step, target);
        weights.push_back (g);
    }
    return weights;
}

std::vector<float> drainFeed (MorvikAudioProcessor& processor)
{
    auto& fifo = processor.analyserFifo;
    int start1, size1, start2, size2;
    fifo.prepareToRead (fifo.getNumReady(), start1, size1, start2, size2);
    const float* data = processor.analyserBuffer.getReadPointer (0);
    std::vector<float> values (data + start1, data + start1 + size1);
    values.insert (values.end(), data + start2, data + start2 + size2);
    fifo.finishedRead (size1 + size2);
    return values;
}

void openFeed (MorvikAudioProcessor& processor)
{
    processor.resizeAnalyserFeed (48000);
    processor.analyserEnabled = true;
}

bool buffersEqual (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int numChannels)
{
    for (int c = 0; c < numChannels; ++c)
        for (int i = 0; i < a.getNumSamples(); ++i)
            if (a.getSample (c, i) != b.getSample (c, i))
                return false;
    return true;
}
} // namespace

//==============================================================================
// Power switch

TEST (PowerSwitch, FirstChunkAfterPreparationWithPowerOffIsDryWithoutFade)
{
    for (const int mainChannels : { 1, 2 })
    {
        SCOPED_TRACE (mainChannels);
        auto processor = makeProcessor (44100.0, 512, mainChannels == 1 ? Set::mono() : Set::stereo());
        test::setParameter (*processor, "Power", 0.0f);
        useDeterministicCompression (*processor);
        processor->gainReductionMeter = 5.0f;
        processor->inputLevelMeter = 3.0f;

        juce::AudioBuffer<float> input (mainChannels, 512);
        NoiseSource (7).fill (input);
        auto output = input;
        process (*processor, output);

        EXPECT_TRUE (buffersEqual (output, input, mainChannels));
        EXPECT_EQ (processor->gainReductionMeter.load(), -7.0f);
        EXPECT_EQ (processor->inputLevelMeter.load(), 0.0f);
        EXPECT_EQ (processor->powerFadeGain, 0.0f);
    }
}

TEST (PowerSwitch, PreparationAgainSnapsToTheCurrentSwitchPosition)
{
    // Running processed, then prepared again while switched off: the next chunk is dry at once.
    auto processor = makeProcessor (44100.0, 256, Set::stereo());
    useDeterministicCompression (*processor);
    NoiseSource noise (3);
    juce::AudioBuffer<float> block (2, 256);
    for (int b = 0; b < 10; ++b)
    {
        noise.fill (block);
        process (*processor, block);
    }

    test::setParameter (*processor, "Power", 0.0f);
    processor->prepareToPlay (44100.0, 256);
    noise.fill (block);
    auto output = block;
    process (*processor, output);
    EXPECT_TRUE (buffersEqual (output, block, 2));

    // Switched on before the next preparation: the first chunk is fully processed, exactly as in
    // a processor that was never switched off.
    test::setParameter (*processor, "Power", 1.0f);
    processor->prepareToPlay (44100.0, 256);
    auto fresh = makeProcessor (44100.0, 256, Set::stereo(), Set::disabled(), useDeterministicCompression);

    for (int b = 0; b < 12; ++b)
    {
        noise.fill (block);
        auto a = block, c = block;
        process (*processor, a);
        process (*fresh, c);
        EXPECT_TRUE (buffersEqual (a, c, 2)) << "block " << b;
        if (b == 11)
        {
            EXPECT_FALSE (buffersEqual (a, block, 2));
        }
    }
}

class PowerFade : public ::testing::TestWithParam<std::pair<double, int>>
{
};

// Switching off moves the output from processed to dry over the fade length. A second processor
// that stays on supplies the processed signal: during the fade both run the full chain on the
// same input, so they agree sample for sample.
TEST_P (PowerFade, SwitchingOffFadesToExactlyDry)
{
    const double sampleRate = GetParam().first;
    const int expectedFadeSamples = GetParam().second;
    constexpr int blockSize = 256;

    auto reference = makeProcessor (sampleRate, blockSize, Set::stereo());
    auto switched = makeProcessor (sampleRate, blockSize, Set::stereo());
    for (auto* p : { reference.get(), switched.get() })
        useDeterministicCompression (*p);
    openFeed (*switched);

    NoiseSource noise (11);
    juce::AudioBuffer<float> input (2, blockSize);
    auto runBoth = [&] (Stream* dry, Stream* processed, Stream* out)
    {
        noise.fill (input);
        auto a = input, b = input;
        process (*reference, a);
        process (*switched, b);
        if (dry != nullptr)
        {
            dry->append (input);
            processed->append (a);
            out->append (b);
        }
        return buffersEqual (a, b, 2);
    };

    // Warm-up: the blends settle, after which both processors must agree exactly.
    bool agree = false;
    for (int b = 0; b < 40; ++b)
        agree = runBoth (nullptr, nullptr, nullptr);
    ASSERT_TRUE (agree);
    drainFeed (*switched);

    test::setParameter (*switched, "Power", 0.0f);

    Stream dry (2), processed (2), out (2);
    const int fadeBlocks = (expectedFadeSamples + blockSize - 1) / blockSize;
    for (int b = 0; b < fadeBlocks; ++b)
    {
        runBoth (&dry, &processed, &out);

        // Meters and analyser keep running while the fade lasts.
        EXPECT_NE (switched->gainReductionMeter.load(), -7.0f);
        EXPECT_GT (switched->inputLevelMeter.load(), 0.0f);
    }
    const auto fedDuringFade = drainFeed (*switched);
    EXPECT_EQ ((int) fedDuringFade.size(), fadeBlocks * blockSize);
    EXPECT_TRUE (std::any_of (fedDuringFade.begin(), fedDuringFade.end(), [] (float v) { return v != 0.0f; }));

    for (int b = 0; b < 3; ++b)
        runBoth (&dry, &processed, &out);

    const auto weights = fadeWeights (1.0f, std::vector<float> (dry.size(), 0.0f), switched->powerFadeLength);
    const int total = (int) dry.size();

    // The first sample from which the output is the dry input exactly, on both channels.
    int firstDry = total;
    while (firstDry > 0 && out.channels[0][(size_t) firstDry - 1] == dry.channels[0][(size_t) firstDry - 1]
           && out.channels[1][(size_t) firstDry - 1] == dry.channels[1][(size_t) firstDry - 1])
        --firstDry;

    // 882 samples at 44.1 kHz; at 48 kHz the 960 float steps fall just short of zero and a 961st
    // is needed, so the output is exactly dry from sample index length - 1 on.
    EXPECT_EQ (firstDry, expectedFadeSamples - 1);
    EXPECT_EQ (weights[(size_t) expectedFadeSamples - 2] > 0.0f, true);
    EXPECT_EQ (weights[(size_t) expectedFadeSamples - 1], 0.0f);

    // Processing made a real difference, so the test can see the fade at all.
    double largestDifference = 0.0;
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < total; ++i)
            largestDifference = std::max (largestDifference, (double) std::abs (processed.channels[(size_t) c][(size_t) i] - dry.channels[(size_t) c][(size_t) i]));
    EXPECT_GT (largestDifference, 0.1);

    // Before that, the output is the processed and dry signals weighted by the fade.
    for (int c = 0; c < 2; ++c)
    {
        for (int i = 0; i < expectedFadeSamples - 1; ++i)
        {
            const float g = weights[(size_t) i];
            const float p = processed.channels[(size_t) c][(size_t) i];
            const float x = dry.channels[(size_t) c][(size_t) i];
            const double expected = (double) p * g + (double) x * (1.0 - g);
            ASSERT_NEAR (out.channels[(size_t) c][(size_t) i], expected, 1.0e-6 * (std::abs (p) + std::abs (x)) + 1.0e-7)
                << "channel " << c << ", sample " << i;
        }
    }

    // After the fade: untouched audio, meters at rest.
    EXPECT_EQ (switched->gainReductionMeter.load(), -7.0f);
    EXPECT_EQ (switched->inputLevelMeter.load(), 0.0f);
}

INSTANTIATE_TEST_SUITE_P (Rates, PowerFade, ::testing::Values (std::make_pair (44100.0, 882), std::make_pair (48000.0, 961)));

TEST (PowerSwitch, ReversalMidFadeTurnsBackWithoutAJump)
{
    constexpr double sampleRate = 44100.0;
    constexpr int blockSize = 100;
    auto reference = makeProcessor (sampleRate, blockSize, Set::stereo());
    auto switched = makeProcessor (sampleRate, blockSize, Set::stereo());
    for (auto* p : { reference.get(), switched.get() })
        useDeterministicCompression (*p);

    // A slow sine, so a jump of the fade weight would stand out from the signal's own slope.
    int position = 0;
    juce::AudioBuffer<float> input (2, blockSize);
    Stream dry (2), processed (2), out (2);
    std::vector<float> targets;
    auto runBoth = [&] (bool collect, float target)
    {
        test::fillSine (input, sampleRate, 60.0, 0.4f, position);
        position += blockSize;
        auto a = input, b = input;
        process (*reference, a);
        process (*switched, b);
        if (collect)
        {
            dry.append (input);
            processed.append (a);
            out.append (b);
            targets.insert (targets.end(), (size_t) blockSize, target);
        }
        return buffersEqual (a, b, 2);
    };

    bool agree = false;
    for (int b = 0; b < 30; ++b)
        agree = runBoth (false, 1.0f);
    ASSERT_TRUE (agree);

    // Off for three chunks (300 of the 882 steps), then on again.
    test::setParameter (*switched, "Power", 0.0f);
    for (int b = 0; b < 3; ++b)
        runBoth (true, 0.0f);
    test::setParameter (*switched, "Power", 1.0f);
    for (int b = 0; b < 8; ++b)
        runBoth (true, 1.0f);

    const float step = 1.0f / (float) switched->powerFadeLength;
    const auto weights = fadeWeights (1.0f, targets, switched->powerFadeLength);
    EXPECT_NEAR (weights[299], 1.0f - 300.0f * step, 1.0e-5f);
    EXPECT_EQ (weights[599], 1.0f);

    for (int c = 0; c < 2; ++c)
    {
        const auto& x = dry.channels[(size_t) c];
        const auto& p = processed.channels[(size_t) c];
        const auto& y = out.channels[(size_t) c];

        for (size_t i = 0; i < y.size(); ++i)
        {
            const float g = weights[i];
            const double expected = (double) p[i] * g + (double) x[i] * (1.0 - g);
            ASSERT_NEAR (y[i], expected, 1.0e-6 * (std::abs (p[i]) + std::abs (x[i])) + 1.0e-7) << "channel " << c << ", sample " << i;

            // Sample to sample, the output moves no more than the two signals do plus one fade
            // step across their difference; a jump of the weight would add the whole difference.
            if (i > 0)
            {
                const double allowed = std::abs (p[i] - p[i - 1]) + std::abs (x[i] - x[i - 1]) + step * std::abs (p[i - 1] - x[i - 1]) + 1.0e-6;
                ASSERT_LE (std::abs (y[i] - y[i - 1]), allowed) << "channel " << c << ", sample " << i;
            }
        }

        // Back at full weight the output is the processed signal exactly.
        for (size_t i = 600; i < y.size(); ++i)
            ASSERT_EQ (y[i], p[i]) << "channel " << c << ", sample " << i;
    }
}

// Fully off, the stages are skipped and keep their state. Switched on again, the output fades from
// dry to the processed signal of a processor that saw the same audio minus the skipped chunks.
TEST (PowerSwitch, SwitchingOnFadesInAndStagesResumeWhereTheyStopped)
{
    constexpr double sampleRate = 44100.0;
    constexpr int blockSize = 128;
    auto switched = makeProcessor (sampleRate, blockSize, Set::stereo());
    auto reference = makeProcessor (sampleRate, blockSize, Set::stereo());
    for (auto* p : { reference.get(), switched.get() })
        useDeterministicCompression (*p);

    NoiseSource noise (5);
    juce::AudioBuffer<float> input (2, blockSize);
    auto runBoth = [&]
    {
        noise.fill (input);
        auto a = input, b = input;
        process (*reference, a);
        process (*switched, b);
        return buffersEqual (a, b, 2);
    };

    bool agree = false;
    for (int b = 0; b < 40; ++b)
        agree = runBoth();
    ASSERT_TRUE (agree);

    // Fade out completely: 882 samples end inside the seventh chunk of 128.
    test::setParameter (*switched, "Power", 0.0f);
    for (int b = 0; b < 7; ++b)
        runBoth();
    ASSERT_EQ (switched->powerFadeGain, 0.0f);

    // Fully off: only the switched processor sees these chunks, and passes them untouched.
    for (int b = 0; b < 20; ++b)
    {
        noise.fill (input);
        auto b2 = input;
        process (*switched, b2);
        ASSERT_TRUE (buffersEqual (b2, input, 2));
    }

    test::setParameter (*switched, "Power", 1.0f);
    Stream dry (2), processed (2), out (2);
    for (int b = 0; b < 10; ++b)
    {
        noise.fill (input);
        auto a = input, b2 = input;
        process (*reference, a);
        process (*switched, b2);
        dry.append (input);
        processed.append (a);
        out.append (b2);
    }

    const auto weights = fadeWeights (0.0f, std::vector<float> (dry.size(), 1.0f), switched->powerFadeLength);
    EXPECT_LT (weights[880], 1.0f);
    EXPECT_EQ (weights[881], 1.0f);

    for (int c = 0; c < 2; ++c)
    {
        const auto& x = dry.channels[(size_t) c];
        const auto& p = processed.channels[(size_t) c];
        const auto& y = out.channels[(size_t) c];

        // The first faded sample is already one step away from dry.
        for (size_t i = 0; i < 881; ++i)
        {
            const float g = weights[i];
            const double expected = (double) p[i] * g + (double) x[i] * (1.0 - g);
            ASSERT_NEAR (y[i], expected, 1.0e-6 * (std::abs (p[i]) + std::abs (x[i])) + 1.0e-7) << "channel " << c << ", sample " << i;
        }

        for (size_t i = 881; i < y.size(); ++i)
            ASSERT_EQ (y[i], p[i]) << "channel " << c << ", sample " << i;
    }
}

TEST (PowerSwitch, FullyOffKeepsMetersAtRestAndFeedsSilenceToAnOpenAnalyser)
{
    for (const int mainChannels : { 1, 2 })
    {
        SCOPED_TRACE (mainChannels);
        constexpr int blockSize = 200;
        auto processor = makeProcessor (44100.0, blockSize, mainChannels == 1 ? Set::mono() : Set::stereo());
        useDeterministicCompression (*processor);
        openFeed (*processor);

        NoiseSource noise (9);
        juce::AudioBuffer<float> block (mainChannels, blockSize);
        for (int b = 0; b < 5; ++b)
        {
            noise.fill (block);
            process (*processor, block);
        }

        const auto whileOn = drainFeed (*processor);
        EXPECT_EQ ((int) whileOn.size(), 5 * blockSize);
        EXPECT_TRUE (std::any_of (whileOn.begin(), whileOn.end(), [] (float v) { return v != 0.0f; }));

        test::setParameter (*processor, "Power", 0.0f);
        for (int b = 0; b < 5; ++b) // 882 samples of fade end inside the fifth chunk
        {
            noise.fill (block);
            process (*processor, block);
        }
        ASSERT_EQ (processor->powerFadeGain, 0.0f);
        drainFeed (*processor);

        for (int b = 0; b < 10; ++b)
        {
            processor->gainReductionMeter = 3.0f;
            processor->inputLevelMeter = 4.0f;
            processor->analyserDataReady = false;

            noise.fill (block);
            auto output = block;
            process (*processor, output);

            EXPECT_TRUE (buffersEqual (output, block, mainChannels));
            EXPECT_EQ (processor->gainReductionMeter.load(), -7.0f);
            EXPECT_EQ (processor->inputLevelMeter.load(), 0.0f);
            EXPECT_TRUE (processor->analyserDataReady.load());
        }

        const auto whileOff = drainFeed (*processor);
        EXPECT_EQ ((int) whileOff.size(), 10 * blockSize);
        EXPECT_TRUE (std::all_of (whileOff.begin(), whileOff.end(), [] (float v) { return v == 0.0f; }));

        // With no editor open nothing is pushed, on or off.
        processor->analyserEnabled = false;
        processor->analyserDataReady = false;
        for (const float power : { 0.0f, 1.0f })
        {
            test::setParameter (*processor, "Power", power);
            for (int b = 0; b < 6; ++b)
            {
                noise.fill (block);
                process (*processor, block);
            }
        }
        EXPECT_FALSE (processor->analyserDataReady.load());
        EXPECT_EQ (processor->analyserFifo.getNumReady(), 0);
    }
}

TEST (PowerSwitch, EmptyChunkTakesNoFadeStep)
{
    auto processor = makeProcessor (44100.0, 64, Set::stereo());
    juce::AudioBuffer<float> block (2, 64);
    NoiseSource noise (2);
    for (int b = 0; b < 4; ++b)
    {
        noise.fill (block);
        process (*processor, block);
    }

    test::setParameter (*processor, "Power", 0.0f);
    noise.fill (block);
    process (*processor, block);
    const float reached = processor->powerFadeGain;
    ASSERT_GT (reached, 0.0f);
    ASSERT_LT (reached, 1.0f);

    juce::AudioBuffer<float> empty (2, 0);
    process (*processor, empty);
    EXPECT_EQ (processor->powerFadeGain, reached);
}

//==============================================================================
// Routing of the detector and of the channels

namespace
{
struct Routing
{
    const char* name;
    int mainChannels;
    Set sidechain;
    int extraChannels;   // channels in the host buffer after the main ones
    int expectedLeft;    // buffer channel that feeds detector channel 0
    int expectedRight;   // ... and detector channel 1
};

void PrintTo (const Routing& routing, std::ostream* os) { *os << routing.name; }

class DetectorRouting : public ::testing::TestWithParam<Routing>
{
};
} // namespace

TEST_P (DetectorRouting, DetectorTakesTheRightChannelsAndTheAnalyserTheirSum)
{
    const auto routing = GetParam();
    constexpr int blockSize = 256;
    const int M = routing.mainChannels;
    const auto main = M == 1 ? Set::mono() : Set::stereo();

    auto processor = makeProcessor (44100.0, blockSize, main, routing.sidechain);
    EXPECT_EQ (processor->getBus (true, 1)->isEnabled(), ! routing.sidechain.isDisabled());
    useTransparentDetector (*processor);
    openFeed (*processor);

    // Every channel carries its own sine, all below full scale.
    const int B = M + routing.extraChannels;
    juce::AudioBuffer<float> input (B, blockSize);
    for (int c = 0; c < B; ++c)
        for (int i = 0; i < blockSize; ++i)
            input.setSample (c, i, (0.2f + 0.1f * (float) c) * (float) std::sin (0.01 * (c + 1) * (i + 1) + c));

    auto buffer = input;
    process (*processor, buffer);

    const auto& detector = processor->sidechainBuffer;
    ASSERT_EQ (detector.getNumChannels(), 2);
    ASSERT_EQ (detector.getNumSamples(), blockSize);
    for (int i = 0; i < blockSize; ++i)
    {
        ASSERT_EQ (detector.getSample (0, i), input.getSample (routing.expectedLeft, i)) << "sample " << i;
        ASSERT_EQ (detector.getSample (1, i), input.getSample (routing.expectedRight, i)) << "sample " << i;
    }

    // Channels past the outputs are read, never written.
    for (int c = M; c < B; ++c)
        for (int i = 0; i < blockSize; ++i)
            ASSERT_EQ (buffer.getSample (c, i), input.getSample (c, i)) << "channel " << c;

    // A mono input sends detector channel 0 alone, a stereo one the sum of both.
    const auto fed = drainFeed (*processor);
    ASSERT_EQ ((int) fed.size(), blockSize);
    for (int i = 0; i < blockSize; ++i)
    {
        const float expected = M == 1 ? detector.getSample (0, i) : detector.getSample (0, i) + detector.getSample (1, i);
        ASSERT_EQ (fed[(size_t) i], expected) << "sample " << i;
    }
}

INSTANTIATE_TEST_SUITE_P (
    Layouts,
    DetectorRouting,
    ::testing::Values (
        Routing { "StereoSidechainOff", 2, Set::disabled(), 0, 0, 1 },
        Routing { "StereoSidechainOffExtraChannelsIgnored", 2, Set::disabled(), 2, 0, 1 },
        Routing { "StereoSidechainMono", 2, Set::mono(), 1, 2, 2 },
        Routing { "StereoSidechainStereo", 2, Set::stereo(), 2, 2, 3 },
        Routing { "StereoSidechainOnButNoChannels", 2, Set::stereo(), 0, 0, 1 },
        Routing { "StereoSidechainOnOddChannelCount", 2, Set::stereo(), 3, 0, 1 },
        Routing { "MonoSidechainOff", 1, Set::disabled(), 0, 0, 0 },
        Routing { "MonoSidechainMono", 1, Set::mono(), 1, 1, 1 },
        Routing { "MonoSidechainStereo", 1, Set::stereo(), 2, 1, 2 },
        Routing { "MonoSidechainOnButNoChannels", 1, Set::mono(), 0, 0, 0 }),
    [] (const ::testing::TestParamInfo<Routing>& paramInfo) { return std::string (paramInfo.param.name); });

TEST (Routing, ActiveBandsFilterTheDetectorBeforeTheAnalyserSeesIt)
{
    // Band 1 as a Low Cut at 2 kHz takes a 100 Hz tone out of the detector (12 dB per octave over
    // more than four octaves); switched off, the tone passes unchanged.
    for (const bool bandOn : { true, false })
    {
        SCOPED_TRACE (bandOn);
        auto processor = makeProcessor (48000.0, 480, Set::stereo(), Set::disabled(), [bandOn] (MorvikAudioProcessor& p)
                                        {
                                            useTransparentDetector (p);
                                            test::setParameter (p, "1Type", 0.0f);
                                            test::setParameter (p, "1Freq", 2000.0f);
                                            test::setParameter (p, "1On", bandOn ? 1.0f : 0.0f);
                                        });
        openFeed (*processor);

        juce::AudioBuffer<float> block (2, 480);
        float detectorPeak = 0.0f, fedPeak = 0.0f;
        for (int b = 0; b < 20; ++b)
        {
            test::fillSine (block, 48000.0, 100.0, 0.5f, b * 480);
            process (*processor, block);
            const auto fed = drainFeed (*processor);
            if (b >= 10)
            {
                detectorPeak = std::max (detectorPeak, test::peakOrInfinity (processor->sidechainBuffer));
                for (const float v : fed)
                    fedPeak = std::max (fedPeak, std::abs (v));
            }
        }

        if (bandOn)
        {
            EXPECT_LT (detectorPeak, 0.005f);
            EXPECT_LT (fedPeak, 0.01f);
        }
        else
        {
            EXPECT_NEAR (detectorPeak, 0.5f, 0.001f);
            EXPECT_NEAR (fedPeak, 1.0f, 0.002f);
        }
    }
}

TEST (Routing, SidechainDrivesTheCompressionOfTheMainSignal)
{
    // A quiet main signal with a loud side-chain is compressed; with a silent side-chain it is not.
    auto measure = [] (float sidechainAmplitude)
    {
        auto processor = makeProcessor (44100.0, 256, Set::stereo(), Set::stereo(), useDeterministicCompression);
        test::setParameter (*processor, "Compress", 30.0f);
        juce::AudioBuffer<float> block (4, 256);
        float deepest = 0.0f;
        for (int b = 0; b < 40; ++b)
        {
            block.clear();
            for (int c = 0; c < 4; ++c)
                for (int i = 0; i < 256; ++i)
                    block.setSample (c, i, (c < 2 ? 0.001f : sidechainAmplitude) * (float) std::sin (0.05 * (b * 256 + i)));
            process (*processor, block);
            deepest = std::min (deepest, processor->gainReductionMeter.load());
        }
        return deepest;
    };

    EXPECT_LT (measure (0.9f), -10.0f);
    EXPECT_EQ (measure (0.0f), 0.0f);
}

TEST (Routing, MonoInStereoOutIsRefusedByTheLayoutRule)
{
    MorvikAudioProcessor processor;
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (Set::mono());
    layout.inputBuses.add (Set::disabled());
    layout.outputBuses.add (Set::stereo());
    EXPECT_FALSE (processor.isBusesLayoutSupported (layout));
    EXPECT_FALSE (processor.setBusesLayout (layout));
}

// The layout rule never produces one input with two outputs, but the chain still handles it: the
// single input is copied to the second output before anything else, so the dry copy, the detector
// and the output all see it. The result must match a stereo processor fed that copy by the host.
TEST (Routing, OneInputWithTwoOutputsCopiesTheInputFirst)
{
    constexpr int blockSize = 256;
    const Settings settings = [] (MorvikAudioProcessor& p)
    {
        useTransparentDetector (p);
        useDeterministicCompression (p);
    };
    auto processor = makeProcessor (44100.0, blockSize, Set::stereo(), Set::disabled(), settings);
    auto reference = makeProcessor (44100.0, blockSize, Set::stereo(), Set::disabled(), settings);
    processor->mainInputChannels = 1;
    openFeed (*processor);

    NoiseSource noise (21);
    juce::AudioBuffer<float> input (2, blockSize);
    for (int b = 0; b < 14; ++b)
    {
        if (b == 6)
            test::setParameter (*processor, "Power", 0.0f), test::setParameter (*reference, "Power", 0.0f);

        noise.fill (input); // channel 1 holds unrelated noise that must never be heard
        auto output = input;
        process (*processor, output);

        auto copied = input;
        copied.copyFrom (1, 0, input, 0, 0, blockSize);
        process (*reference, copied);

        ASSERT_TRUE (buffersEqual (output, copied, 2)) << "block " << b;

        for (int i = 0; i < blockSize; ++i)
        {
            ASSERT_EQ (processor->sidechainBuffer.getSample (0, i), input.getSample (0, i));
            ASSERT_EQ (processor->sidechainBuffer.getSample (1, i), input.getSample (0, i));
        }

        // Fully off (the fade ends inside the fourth chunk after the switch): both outputs carry
        // the input channel untouched.
        if (b >= 10)
        {
            for (int i = 0; i < blockSize; ++i)
            {
                ASSERT_EQ (output.getSample (0, i), input.getSample (0, i));
                ASSERT_EQ (output.getSample (1, i), input.getSample (0, i));
            }
        }

        const auto fed = drainFeed (*processor);
        ASSERT_EQ ((int) fed.size(), blockSize);
        for (int i = 0; i < blockSize; ++i)
            ASSERT_EQ (fed[(size_t) i], b >= 10 ? 0.0f : processor->sidechainBuffer.getSample (0, i));
    }
}

//==============================================================================
// "Smooth", "Attack" and the compressor settings

namespace
{
// The detector after the chain for a constant input level, once the Smooth stage has settled.
float settledDetectorLevel (MorvikAudioProcessor& processor, float level)
{
    juce::AudioBuffer<float> block (2, 441);
    for (int b = 0; b < 30; ++b)
    {
        for (int c = 0; c < 2; ++c)
            std::fill (block.getWritePointer (c), block.getWritePointer (c) + block.getNumSamples(), level);
        process (processor, block);
    }
    return processor.sidechainBuffer.getSample (0, 440);
}
} // namespace

TEST (SmoothStage, ThresholdAndGainFollowTheControl)
{
    for (const float smooth : { 0.0f, 50.0f, 100.0f })
    {
        SCOPED_TRACE (smooth);
        for (const float level : { 0.1f, 2.0f })
        {
            SCOPED_TRACE (level);
            auto processor = makeProcessor (44100.0, 441, Set::stereo());
            useTransparentDetector (*processor);
            test::setParameter (*processor, "Smooth", smooth);
            test::setParameter (*processor, "Ratio", 4.0f);
            test::setParameter (*processor, "Attack", 1.0f);
            test::setParameter (*processor, "Release", 5.0f);

            const double ratio = test::getParameter (*processor, "Ratio");
            const double thresholdDb = -0.6 * smooth;
            const double gainDb = 0.3 * smooth;
            const double levelDb = 20.0 * std::log10 ((double) level);
            const double compressedDb = levelDb < thresholdDb ? levelDb : thresholdDb + (levelDb - thresholdDb) / ratio;

            const float out = settledDetectorLevel (*processor, level);
            EXPECT_NEAR (20.0 * std::log10 ((double) out), compressedDb + gainDb, 0.001);
            EXPECT_NEAR (processor->smoothGain.getGainDecibels(), (float) gainDb, 1.0e-4f);
        }
    }
}

class AttackSetting : public ::testing::TestWithParam<std::pair<float, double>>
{
};

// A step of constant level: the Smooth stage's peak envelope rises as 1 - c^(n+1) with the
// coefficient of its attack time; the detector output reveals the envelope through the known
// static curve. That pins the Smooth stage's attack to 0.8 x "Attack", also at the automatic end.
TEST_P (AttackSetting, SmoothStageAttackIsEightTenthsOfTheControl)
{
    const float attack = GetParam().first;
    const double expectedAttackMs = GetParam().second;
    constexpr double sampleRate = 44100.0;
    constexpr int blockSize = 256;

    auto processor = makeProcessor (sampleRate, blockSize, Set::stereo());
    useTransparentDetector (*processor);
    test::setParameter (*processor, "Smooth", 100.0f);
    test::setParameter (*processor, "Ratio", 2.0f);
    test::setParameter (*processor, "Attack", attack);
    ASSERT_EQ (test::getParameter (*processor, "Attack"), attack);

    constexpr float level = 0.5f;
    juce::AudioBuffer<float> block (2, blockSize);
    std::vector<float> detector;
    for (int b = 0; b < 12; ++b)
    {
        for (int c = 0; c < 2; ++c)
            std::fill (block.getWritePointer (c), block.getWritePointer (c) + blockSize, level);
        process (*processor, block);
        detector.insert (detector.end(), processor->sidechainBuffer.getReadPointer (0), processor->sidechainBuffer.getReadPointer (0) + blockSize);
    }

    EXPECT_EQ (processor->compressor.levelDetector.autoAttack, attack == 50.01f);

    const double ratio = test::getParameter (*processor, "Ratio");
    const double threshold = std::pow (10.0, -60.0 / 20.0);
    const double gain = std::pow (10.0, 30.0 / 20.0);
    const double coefficient = std::exp (-2.0 * juce::MathConstants<double>::pi * 1000.0 / sampleRate / expectedAttackMs);

    for (const int n : { 0, 20, 200, 441, 1000, 2500 })
    {
        // y = level x (env / threshold)^(1/ratio - 1) x gain, solved for env.
        const double y = detector[(size_t) n];
        const double envelope = threshold * std::pow (y / (level * gain), 1.0 / (1.0 / ratio - 1.0));
        const double expected = level * (1.0 - std::pow (coefficient, n + 1));
        EXPECT_NEAR (envelope, expected, 2.0e-4 * expected) << "sample " << n;
    }
}

INSTANTIATE_TEST_SUITE_P (Times, AttackSetting, ::testing::Values (std::make_pair (10.0f, 8.0), std::make_pair (50.01f, 40.008)));

TEST (CompressorSettings, EveryChunkWritesTheControlsIntoTheCompressor)
{
    auto processor = makeProcessor (44100.0, 128, Set::stereo());
    juce::AudioBuffer<float> block (2, 128);
    block.clear();

    EXPECT_EQ (processor->compressor.stereoLink, 100.0f);

    test::setParameter (*processor, "Compress", 15.0f);
    test::setParameter (*processor, "Ratio", 4.0f);
    test::setParameter (*processor, "Attack", 50.01f);
    test::setParameter (*processor, "Release", 1501.0f);
    test::setParameter (*processor, "Makeup", 6.5f);
    test::setParameter (*processor, "Mix", 0.25f);
    process (*processor, block);

    const auto& c = processor->compressor;
    const float ratio = test::getParameter (*processor, "Ratio");
    EXPECT_EQ (c.gainComputer.threshold, -test::getParameter (*processor, "Compress"));
    EXPECT_NEAR (c.gainComputer.threshold, -15.0f, 1.0e-5f);
    EXPECT_EQ (c.gainComputer.ratio, ratio);
    EXPECT_NEAR (c.gainComputer.slope, -0.75f, 1.0e-5f);
    EXPECT_TRUE (c.levelDetector.autoAttack);
    EXPECT_TRUE (c.levelDetector.autoRelease);
    EXPECT_EQ (c.makeupDb, test::getParameter (*processor, "Makeup"));
    EXPECT_EQ (c.mix, test::getParameter (*processor, "Mix"));
    EXPECT_EQ (c.stereoLink, 50.0f);

    test::setParameter (*processor, "Ratio", 20.0f);
    test::setParameter (*processor, "Attack", 12.0f);
    test::setParameter (*processor, "Release", 300.0f);
    process (*processor, block);
    EXPECT_NEAR (processor->compressor.gainComputer.slope, -0.95f, 1.0e-5f);
    EXPECT_FALSE (processor->compressor.levelDetector.autoAttack);
    EXPECT_FALSE (processor->compressor.levelDetector.autoRelease);
}
