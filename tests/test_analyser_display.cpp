#include "editor/SpectrumAnalyzer.h"
#include "engine/dsp/ParameterIds.h"
#include "support/AllocationCounter.h"
#include "support/EditorSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

namespace
{
constexpr double pi = juce::MathConstants<double>::pi;
constexpr double rate = 48000.0;
constexpr int N = SpectrumAnalyzer::fftSize;
constexpr int hop = N / 2;
// Bin 100 at 48 kHz: 1171.875 Hz, exactly on a bin, so a Hann window leaves its level whole.
constexpr int toneBin = 100;
constexpr double toneHz = toneBin * rate / N;
constexpr float toneAmplitude = 0.25f;

std::vector<float> tone (int numSamples)
{
    std::vector<float> samples ((size_t) numSamples);
    for (int i = 0; i < numSamples; ++i)
        samples[(size_t) i] = toneAmplitude * (float) std::sin (2.0 * pi * toneHz * i / rate);
    return samples;
}

// What one frame starting at `start` contributes to the displayed level of `bin`: the magnitude of
// a 4096-point DFT of the frame under a symmetric Hann window scaled to sum 4096, divided by 2048
// (the bins) and by 4 (the frames averaged). Double precision, straight from the definitions.
double frameContribution (const std::vector<float>& signal, int start, int bin)
{
    double windowSum = 0.0;
    for (int n = 0; n < N; ++n)
        windowSum += 0.5 - 0.5 * std::cos (2.0 * pi * n / (N - 1));

    std::complex<double> sum;
    for (int n = 0; n < N; ++n)
    {
        const double w = (0.5 - 0.5 * std::cos (2.0 * pi * n / (N - 1))) * N / windowSum;
        sum += w * signal[(size_t) (start + n)] * std::polar (1.0, -2.0 * pi * bin * n / N);
    }
    return std::abs (sum) / (N / 2) / 4.0;
}

// Counts the repaints the analyser asks for: a component's cached image hears every invalidation.
struct RepaintCounter : juce::CachedComponentImage
{
    explicit RepaintCounter (int& counter)
        : repaints (counter)
    {}
    void paint (juce::Graphics&) override {}
    bool invalidateAll() override { return ++repaints, true; }
    bool invalidate (const juce::Rectangle<int>&) override { return ++repaints, true; }
    void releaseResources() override {}
    int& repaints;
};

class AnalyserDisplay : public ::testing::Test
{
protected:
    // A processor whose detector passes its input unchanged: bands off, no Smooth stage.
    static std::unique_ptr<MorvikAudioProcessor>
        makeProcessor (const juce::AudioChannelSet& main = juce::AudioChannelSet::mono(),
                       const juce::AudioChannelSet& sidechain = juce::AudioChannelSet::disabled())
    {
        auto processor = test::makePreparedProcessor (rate, 512, main, sidechain, [] (auto& p) {
            for (int band = 1; band <= 3; ++band)
                test::setParameter (p, ParameterIds::band (band, ParameterIds::bandOn, false), 0.0f);
            test::setParameter (p, ParameterIds::smooth, 0.0f);
        });
        processor->resizeAnalyserFeed ((int) rate);
        processor->analyserEnabled = true;
        return processor;
    }

    AnalyserDisplay() { analyser.setVisible (true); }

    // Runs samples through the processor (it cuts them into 512-sample chunks) and so into the feed.
    void play (const std::vector<float>& signal, int start, int numSamples)
    {
        juce::AudioBuffer<float> block (1, numSamples);
        block.copyFrom (0, 0, signal.data() + start, numSamples);
        juce::MidiBuffer midi;
        processor->processBlock (block, midi);
    }

    // An empty host block (it only raises the ready flag), then a tick.
    static void dataTick (MorvikAudioProcessor& p, SpectrumAnalyzer& display)
    {
        juce::AudioBuffer<float> empty (p.getTotalNumInputChannels(), 0);
        juce::MidiBuffer midi;
        p.processBlock (empty, midi);
        display.timerCallback();
    }
    void dataTick() { dataTick (*processor, analyser); }

