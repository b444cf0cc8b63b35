#include "engine/dsp/Compressor.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <limits>
#include <vector>

namespace
{
constexpr double rate = 48000.0;
constexpr int block = 512;
const float notANumber = std::numeric_limits<float>::quiet_NaN();
const float infinity = std::numeric_limits<float>::infinity();

// Independent double-precision references.
double referenceCurve (double value, double threshold, double ratio)
{
    const double level = std::max (20.0 * std::log10 (std::max (std::abs (value), 1.0e-6)), -100.0);
    const double over = level - threshold, slope = 1.0 / ratio - 1.0;

    if (over <= -3.0)
        return 0.0;
    return over <= 3.0 ? slope * (over + 3.0) * (over + 3.0) / 12.0 : slope * over;
}

double coefficient (double seconds) { return std::exp (-1.0 / (seconds * rate)); }
double dbToGain (double db) { return std::pow (10.0, db / 20.0); }
double gainToDb (double gain) { return 20.0 * std::log10 (gain); }
float levelFromDb (double db) { return (float) dbToGain (db); }

float curveOf (float threshold, float ratio, float value)
{
    GainComputer computer;
    computer.threshold = threshold;
    computer.ratio = ratio;
    computer.slope = 1.0f / ratio - 1.0f;
    computer.applyCompressionToBuffer (&value, 1);
    return value;
}

// Prepared at 48 kHz, 512-sample chunks, -20 dB at 4:1 and 50 % link.
void prepareAsChain (Compressor& compressor, double attack = 0.01, double release = 0.1)
{
    compressor.prepare (rate, block);
    compressor.stereoLink = 50.0f;
    compressor.gainComputer.threshold = -20.0f;
    compressor.gainComputer.ratio = 4.0f;
    compressor.gainComputer.slope = -0.75f;
    compressor.levelDetector.setAttack (attack);
    compressor.levelDetector.setRelease (release);
}

void fill (juce::AudioBuffer<float>& buffer, float value)
{
    for (int c = 0; c < buffer.getNumChannels(); ++c)
        juce::FloatVectorOperations::fill (buffer.getWritePointer (c), value, buffer.getNumSamples());
}

// A sine whose amplitude jumps every 700 samples, so a chunk sees both attacks and releases.
void fillBursts (juce::AudioBuffer<float>& buffer, int channel, long start, double frequency)
{
    for (int i = 0; i < buffer.getNumSamples(); ++i)
    {
        const long t = start + i;
        const double amplitude = (t / 700) % 3 == 0 ? 0.9 : ((t / 700) % 3 == 1 ? 0.05 : 0.3);
        buffer.setSample (
            channel, i,
            (float) (amplitude * std::sin (juce::MathConstants<double>::twoPi * frequency * (double) t / rate)));
    }
}

// Bursts in all four channels, the right detector channel 350 samples ahead of the left.
void fillChunk (juce::AudioBuffer<float>& audio, juce::AudioBuffer<float>& detector, long start)
{
    fillBursts (detector, 0, start, 220.0);
    fillBursts (detector, 1, start + 350, 330.0);
    fillBursts (audio, 0, start, 440.0);
    fillBursts (audio, 1, start, 550.0);
}

bool detectorIsFinite (const LevelDetector& d)
{
    for (const double v :
         { d.avgAttack, d.avgRelease, d.peakState, d.rmsState, d.attackSmoother.state, d.releaseSmoother.state,
           d.attackTime, d.releaseTime, d.alphaAttack, d.alphaRelease, d.state })
        if (! std::isfinite (v))
            return false;

    return true;
}

LevelDetector automaticDetector()
{
    LevelDetector detector;
    detector.prepare (rate);
    detector.autoAttack = detector.autoRelease = true;
    return detector;
}
} // namespace

