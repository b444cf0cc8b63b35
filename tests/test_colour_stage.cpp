// The colour stage: the console convolution with its embedded response and fixed lift, and the
// Grain saturation with its polynomial, waveshaper, gains, low-pass and ramps.

#include "engine/dsp/ConsoleConvolution.h"
#include "engine/dsp/Grain.h"
#include "support/AllocationCounter.h"

#include <BinaryData.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace
{
constexpr double twoTo23 = 8388608.0;
constexpr int storedValues[] = { 7017034, 5599834, 2255224, -2076503, -2353119, 825275, 2817751 }; // frames 10..16
const double liftGain = std::pow (10.0, 17.0 / 20.0);
const double outGain = std::pow (10.0, -3.0 / 20.0);
const double trimGain = std::pow (10.0, -2.0 / 20.0);

juce::AudioFormatManager& formats()
{
    static juce::AudioFormatManager manager;
    if (manager.getNumKnownFormats() == 0)
        manager.registerBasicFormats();
    return manager;
}

template <typename Stage>
void processRange (Stage& stage, juce::AudioBuffer<float>& buffer, int start, int length)
{
    auto block = juce::dsp::AudioBlock<float> (buffer).getSubBlock ((size_t) start, (size_t) length);
    stage.process (juce::dsp::ProcessContextReplacing<float> (block));
}

// In chunks of the given length, or as one.
template <typename Stage>
void processChunks (Stage& stage, juce::AudioBuffer<float>& buffer, int chunk = std::numeric_limits<int>::max())
{
    for (int start = 0; start < buffer.getNumSamples(); start += chunk)
        processRange (stage, buffer, start, std::min (chunk, buffer.getNumSamples() - start));
}

juce::dsp::ProcessSpec spec (double sampleRate, int blockSize, int channels)
{
    return { sampleRate, (juce::uint32) blockSize, (juce::uint32) channels };
}

juce::AudioBuffer<float> constant (int channels, int length, float value)
{
    juce::AudioBuffer<float> buffer (channels, length);
    for (int c = 0; c < channels; ++c)
        juce::FloatVectorOperations::fill (buffer.getWritePointer (c), value, length);
    return buffer;
}

void fillNoise (juce::AudioBuffer<float>& buffer, unsigned seed)
{
    std::mt19937 random (seed);
    std::uniform_real_distribution<float> uniform (-1.0f, 1.0f);
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            buffer.setSample (c, i, uniform (random));
}

void loadEmbedded (ConsoleConvolution& console)
{
    console.loadImpulseResponse (formats(), BinaryData::console_impulse_wav,
                                 (size_t) BinaryData::console_impulse_wavSize);
}

// Processes noise and checks that it came out unchanged but for the +17 dB lift.
void expectLiftOnly (ConsoleConvolution& console, juce::AudioBuffer<float>& buffer, unsigned seed)
{
    fillNoise (buffer, seed);
    const juce::AudioBuffer<float> input (buffer);
    processChunks (console, buffer);

    for (int c = 0; c < buffer.getNumChannels(); ++c)
        for (int i = 0; i < buffer.getNumSamples(); ++i)
            ASSERT_NEAR (buffer.getSample (c, i), input.getSample (c, i) * liftGain, 1e-5)
                << "seed " << seed << ", " << c << ", " << i;
}

//==============================================================================
// Grain references, in double precision.
double beforeShaper (double x, double amountPercent = 10.0)
{
    double p = 0.0;
    for (const double c : { 1.5, 3.0, 2.0, 7.0, 4.0, 8.0, 1.2, 0.0, 0.0 }) // x^8 down to x^0
        p = p * x + c;
    return x + amountPercent / 100.0 * p;
}

double shapeOf (double x)
{
    return (x < 0.0 ? -1.0 : 1.0) * (1.0 - std::exp (-4.0 * std::abs (x))) / (1.0 - std::exp (-4.0));
}

// First-order low-pass from the bilinear transform of 1 / (1 + s / wc), prewarped cutoff.
struct ReferenceLowPass
{
    ReferenceLowPass (double cutoff, double sampleRate)
    {
        const auto g = std::tan (juce::MathConstants<double>::pi * cutoff / sampleRate);
        b = g / (1.0 + g);
        a = (1.0 - g) / (1.0 + g);
    }

    double next (double x)
    {
        previousOut = b * (x + previousIn) + a * previousOut;
        previousIn = x;
        return previousOut;
    }

    double b = 0, a = 0, previousIn = 0, previousOut = 0;
};

// Prepared once and run on silence until every ramp has ended; returns the largest output, which
// must be 0: silence stays silent through the polynomial, ramps and filter.
float settle (Grain<float>& grain, double sampleRate, int blockSize, int channels)
{
    grain.prepare (spec (sampleRate, blockSize, channels));
    auto silence = constant (channels, (int) (0.5 * sampleRate), 0.0f);
    processChunks (grain, silence, blockSize);
    return silence.getMagnitude (0, silence.getNumSamples());
}

//==============================================================================
// The console response as the convolution should install it: the seven stored values scaled to a
// norm of 0.125.
std::vector<double> normalisedResponse()
{
    std::vector<double> response;
    double energy = 0.0;
    for (const auto value : storedValues)
    {
        response.push_back (value / twoTo23);
        energy += response.back() * response.back();
    }
    for (auto& r : response)
        r *= 0.125 / std::sqrt (energy);
    return response;
}

// Silent chunks for 0.1 s: the first takes over a parked response, the rest see its blend through.
void runSilence (ConsoleConvolution& console, double sampleRate, int channels, int blockSize)
{
    auto silence = constant (channels, (int) (0.1 * sampleRate), 0.0f);
    processChunks (console, silence, blockSize);
}

// Data that holds no usable response, none of which may be parked: garbage, no data, no length,
// no formats to read it, and a readable file whose used frames are silent.
void loadUnusableData (ConsoleConvolution& console)
{
    std::vector<char> garbage (14516);
    for (size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = (char) ((i * 7919u) >> 3);

    juce::MemoryBlock silentWav;
    {
        juce::AudioBuffer<float> silence (1, 100);
        silence.clear();
        std::unique_ptr<juce::AudioFormatWriter> writer (juce::WavAudioFormat().createWriterFor (
            new juce::MemoryOutputStream (silentWav, false), 88200.0, 1, 24, {}, 0));
        ASSERT_NE (writer, nullptr);
        writer->writeFromAudioSampleBuffer (silence, 0, 100);
    }

    juce::AudioFormatManager noFormats;
    console.loadImpulseResponse (formats(), garbage.data(), garbage.size());
    console.loadImpulseResponse (formats(), nullptr, 100);
    console.loadImpulseResponse (formats(), BinaryData::console_impulse_wav, 0);
    console.loadImpulseResponse (noFormats, BinaryData::console_impulse_wav,
                                 (size_t) BinaryData::console_impulse_wavSize);
    console.loadImpulseResponse (formats(), silentWav.getData(), silentWav.getSize());
    EXPECT_FALSE (console.impulsePending);
}

// A unit impulse in every channel at the start of a chunk, then a silent chunk to clear the history.
std::vector<double> impulseResponseOf (ConsoleConvolution& console, int channels, int blockSize, int channel = 0)
{
    juce::AudioBuffer<float> buffer (channels, blockSize);
    buffer.clear();
    for (int c = 0; c < channels; ++c)
        buffer.setSample (c, 0, 1.0f);
    processChunks (console, buffer);

    std::vector<double> out (buffer.getReadPointer (channel), buffer.getReadPointer (channel) + blockSize);
    buffer.clear();
    processChunks (console, buffer);
    return out;
}
} // namespace

//==============================================================================
TEST (EmbeddedImpulse, DecodesAsMonoTwentyFourBitAt88200)
{
    std::unique_ptr<juce::AudioFormatReader> reader (
        formats().createReaderFor (std::make_unique<juce::MemoryInputStream> (
            BinaryData::console_impulse_wav, (size_t) BinaryData::console_impulse_wavSize, false)));
    ASSERT_NE (reader, nullptr);
    EXPECT_EQ (reader->getFormatName(), "WAV file");
    EXPECT_EQ (std::tuple (reader->numChannels, reader->sampleRate, reader->bitsPerSample,
                           reader->usesFloatingPointData, reader->lengthInSamples),
               std::tuple (1u, 88200.0, 24u, false, (juce::int64) 4824));

    float values[7] = {};
    float* channels[] = { values };
    ASSERT_TRUE (reader->read (channels, 1, 10, 7));

    for (int i = 0; i < 7; ++i)
        EXPECT_EQ (values[i], (float) (storedValues[i] / twoTo23)) << "frame " << i + 10;
}

//==============================================================================
TEST (GrainSettled, WorkedValuesBeforeAndAfterTheShaper)
{
    EXPECT_NEAR (beforeShaper (1.0), 3.67, 1e-12);
    EXPECT_NEAR (beforeShaper (0.5), 0.68293, 1e-5);
    EXPECT_NEAR (beforeShaper (-1.0), -1.93, 1e-12);

    const auto shaper = Grain<float>().chain.get<Grain<float>::shaperIndex>().functionToUse;
    EXPECT_NEAR (shaper (3.67f), 1.01866f, 1e-5);
    EXPECT_NEAR (shaper ((float) beforeShaper (0.5)), 0.9523f, 1e-4);
    EXPECT_NEAR (shaper (-1.93f), -1.01821f, 1e-5);

    for (int i = -800; i <= 800; ++i)
        ASSERT_NEAR (shaper (i / 100.0f), shapeOf (i / 100.0), 2e-6) << i / 100.0;
}

// A second preparation finds every ramp at its target, so held inputs go straight through the
// polynomial, shaper, -3 dB, the 10 kHz low-pass (cleared by the preparation) and the -2 dB trim.
TEST (GrainSettled, SecondPreparationDoesNotRampAndHeldInputsFollowTheLowPass)
{
    for (const double sampleRate : { 44100.0, 96000.0 })
    {
        for (const double x : { 1.0, 0.5 })
        {
            Grain<float> grain, mono;
            EXPECT_EQ (settle (grain, sampleRate, 512, 2), 0.0f);
            EXPECT_EQ (settle (mono, sampleRate, 512, 1), 0.0f);
            grain.prepare (spec (sampleRate, 512, 2));
            EXPECT_FALSE (grain.amount.isSmoothing());

            auto buffer = constant (2, 256, (float) x);
            buffer.applyGain (1, 0, 256, -1.0f);
            processChunks (grain, buffer);

            ReferenceLowPass left (10000.0, sampleRate), right (10000.0, sampleRate);

            for (int i = 0; i < buffer.getNumSamples(); ++i)
            {
                ASSERT_NEAR (buffer.getSample (0, i), left.next (shapeOf (beforeShaper (x)) * outGain) * trimGain, 2e-6)
                    << sampleRate << " " << x << " " << i;
                ASSERT_NEAR (buffer.getSample (1, i), right.next (shapeOf (beforeShaper (-x)) * outGain) * trimGain,
                             2e-6)
                    << sampleRate << " " << -x << " " << i;
            }
        }
    }
}

//==============================================================================
TEST (GrainRamps, FirstPreparationFadesInFromSilenceOverAThirdOfASecond)
{
    const auto sampleRate = 48000.0;
    Grain<float> grain;
    grain.prepare (spec (sampleRate, 512, 1));

    auto buffer = constant (1, (int) (0.4 * sampleRate), 0.5f);
    processChunks (grain, buffer, 512);

    // Three gains ramping linearly from 0 over 0.3 s, the amount from 0 to 10 % over 0.1 s.
    ReferenceLowPass lowPass (10000.0, sampleRate);
    std::vector<double> expected;

    for (int k = 0; k < buffer.getNumSamples(); ++k)
    {
        const auto ramp = std::min ((k + 1) / std::floor (0.3 * sampleRate), 1.0);
        const auto amount = 10.0 * std::min ((k + 1) / std::floor (0.1 * sampleRate), 1.0);
        expected.push_back (lowPass.next (shapeOf (ramp * beforeShaper (0.5, amount)) * ramp * outGain) * ramp
                            * trimGain);
    }

    EXPECT_LT (std::abs (buffer.getSample (0, 0)), 1e-6f);

    for (const auto seconds : { 0.01, 0.05, 0.1, 0.15, 0.2, 0.25, 0.29, 0.35, 0.399 })
    {
        const auto k = (size_t) (seconds * sampleRate);
        EXPECT_NEAR (buffer.getSample (0, (int) k), expected[k], 1e-6 + 5e-3 * expected[k]) << seconds << " s";
    }

    for (int k = 1; k < buffer.getNumSamples(); ++k)
        ASSERT_GE (buffer.getSample (0, k), buffer.getSample (0, k - 1) * (1.0f - 1e-4f)) << "sample " << k;

    EXPECT_NEAR (buffer.getSample (0, buffer.getNumSamples() - 1), shapeOf (beforeShaper (0.5)) * outGain * trimGain,
                 2e-6);
}

TEST (GrainRamps, StereoChannelOneRunsFurtherAlongTheAmountRamp)
{
    const auto sampleRate = 44100.0;
    const auto amountSteps = (int) std::floor (0.1 * sampleRate); // 4410

    Grain<float> stereo, mono;
    stereo.prepare (spec (sampleRate, 441, 2));
    mono.prepare (spec (sampleRate, 441, 1));

    auto stereoBuffer = constant (2, 441, 0.5f), monoBuffer = constant (1, 441, 0.5f);
    processChunks (stereo, stereoBuffer);
    processChunks (mono, monoBuffer);

    // Same input in both channels: channel 1 saw larger amounts at every frame, channel 0 what
    // the mono stage saw.
    for (int i = 0; i < 441; ++i)
    {
        ASSERT_GT (stereoBuffer.getSample (1, i), stereoBuffer.getSample (0, i)) << i;
        ASSERT_EQ (stereoBuffer.getSample (0, i), monoBuffer.getSample (0, i)) << i;
    }

    EXPECT_NEAR (stereo.amount.getCurrentValue(), 10.0 * 882 / amountSteps, 1e-4);
    EXPECT_NEAR (mono.amount.getCurrentValue(), 10.0 * 441 / amountSteps, 1e-4);

    // Stereo completes after half the ramp's frames, mono after all of them.
    auto silenceStereo = constant (2, amountSteps / 2 - 441, 0.0f),
         silenceMono = constant (1, amountSteps / 2 - 441, 0.0f);
    processChunks (stereo, silenceStereo, 441);
    processChunks (mono, silenceMono, 441);
    EXPECT_EQ (stereo.amount.getCurrentValue(), 10.0f);
    EXPECT_NEAR (mono.amount.getCurrentValue(), 5.0, 1e-3);
}

//==============================================================================
// Before any response is taken over, the console passes the audio with the lift alone, from the
// first sample (it snaps after a preparation instead of ramping), after a preparation for another
// rate, and after data that holds no usable response.
TEST (ConsoleConvolution, PassesLiftedBySeventeenDecibelsBeforeTheHandOver)
{
    ConsoleConvolution console;
    juce::AudioBuffer<float> buffer (2, 512);
    console.prepare (spec (48000.0, 512, 2));
    expectLiftOnly (console, buffer, 1);
    console.prepare (spec (96000.0, 512, 2));
    expectLiftOnly (console, buffer, 2);

    loadUnusableData (console);
    for (unsigned chunk = 3; chunk < 6; ++chunk)
        expectLiftOnly (console, buffer, chunk);
    EXPECT_EQ (console.getResponseLength(), 1);
}

TEST (ConsoleConvolution, AfterTheHandOverAnImpulseGivesTheShortNormalisedResponse)
{
    // At the response's own rate: exactly the seven normalised values, in both channels.
    ConsoleConvolution console;
    console.prepare (spec (88200.0, 256, 2));
    loadEmbedded (console);
    EXPECT_EQ (console.pendingSampleRate, 88200.0f);
    runSilence (console, 88200.0, 2, 256);
    EXPECT_EQ (console.getResponseLength(), 7) << "the silent tail is trimmed away";

    const auto expected = normalisedResponse();
    for (const int channel : { 0, 1 })
    {
        const auto out = impulseResponseOf (console, 2, 256, channel);
        for (size_t i = 0; i < out.size(); ++i)
            ASSERT_NEAR (out[i], i < expected.size() ? expected[i] * liftGain : 0.0, 2e-5) << channel << ", " << i;
    }

    // At 48 kHz: resampled to fewer taps, still short, positive first and normalised to 0.125.
    ConsoleConvolution resampled;
    resampled.prepare (spec (48000.0, 512, 1));
    loadEmbedded (resampled);
    runSilence (resampled, 48000.0, 1, 512);
    EXPECT_GT (resampled.getResponseLength(), 1);
    EXPECT_LT (resampled.getResponseLength(), 7);

    const auto out = impulseResponseOf (resampled, 1, 512);
    double energy = 0.0, lateEnergy = 0.0;
    for (size_t i = 0; i < out.size(); ++i)
        (i < 10 ? energy : lateEnergy) += out[i] * out[i];

    EXPECT_GT (out[0], 0.0);
    EXPECT_NEAR (std::sqrt (energy), 0.125 * liftGain, 1e-3 * 0.125 * liftGain);
    EXPECT_LT (lateEnergy, 1e-6 * energy);
}

// The response is taken over on the first chunk after it was parked, and blended in from the
// previous one (here the lift alone) with the framework's linear 0.05 s weight w, falling from 1:
// an impulse at sample k of that chunk comes out as the lift x w + the new response x (1 - w).
TEST (ConsoleConvolution, FirstChunkStartsTheBlendToTheNewResponse)
{
    constexpr double rate = 88200.0; // the response's own rate: its seven values, no resampling
    ConsoleConvolution console;
    console.prepare (spec (rate, 256, 1));
    loadEmbedded (console);

    juce::AudioBuffer<float> buffer (1, 256);
    buffer.clear();
    buffer.setSample (0, 0, 1.0f);
    processChunks (console, buffer);
    EXPECT_EQ (console.getResponseLength(), 7);

    const auto response = normalisedResponse();
    const double steps = std::floor (0.05 * rate);
    for (int k = 0; k < 7; ++k)
    {
        const double w = 1.0 - (k + 1) / steps;
        const double expected = (k == 0 ? liftGain * w : 0.0) + response[(size_t) k] * liftGain * (1.0 - w);
        EXPECT_NEAR (buffer.getSample (0, k), expected, 1e-6) << k;
    }
}

// While the preparing thread holds the pending slot, chunks keep the response they have.
TEST (ConsoleConvolution, BusyLockDefersTheHandOver)
{
    ConsoleConvolution console;
    console.prepare (spec (88200.0, 128, 1));
    loadEmbedded (console);
    juce::AudioBuffer<float> buffer (1, 128);

    console.impulseLock.enter();
    for (unsigned chunk = 0; chunk < 5; ++chunk)
        expectLiftOnly (console, buffer, chunk);
    EXPECT_TRUE (console.impulsePending);
    EXPECT_EQ (console.getResponseLength(), 1);
    console.impulseLock.exit();

    runSilence (console, 88200.0, 1, 128);
    EXPECT_FALSE (console.impulsePending);
    EXPECT_EQ (console.getResponseLength(), 7);
}

TEST (ConsoleConvolution, UnreadableResourceLeavesTheConsoleAsItWas)
{
    // A console with the console response keeps it through a new preparation and bad data.
    ConsoleConvolution console;
    console.prepare (spec (88200.0, 256, 1));
    loadEmbedded (console);
    runSilence (console, 88200.0, 1, 256);
    console.prepare (spec (88200.0, 256, 1));
    loadUnusableData (console);

    const auto out = impulseResponseOf (console, 1, 256);
    const auto expected = normalisedResponse();
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR (out[i], expected[i] * liftGain, 2e-5) << i;
}

//==============================================================================
// Zero-length and short chunks included, through the first hand-over and the gains' fade-in,
// then a second preparation.
TEST (ColourStageRealTime, AudioSideNeverAllocatesAfterPreparation)
{
    if (! allocation::available())
        GTEST_SKIP() << "allocation counting is off under sanitizers";

    for (const int channels : { 1, 2 })
    {
        ConsoleConvolution console;
        Grain<float> grain;
        juce::AudioBuffer<float> buffer (channels, 512);
        long counted = 0;

        for (const int round : { 0, 1 })
        {
            grain.prepare (spec (48000.0, 512, channels));
            console.prepare (spec (48000.0, 512, channels));
            loadEmbedded (console);

            for (int chunk = 0; chunk < (round == 0 ? 400 : 50); ++chunk)
            {
                fillNoise (buffer, (unsigned) chunk);
                const auto length = chunk == 7 ? 100 : (chunk == 8 ? 0 : 512);
                allocation::Watch watch;
                processRange (console, buffer, 0, length);
                processRange (grain, buffer, 0, length);
                counted += watch.calls();
            }

            EXPECT_NE (console.getResponseLength(), 1) << "the response was handed over";
        }

        EXPECT_EQ (counted, 0) << channels << " channel(s)";
    }
}