    static void settle (MorvikAudioProcessor& p, SpectrumAnalyzer& display)
    {
        for (int i = 0; i < SpectrumAnalyzer::settleTicks; ++i)
            dataTick (p, display);
    }
    void settle() { settle (*processor, analyser); }

    juce::Image paintImage() { return test::painted (analyser); }

    // The index of the column that shows `bin`.
    int columnOf (int bin)
    {
        int i = 0;
        while (analyser.fftPoints[(size_t) i].lastBin < bin)
            ++i;
        return i;
    }

    juce::ScopedJuceInitialiser_GUI gui;
    std::unique_ptr<MorvikAudioProcessor> processor = makeProcessor();
    SpectrumAnalyzer analyser { *processor };
};
} // namespace

//==============================================================================
TEST_F (AnalyserDisplay, ColumnMapFollowsTheGraphAxis)
{
    // No rate known, or no width: every bin in one column at x 0.
    for (auto [sampleRate, width] : { std::pair { 0.0, 360 }, std::pair { rate, 0 } })
    {
        processor->sampleRate = sampleRate;
        analyser.setSize (width, 134);
        settle();
        ASSERT_EQ (analyser.numPoints, 1);
        EXPECT_EQ (analyser.fftPoints[0].firstBin, 0);
        EXPECT_EQ (analyser.fftPoints[0].lastBin, 2047);
        EXPECT_EQ (analyser.fftPoints[0].x, 0);
    }

    // 48 kHz, 360 pixels: 36 pixels per octave; round (36 log2 (f / 20) + 0.5) by hand: bin 2
    // (23.4 Hz) 8.74 -> 9, bin 3 30, bin 4 45; bins 98 and 99 (210.87, 211.39) -> 211, bins 100
    // and 101 (211.92, 212.43) -> 212, bin 102 -> 213; bins 2039 to 2047 beyond the edge at 369.
    processor->sampleRate = rate;
    analyser.setSize (360, 134);
    settle();
    ASSERT_EQ (analyser.numPoints, 243);
    const auto& map = analyser.fftPoints;
    int nextBin = 0; // the columns cover every bin once, left to right
    for (int i = 0; i < analyser.numPoints; ++i)
    {
        EXPECT_EQ (map[(size_t) i].firstBin, nextBin);
        EXPECT_GE (map[(size_t) i].lastBin, map[(size_t) i].firstBin);
        EXPECT_TRUE (i == 0 || map[(size_t) i].x > map[(size_t) i - 1].x) << i;
        nextBin = map[(size_t) i].lastBin + 1;
    }
    EXPECT_EQ (nextBin, 2048);

    const std::tuple<int, int, int> expected[] = { { 0, 1, 0 },     { 2, 2, 9 },       { 3, 3, 30 },       { 4, 4, 45 },
                                                   { 98, 99, 211 }, { 100, 101, 212 }, { 2039, 2047, 369 } };
    for (auto [first, last, x] : expected)
    {
        const auto& column = map[(size_t) columnOf (first)];
        EXPECT_EQ (std::tuple (column.firstBin, column.lastBin, column.x), std::tuple (first, last, x));
    }
    EXPECT_EQ (analyser.fftPoints[(size_t) columnOf (102)].x, 213);
}

TEST_F (AnalyserDisplay, ToneShowsInItsColumnAtTheWindowedTransformLevelRisingOverFourFrames)
{
    analyser.setSize (360, 134);
    settle();
    ASSERT_EQ (processor->analyserFifo.getNumReady(), 0);

    const auto signal = tone (N + 5 * hop);
    std::vector<double> contributions; // each frame's share, rising while the tone fills the window
    for (int frame = 0; frame < 5; ++frame)
    {
        const int start = frame == 0 ? 0 : N + (frame - 1) * hop;
        play (signal, start, frame == 0 ? N : hop);
        analyser.timerCallback();

        contributions.push_back (frameContribution (signal, frame * hop, toneBin));
        double expected = 0.0;
        for (int f = std::max (0, frame - 3); f <= frame; ++f)
            expected += contributions[(size_t) f];

        EXPECT_NEAR (analyser.averager.getSample (0, toneBin), expected, 2.0e-5) << "frame " << frame;
    }
    // Four frames of a bin-centred tone: its peak amplitude, within the symmetric window's ripple.
    EXPECT_NEAR (analyser.averager.getSample (0, toneBin), toneAmplitude, 0.001);

    // Painted in the column of bins 100 and 101 at -12.04 dB: on the axis from -60 dB at the bottom
    // edge to +6 dB at the top, half a pixel down, y = 134.5 - 47.96 x 134 / 66 = 37.13.
    analyser.smoothed.assign ((size_t) analyser.numPoints, 1000.0f); // so the column rises at once
    paintImage();
    EXPECT_NEAR (analyser.smoothed[(size_t) columnOf (toneBin)], 37.129f, 0.1);
}