//==============================================================================
TEST (GainComputer, WorkedValuesBelowInsideAndAboveTheKnee)
{
    struct Case
    {
        float threshold, ratio;
        double levelDb, expectedDb;
    };

    for (const auto& c : { Case { -20, 4, -40, 0 }, Case { -20, 4, -23.5, 0 }, Case { -20, 4, -20, -0.5625 },
                           Case { -20, 4, -17, -2.25 }, Case { -20, 4, -10, -7.5 }, Case { -20, 20, -10, -9.5 },
                           Case { -20, 20, -20, -0.95 * 9 / 12 }, Case { 0, 4, -6, 0 }, Case { 0, 4, 0, -0.5625 } })
    {
        EXPECT_NEAR (curveOf (c.threshold, c.ratio, levelFromDb (c.levelDb)), c.expectedDb, 1.0e-5)
            << c.threshold << " " << c.ratio << " " << c.levelDb;
        EXPECT_EQ (curveOf (c.threshold, c.ratio, -levelFromDb (c.levelDb)),
                   curveOf (c.threshold, c.ratio, levelFromDb (c.levelDb)));
    }
}

TEST (GainComputer, MatchesTheReferenceCurveAndNeverRises)
{
    for (const float ratio : { 4.0f, 20.0f })
    {
        for (const float threshold : { -60.0f, -20.0f, 0.0f })
        {
            float previous = 0.0f;

            for (double db = -130.0; db <= 20.0; db += 0.01)
            {
                const float out = curveOf (threshold, ratio, levelFromDb (db));
                ASSERT_NEAR (out, referenceCurve (levelFromDb (db), threshold, ratio), 2.0e-4)
                    << db << " " << threshold << " " << ratio;
                ASSERT_LE (out, previous + 1.0e-6f);
                previous = out;
            }
        }
    }
}

TEST (GainComputer, FloorAndNonFiniteLevels)
{
    // Levels at or below 1e-5 read as -100 dB, which sits exactly on a -100 dB threshold.
    for (const float v : { 0.0f, 1.0e-12f, 1.0e-7f, 1.0e-6f, -5.0e-6f, 1.0e-5f })
        EXPECT_NEAR (curveOf (-100.0f, 4.0f, v), -0.5625, 1.0e-5) << v;

    EXPECT_EQ (curveOf (-20.0f, 4.0f, 0.0f), 0.0f);
    // NaN reads as the floor, infinity as the largest finite level.
    EXPECT_EQ (curveOf (-20.0f, 4.0f, notANumber), 0.0f);
    const float overflow = curveOf (-20.0f, 4.0f, infinity);
    EXPECT_TRUE (std::isfinite (overflow));
    EXPECT_NEAR (overflow, curveOf (-20.0f, 4.0f, FLT_MAX), 1.0e-3);
    EXPECT_NEAR (curveOf (-20.0f, 4.0f, -infinity), overflow, 1.0e-3);
}

//==============================================================================
// A step up from 0.5 to 1.0: the peak track jumps to 1 at once, the mean one closes in with the
// 0.2 s time constant per value, so the candidates rise from 0.16 s x its level at the step.
TEST (CrestFactor, MeanTrackFollowsAStepWithATwoTenthsSecondTimeConstant)
{
    auto detector = automaticDetector();
    std::vector<float> quiet (block, 0.5f), loud (block, 1.0f);
    detector.processCrestFactor (quiet.data(), block);
    detector.processCrestFactor (quiet.data(), block);
    detector.processCrestFactor (loud.data(), block);
    detector.processCrestFactor (loud.data(), block);

    // Seeded with the first value 0.5 (not its square), the tracks decay toward 0.25 over 2n values;
    // after k values of the step the mean is 1 - (1 - mean at the step) a^k, the peak stays 1.
    const double a = std::exp (-1.0 / (0.2 * rate));
    const double atStep = 0.25 + 0.25 * std::pow (a, 2 * block);
    double sum = 0.0;
    for (int k = block + 1; k <= 2 * block; ++k)
        sum += 1.0 - (1.0 - atStep) * std::pow (a, k);

    const double attack = 0.16 * sum / block;
    EXPECT_NEAR (detector.attackTime, attack, 1.0e-9);
    EXPECT_NEAR (detector.releaseTime, 2.0 * sum / block - attack, 1.0e-9);
    EXPECT_NEAR (attack, 0.08241, 1.0e-5) << "worked by hand for 48 kHz, 512-value blocks";
}

TEST (CrestFactor, LongSilenceDecaysToZeroAndTheNextBlockReseeds)
{
    juce::ScopedNoDenormals noDenormals;
    auto detector = automaticDetector();
    std::vector<float> silence (4800, 0.0f), loud (block, 1.0f);

    // Silence from the start gives 0/0 everywhere: skipped, no NaN, the times follow instantly.
    detector.processCrestFactor (silence.data(), block);
    detector.processCrestFactor (silence.data(), block);
    EXPECT_TRUE (detectorIsFinite (detector));
    EXPECT_EQ (detector.attackTime, 0.0);
    EXPECT_EQ (detector.releaseTime, 0.0);

    detector.processCrestFactor (loud.data(), block);
    ASSERT_GT (detector.peakState, 0.0);

    for (int blocks = 0; (detector.peakState != 0.0 || detector.rmsState != 0.0) && blocks < 4000; ++blocks)
        detector.processCrestFactor (silence.data(), (int) silence.size());

    EXPECT_EQ (detector.peakState, 0.0);
    EXPECT_EQ (detector.rmsState, 0.0);
    EXPECT_TRUE (detectorIsFinite (detector));

    // Both tracks restart from the next block's first value.
    const float first = 0.3f;
    const double x = first, s = x * x;
    detector.processCrestFactor (&first, 1);
    const double seeded = detector.a1 * x + detector.b1 * s;
    EXPECT_DOUBLE_EQ (detector.peakState, std::max (seeded, s));
    EXPECT_DOUBLE_EQ (detector.rmsState, seeded);
    EXPECT_NEAR (detector.attackTime, 0.16, 1.0e-12);
}

//==============================================================================
// Whole chunks against a double-precision model: rectify, 50 % link, curve, one ballistics state
// (attack when going deeper) over the left then the right block and on into the next chunk,
// makeup, gain and mix.
TEST (Compressor, MatchesAReferenceModelOverManyChunks)
{
    Compressor compressor;
    prepareAsChain (compressor, 0.004, 0.06);
    compressor.makeupDb = 3.0f;
    compressor.mix = 0.7f;

    double state = 0.0;
    const int n = 300;
    juce::AudioBuffer<float> audio (2, n), detector (2, n);

    for (int chunk = 0; chunk < 30; ++chunk)
    {
        fillChunk (audio, detector, (long) chunk * n);
        const juce::AudioBuffer<float> input (audio);
        compressor.process (audio, detector);

        double deepest = 0.0, loudest = 0.0;

        for (int c = 0; c < 2; ++c)
        {
            for (int i = 0; i < n; ++i)
            {
                const double l = std::abs ((double) detector.getSample (0, i)),
                             r = std::abs ((double) detector.getSample (1, i));
                const double m = std::max (l, r);
                loudest = std::max (loudest, m);
                const double change = referenceCurve (0.5 * (c == 0 ? l : r) + 0.5 * m, -20.0, 4.0);
                const double a = state > change ? coefficient (0.004) : coefficient (0.06);
                state = a * state + (1.0 - a) * change;
                deepest = std::min (deepest, state);

                const double x = input.getSample (c, i), expected = x * dbToGain (state + 3.0) * 0.7 + x * 0.3;
                ASSERT_NEAR (audio.getSample (c, i), expected, 2.0e-5 + 2.0e-4 * std::abs (expected))
                    << chunk << " " << c << " " << i;
            }
        }

        EXPECT_NEAR (compressor.gainReductionDb, deepest, 1.0e-3) << chunk;
        EXPECT_NEAR (compressor.inputLevel, 10.0 * loudest, 1.0e-5) << chunk;
    }
}