TEST_F (AnalyserDisplay, ShowsWhatTheCompressorListensToNotWhatItCompresses)
{
    // Main input: a tone at bin 300; side-chain: the tone at bin 100. The detector takes both
    // side-chain channels, and the feed sums them: twice the amplitude.
    auto routed = makeProcessor (juce::AudioChannelSet::stereo(), juce::AudioChannelSet::stereo());
    SpectrumAnalyzer display (*routed);
    display.setVisible (true);
    display.setSize (360, 134);
    settle (*routed, display);

    juce::AudioBuffer<float> block (4, N + 3 * hop);
    juce::MidiBuffer midi;
    for (int i = 0; i < block.getNumSamples(); ++i)
        for (int c = 0; c < 4; ++c)
            block.setSample (c, i, toneAmplitude * (float) std::sin (2.0 * pi * (c < 2 ? 3 : 1) * toneHz * i / rate));
    routed->processBlock (block, midi); // cut into 512-sample chunks inside
    display.timerCallback();

    EXPECT_NEAR (display.averager.getSample (0, toneBin), 2.0f * toneAmplitude, 0.002);
    EXPECT_LT (display.averager.getSample (0, 3 * toneBin), 1.0e-4f);
}

TEST_F (AnalyserDisplay, TicksMoveOnlyWithFreshDataAndAResizeHidesTheDisplayForFiveOfThem)
{
    int repaints = 0;
    analyser.setCachedComponentImage (new RepaintCounter (repaints));
    const auto signal = tone (4 * N);
    // What a tick leaves: the samples waiting in the feed, the ready flag, the repaints asked for.
    const auto left = [&] {
        return std::tuple (processor->analyserFifo.getNumReady(), processor->analyserDataReady.load(), repaints);
    };

    analyser.setSize (360, 134);
    EXPECT_EQ (analyser.settleCountdown, 5);
    repaints = 0;
    analyser.timerCallback(); // no data: nothing moves, not even the countdown
    EXPECT_EQ (analyser.settleCountdown, 5);

    for (int tick = 0; tick < 4; ++tick)
        dataTick();
    EXPECT_EQ (analyser.settleCountdown, 1);
    EXPECT_EQ (analyser.numPoints, 0);
    paintImage();
    EXPECT_TRUE (analyser.smoothed.empty()) << "painted while settling";
    play (signal, 0, N);
    analyser.timerCallback(); // the fifth: maps the columns, reads nothing, keeps the flag
    EXPECT_EQ (analyser.numPoints, 243);
    EXPECT_EQ (left(), std::tuple (N, true, 0));
    analyser.timerCallback(); // one frame
    EXPECT_EQ (left(), std::tuple (hop, false, 1));

    play (signal, N, 1000); // 3048 waiting: no frame, but the flag clears and it repaints
    const float level = analyser.averager.getSample (0, toneBin);
    analyser.timerCallback();
    EXPECT_EQ (left(), std::tuple (hop + 1000, false, 2));
    EXPECT_EQ (analyser.averager.getSample (0, toneBin), level);
    analyser.timerCallback();
    EXPECT_EQ (repaints, 2);

    // A new size hides the display for five data ticks and restarts every column at the top edge.
    analyser.setSize (720, 270);
    for (int tick = 0; tick < 5; ++tick)
    {
        const auto image = paintImage();
        EXPECT_EQ (image.getPixelAt (360, 265).getAlpha(), 0) << "painted while settling";
        dataTick();
    }
    EXPECT_EQ (analyser.numPoints, 414);
    paintImage();
    ASSERT_EQ (analyser.smoothed.size(), 414u);
    for (float y : analyser.smoothed)
        EXPECT_LE (y, (270.0f + 0.5f) / 21.0f);
}