//==============================================================================
// A compressor as the chain sets it up, fed unit audio and a detector of the test's choosing.
class CompressorChunks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        prepareAsChain (compressor);
        detector.clear();
    }

    void run (int n = block)
    {
        juce::AudioBuffer<float> view (audio.getArrayOfWritePointers(), 2, n);
        fill (view, 1.0f);
        compressor.process (view, detector);
    }

    Compressor compressor;
    juce::AudioBuffer<float> audio { 2, block }, detector { 2, block };
};

// 2 -> 8 dB over 0.05 s moves in 2400 steps of 0.0025 dB; after 1024 of them (4.56 dB) a change to
// 5 dB restarts the ramp from there, 2400 steps of 0.44 dB / 2400, ending 352 samples into the fifth
// chunk exactly on its target.
TEST_F (CompressorChunks, MakeupRampsAcrossChunksAndAChangeRestartsIt)
{
    compressor.makeupDb = 2.0f;
    run();
    EXPECT_EQ (audio.getSample (0, 0), juce::Decibels::decibelsToGain (2.0f));

    compressor.makeupDb = 8.0f;
    for (int chunk = 0, step = 0; chunk < 2; ++chunk)
    {
        run();
        for (int i = 0; i < block; ++i, ++step)
            ASSERT_NEAR (gainToDb (audio.getSample (0, i)), 2.0 + 0.0025 * (step + 1), 1.0e-3) << step;
    }

    compressor.makeupDb = 5.0f;
    const float full = juce::Decibels::decibelsToGain (5.0f);
    for (int chunk = 0, step = 0; chunk < 6; ++chunk)
    {
        run();
        for (int i = 0; i < block; ++i, ++step)
        {
            ASSERT_EQ (audio.getSample (0, i), audio.getSample (1, i));
            if (step < 2399)
                ASSERT_NEAR (gainToDb (audio.getSample (0, i)), 4.56 + 0.44 * (step + 1) / 2400.0, 1.0e-3) << step;
            else
                ASSERT_EQ (audio.getSample (0, i), full) << step;
        }
        EXPECT_EQ (compressor.makeupSmoother.isSmoothing(), chunk < 4) << chunk;
    }
}

TEST_F (CompressorChunks, FirstChunkAfterPreparationSnaps)
{
    compressor.makeupDb = 2.0f;
    run();
    compressor.makeupDb = 8.0f;
    compressor.mix = 0.5f;
    run();
    ASSERT_TRUE (compressor.makeupSmoother.isSmoothing());

    compressor.prepare (rate, block);
    compressor.makeupDb = -4.0f;
    compressor.mix = 0.25f;
    run();

    for (int i = 0; i < block; ++i)
        ASSERT_NEAR (audio.getSample (1, i), dbToGain (-4.0) * 0.25 + 0.75, 1.0e-6) << i;
}

TEST_F (CompressorChunks, ZeroLengthChunkChangesNothing)
{
    compressor.levelDetector.autoAttack = compressor.levelDetector.autoRelease = true;
    fillChunk (audio, detector, 0);
    compressor.makeupDb = 2.0f;
    run();
    compressor.makeupDb = 6.0f;
    run();

    const Compressor before = compressor;
    compressor.makeupDb = -3.0f;
    run (0);

    for (const auto member :
         { &LevelDetector::state, &LevelDetector::peakState, &LevelDetector::rmsState, &LevelDetector::avgAttack,
           &LevelDetector::avgRelease, &LevelDetector::attackTime, &LevelDetector::releaseTime })
        EXPECT_EQ (compressor.levelDetector.*member, before.levelDetector.*member);

    EXPECT_EQ (compressor.gainReductionDb, before.gainReductionDb);
    EXPECT_EQ (compressor.inputLevel, before.inputLevel);
    EXPECT_EQ (compressor.makeupSmoother.getCurrentValue(), before.makeupSmoother.getCurrentValue());
    EXPECT_EQ (compressor.makeupSmoother.getTargetValue(), 6.0f);
}

TEST_F (CompressorChunks, MixZeroGivesTheInputExactly)
{
    compressor.makeupDb = 12.0f;
    compressor.mix = 0.0f;

    for (int chunk = 0; chunk < 5; ++chunk)
    {
        fillChunk (audio, detector, (long) chunk * block);
        const juce::AudioBuffer<float> input (audio);
        compressor.process (audio, detector);

        for (int c = 0; c < 2; ++c)
            for (int i = 0; i < block; ++i)
                ASSERT_EQ (audio.getSample (c, i), input.getSample (c, i)) << chunk << " " << c << " " << i;

        EXPECT_LT (compressor.gainReductionDb, -1.0f) << "the detector still works";
    }
}

//==============================================================================
// Mono audio takes the left gain; the right detector channel still feeds the link, the shared
// state and the meters, exactly as for stereo audio (whose gains the reference model checks).
TEST (Compressor, MonoAudioTakesTheLeftGainWhileTheRightDetectorStillCounts)
{
    Compressor mono, stereo;
    for (auto* c : { &mono, &stereo })
        prepareAsChain (*c, 0.002, 0.05);

    juce::AudioBuffer<float> detector (2, block), monoAudio (1, block), stereoAudio (2, block);

    for (int chunk = 0; chunk < 7; ++chunk)
    {
        fillBursts (detector, 0, (long) chunk * block, 120.0);
        fillBursts (detector, 1, (long) chunk * block + 700, 90.0);
        if (chunk == 6)
            juce::FloatVectorOperations::fill (detector.getWritePointer (1), 0.95f, block);
        fill (monoAudio, 0.5f);
        fill (stereoAudio, 0.5f);

        mono.process (monoAudio, detector);
        stereo.process (stereoAudio, detector);

        for (int i = 0; i < block; ++i)
            ASSERT_EQ (monoAudio.getSample (0, i), stereoAudio.getSample (0, i)) << chunk << " " << i;
        EXPECT_EQ (mono.gainReductionDb, stereo.gainReductionDb);
        EXPECT_EQ (mono.levelDetector.state, stereo.levelDetector.state);
    }
    EXPECT_EQ (mono.inputLevel, 9.5f);
}

// Scattered NaN and infinities, a chunk of NaN or a chunk of infinity in the detector, with manual
// and automatic times: nothing non-finite reaches the audio, the states or the meters, and the
// next finite chunk measures normally again.
TEST (Compressor, NonFiniteDetectorChunkThenAFiniteChunkRecovers)
{
    for (const bool automatic : { false, true })
        for (const int pattern : { 0, 1, 2 })
        {
            SCOPED_TRACE (juce::String (automatic ? "automatic" : "manual") + " times, pattern "
                          + juce::String (pattern));
            Compressor compressor;
            prepareAsChain (compressor, 0.002, 0.05);
            compressor.levelDetector.autoAttack = compressor.levelDetector.autoRelease = automatic;
            compressor.makeupDb = 4.0f;
            juce::AudioBuffer<float> audio (2, block), detector (2, block);

            for (int chunk = 0; chunk < 9; ++chunk)
            {
                fillChunk (audio, detector, (long) chunk * block);
                if (chunk == 4 && pattern == 0)
                {
                    detector.setSample (0, 17, notANumber);
                    detector.setSample (1, 300, infinity);
                    detector.setSample (0, 301, -infinity);
                }
                else if (chunk == 4)
                {
                    fill (detector, pattern == 1 ? notANumber : infinity);
                }

                compressor.process (audio, detector);
                ASSERT_TRUE (std::isfinite (test::peakOrInfinity (audio)) && detectorIsFinite (compressor.levelDetector)
                             && std::isfinite (compressor.gainReductionDb) && std::isfinite (compressor.inputLevel))
                    << chunk;
                EXPECT_TRUE (chunk <= 4 || compressor.inputLevel < 10.0f) << chunk;
            }

            if (automatic)
            {
                EXPECT_GT (compressor.levelDetector.attackTime, 0.0);
                EXPECT_LE (compressor.levelDetector.attackTime, 0.1600001);
            }
        }
}