TEST_F (AnalyserDisplay, PaintsEachColumnsLoudestBinRisingAtOnceAndFallingTwentyToOne)
{
    analyser.setSize (360, 134);
    settle();
    auto& levels = analyser.averager;

    // Flat -20 dB, bin 100 at +12 dB (above the top, not clamped), DC and bin 1 (column 0) silent.
    juce::FloatVectorOperations::fill (levels.getWritePointer (0), 0.1f, 2048);
    levels.setSample (0, 100, 4.0f);
    levels.setSample (0, 0, 0.0f);
    levels.setSample (0, 1, -1.0f);
    analyser.smoothed.assign ((size_t) analyser.numPoints, 1000.0f);
    const float* before = analyser.smoothed.data();
    const auto image = paintImage();
    EXPECT_EQ (analyser.smoothed.data(), before) << "same column count, same storage";

    // -60 dB at the bottom edge (134.5), -20 dB at 134.5 - 40 x 134 / 66 = 53.288, +12 dB at
    // 134.5 - 72.04 x 134 / 66 = -11.765.
    EXPECT_NEAR (analyser.smoothed[0], 134.5f, 1.0e-4);
    EXPECT_NEAR (analyser.smoothed[(size_t) columnOf (100)], -11.7655f, 1.0e-3);
    EXPECT_NEAR (analyser.smoothed[(size_t) columnOf (1000)], 53.2879f, 1.0e-3);

    // The gradient fill lies under the line; above it only the faint outline, then nothing.
    EXPECT_GT (image.getPixelAt (300, 63).getAlpha(), 100);
    EXPECT_LT (image.getPixelAt (300, 49).getAlpha(), 10);
    EXPECT_EQ (image.getPixelAt (300, 43).getAlpha(), 0);

    // Silence: every column sinks by a twenty-first of its distance to the bottom per paint.
    levels.clear();
    paintImage();
    EXPECT_NEAR (analyser.smoothed[(size_t) columnOf (1000)], 57.1551f, 1.0e-3); // (53.288 x 20 + 134.5) / 21
    EXPECT_EQ (analyser.smoothed.data(), before);
}

TEST_F (AnalyserDisplay, DrainingFramesAllocatesNothingAndNonFiniteInputReadsAsSilence)
{
    analyser.setSize (360, 134);
    settle();
    const auto signal = tone (N + 6 * hop);
    play (signal, 0, N + 6 * hop); // seven frames in one tick

    long allocations = 0;
    {
        const allocation::Watch watch;
        analyser.timerCallback();
        allocations = watch.calls();
    }
    EXPECT_EQ (allocations, 0); // nothing counts under sanitizers
    EXPECT_EQ (analyser.averagerIndex, 4); // seven frames from slot 1 wrap round to slot 4
    EXPECT_NEAR (analyser.averager.getSample (0, toneBin), toneAmplitude, 0.001);

    // A frame holding NaN adds nothing; the running sum stays finite and falls as frames pass.
    juce::AudioBuffer<float> bad (1, N);
    juce::FloatVectorOperations::fill (bad.getWritePointer (0), std::numeric_limits<float>::quiet_NaN(), N);
    processor->analyserFifo.reset();
    processor->pushNextSampleToFifo (bad, 1, processor->analyserFifo, processor->analyserBuffer);
    analyser.timerCallback();
    for (int bin = 0; bin < 2048; ++bin)
        ASSERT_TRUE (std::isfinite (analyser.averager.getSample (0, bin))) << bin;
    EXPECT_NEAR (analyser.averager.getSample (0, toneBin), 0.75f * toneAmplitude, 0.001);
}
