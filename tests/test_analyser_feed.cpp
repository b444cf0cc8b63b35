#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <random>
#include <thread>
#include <vector>

namespace
{
// Channel c, sample i holds 100 c + i + 1: small integers, so every sum of channels is exact and
// each sample tells where it came from.
juce::AudioBuffer<float> numberedBlock (int numChannels, int numSamples, int firstIndex = 0)
{
    juce::AudioBuffer<float> block (numChannels, numSamples);
    for (int c = 0; c < numChannels; ++c)
        for (int i = 0; i < numSamples; ++i)
            block.setSample (c, i, (float) (100 * c + firstIndex + i + 1));
    return block;
}

// What the feed should carry for sample i of a numbered block when the first k channels are summed.
float numberedSum (int k, int i, int firstIndex = 0)
{
    float sum = 0.0f;
    for (int c = 0; c < std::max (k, 1); ++c)
        sum += (float) (100 * c + firstIndex + i + 1);
    return sum;
}

// A feed of its own, sized like the editor sizes the processor's: one channel, a marker value in
// every slot so untouched storage is recognisable.
struct Feed
{
    explicit Feed (int totalSize) : fifo (totalSize), storage (1, totalSize)
    {
        std::fill (storage.getWritePointer (0), storage.getWritePointer (0) + totalSize, -7.0f);
    }

    // Reads everything that is ready, in order, the way the analyser drains the feed.
    std::vector<float> drain()
    {
        return read (fifo.getNumReady());
    }

    std::vector<float> read (int count)
    {
        int start1, size1, start2, size2;
        fifo.prepareToRead (count, start1, size1, start2, size2);
        const float* data = storage.getReadPointer (0);
        std::vector<float> values (data + start1, data + start1 + size1);
        values.insert (values.end(), data + start2, data + start2 + size2);
        fifo.finishedRead (size1 + size2);
        return values;
    }

    std::vector<float> snapshot() const
    {
        const float* data = storage.getReadPointer (0);
        return { data, data + storage.getNumSamples() };
    }

    juce::AbstractFifo fifo;
    juce::AudioBuffer<float> storage;
};

class AnalyserFeed : public ::testing::Test
{
protected:
    void push (const juce::AudioBuffer<float>& block, int channelsToSum, Feed& feed)
    {
        processor.pushNextSampleToFifo (block, channelsToSum, feed.fifo, feed.storage);
    }

    MorvikAudioProcessor processor;
};
} // namespace

TEST_F (AnalyserFeed, WrappingWriteSumsChannelsInBothRegions)
{
    Feed feed (10);

    // Move both positions to 6 so the next write of 6 samples splits into 4 at the end and 2 at
    // the start of the storage.
    push (numberedBlock (3, 6, 50), 3, feed);
    ASSERT_EQ (feed.drain().size(), 6u);

    int start1, size1, start2, size2;
    feed.fifo.prepareToWrite (6, start1, size1, start2, size2);
    ASSERT_EQ (start1, 6);
    ASSERT_EQ (size1, 4);
    ASSERT_EQ (start2, 0);
    ASSERT_EQ (size2, 2);

    const auto before = feed.snapshot();
    processor.analyserDataReady = false;
    push (numberedBlock (3, 6), 3, feed);
    EXPECT_TRUE (processor.analyserDataReady.load());
    EXPECT_EQ (feed.fifo.getNumReady(), 6);

    // Both regions hold the sum of all three channels (the copy of channel 0 replaced the old
    // contents before the other channels were added), and the slots in between are untouched.
    const auto after = feed.snapshot();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ (after[(size_t) (6 + i)], numberedSum (3, i)) << "first region, sample " << i;
    for (int i = 4; i < 6; ++i)
        EXPECT_EQ (after[(size_t) (i - 4)], numberedSum (3, i)) << "second region, sample " << i;
    for (size_t slot = 2; slot < 6; ++slot)
        EXPECT_EQ (after[slot], before[slot]) << "slot " << slot;

    const auto values = feed.drain();
    ASSERT_EQ (values.size(), 6u);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ (values[(size_t) i], numberedSum (3, i)) << "sample " << i;
}

TEST_F (AnalyserFeed, StereoSumIsTwiceACommonSignal)
{
    Feed feed (64);
    juce::AudioBuffer<float> block (2, 16);
    for (int i = 0; i < 16; ++i)
    {
        const float v = 0.25f * std::sin (0.3f * (float) i);
        block.setSample (0, i, v);
        block.setSample (1, i, v);
    }

    push (block, 2, feed);
    const auto values = feed.drain();
    ASSERT_EQ (values.size(), 16u);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ (values[(size_t) i], 2.0f * block.getSample (0, i));
}

TEST_F (AnalyserFeed, BlockLargerThanFreeSpaceIsDroppedWhole)
{
    Feed feed (10);
    push (numberedBlock (2, 5), 2, feed);
    ASSERT_EQ (feed.fifo.getNumReady(), 5);
    ASSERT_EQ (feed.fifo.getFreeSpace(), 4);

    const auto before = feed.snapshot();
    processor.analyserDataReady = false;

    push (numberedBlock (2, 5, 20), 2, feed);

    EXPECT_FALSE (processor.analyserDataReady.load());
    EXPECT_EQ (feed.fifo.getNumReady(), 5);
    EXPECT_EQ (feed.snapshot(), before);

    // No partial write either: what was there before is still read back intact.
    const auto values = feed.drain();
    ASSERT_EQ (values.size(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ (values[(size_t) i], numberedSum (2, i));
}

TEST_F (AnalyserFeed, BlockOfExactlyTheFreeSpaceIsAccepted)
{
    // A feed of total size 10 holds at most 9 samples.
    Feed feed (10);
    ASSERT_EQ (feed.fifo.getFreeSpace(), 9);

    processor.analyserDataReady = false;
    push (numberedBlock (2, 9), 2, feed);
    EXPECT_TRUE (processor.analyserDataReady.load());
    EXPECT_EQ (feed.fifo.getNumReady(), 9);
    EXPECT_EQ (feed.fifo.getFreeSpace(), 0);

    // Full now: one more sample does not fit.
    processor.analyserDataReady = false;
    push (numberedBlock (2, 1), 2, feed);
    EXPECT_FALSE (processor.analyserDataReady.load());
    EXPECT_EQ (feed.fifo.getNumReady(), 9);

    // Drain four, and exactly four fit again, wrapping around the end.
    const auto firstFour = feed.read (4);
    ASSERT_EQ (firstFour.size(), 4u);
    ASSERT_EQ (feed.fifo.getFreeSpace(), 4);
    push (numberedBlock (2, 4, 9), 2, feed);
    EXPECT_TRUE (processor.analyserDataReady.load());

    const auto rest = feed.drain();
    ASSERT_EQ (rest.size(), 9u);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ (rest[(size_t) i], numberedSum (2, i + 4)) << "sample " << i;
}

TEST_F (AnalyserFeed, EmptyBlockAlwaysFitsAndRaisesTheFlag)
{
    Feed feed (10);
    juce::AudioBuffer<float> empty (2, 0);

    processor.analyserDataReady = false;
    push (empty, 2, feed);
    EXPECT_TRUE (processor.analyserDataReady.load());
    EXPECT_EQ (feed.fifo.getNumReady(), 0);

    // Also when the feed is full.
    push (numberedBlock (2, 9), 2, feed);
    const auto before = feed.snapshot();
    processor.analyserDataReady = false;
    push (empty, 2, feed);
    EXPECT_TRUE (processor.analyserDataReady.load());
    EXPECT_EQ (feed.fifo.getNumReady(), 9);
    EXPECT_EQ (feed.snapshot(), before);
}

TEST_F (AnalyserFeed, OneChannelOrFewerSendsOnlyChannelZero)
{
    for (const int channelsToSum : { 1, 0, -3 })
    {
        SCOPED_TRACE (channelsToSum);
        Feed feed (32);
        push (numberedBlock (2, 12), channelsToSum, feed);
        const auto values = feed.drain();
        ASSERT_EQ (values.size(), 12u);
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ (values[(size_t) i], (float) (i + 1));
    }
}

TEST_F (AnalyserFeed, ResizeMakesAnEmptyFeedOfTheRequestedLength)
{
    processor.resizeAnalyserFeed (4096);
    EXPECT_EQ (processor.analyserFifo.getTotalSize(), 4096);
    EXPECT_EQ (processor.analyserFifo.getNumReady(), 0);
    ASSERT_EQ (processor.analyserBuffer.getNumChannels(), 1);
    ASSERT_EQ (processor.analyserBuffer.getNumSamples(), 4096);

    processor.pushNextSampleToFifo (numberedBlock (2, 100), 2, processor.analyserFifo, processor.analyserBuffer);
    ASSERT_EQ (processor.analyserFifo.getNumReady(), 100);

    // A new editor starts from an empty, silent feed whatever the previous one left behind.
    processor.resizeAnalyserFeed (4096);
    EXPECT_EQ (processor.analyserFifo.getNumReady(), 0);
    const float* data = processor.analyserBuffer.getReadPointer (0);
    EXPECT_TRUE (std::all_of (data, data + 4096, [] (float v) { return v == 0.0f; }));

    // A nonsensical length still leaves a usable feed: it accepts empty blocks and nothing else.
    processor.resizeAnalyserFeed (0);
    EXPECT_GE (processor.analyserFifo.getTotalSize(), 1);
    EXPECT_GE (processor.analyserBuffer.getNumSamples(), processor.analyserFifo.getTotalSize());
    processor.analyserDataReady = false;
    processor.pushNextSampleToFifo (numberedBlock (2, 1), 2, processor.analyserFifo, processor.analyserBuffer);
    EXPECT_FALSE (processor.analyserDataReady.load());
    processor.pushNextSampleToFifo (juce::AudioBuffer<float> (2, 0), 2, processor.analyserFifo, processor.analyserBuffer);
    EXPECT_TRUE (processor.analyserDataReady.load());
}

// The audio thread pushes a chunk at a time while the message thread opens and closes editors
// (each one resizes the feed) and drains the feed like the spectrum analyser. Pushes that meet a
// resize are dropped; nothing may touch freed or half-resized storage. Run under ThreadSanitizer
// too.
TEST (AnalyserFeedThreads, ResizeWhileTheAudioThreadPushesIsSafe)
{
    constexpr double sampleRate = 48000.0;
    constexpr int blockSize = 256;
    auto processor = test::makePreparedProcessor (sampleRate, blockSize, 2);
    processor->resizeAnalyserFeed (48000);
    processor->analyserEnabled = true;

    std::atomic<bool> stop { false };
    std::atomic<int> blocksProcessed { 0 };
    std::atomic<bool> audioOutputFinite { true };

    std::thread audio ([&]
                       {
                           std::mt19937 rng (1);
                           std::uniform_real_distribution<float> noise (-0.5f, 0.5f);
                           std::uniform_int_distribution<int> length (0, 3 * blockSize);
                           juce::AudioBuffer<float> block (2, 3 * blockSize);
                           juce::MidiBuffer midi;

                           while (! stop.load())
                           {
                               const int n = length (rng);
                               block.setSize (2, n, false, false, true);
                               for (int c = 0; c < 2; ++c)
                                   for (int i = 0; i < n; ++i)
                                       block.setSample (c, i, noise (rng));

                               processor->processBlock (block, midi);

                               if (test::peakOrInfinity (block) > 1000.0f)
                                   audioOutputFinite = false;
                               ++blocksProcessed;
                           }
                       });

    while (blocksProcessed.load() < 20)
        std::this_thread::yield();

    const int sizes[] = { 48000, 1, 300, 4096, 257, 2, 65536, 1000, 8192, 48000 };
    constexpr int frameSize = 4096;
    std::vector<float> frame ((size_t) frameSize);
    int framesRead = 0;
    int valuesChecked = 0;
    bool valuesSane = true;

    for (int round = 0; round < 120; ++round)
    {
        // Editor closes (its destructor lowers the flag), and a new one opens: resize, then raise.
        // Every other round the resize comes while the flag is still up, the worst case of a
        // chunk that read the flag just before it went down: only the resize lock keeps that push
        // off the storage being replaced.
        if (round % 2 == 0)
        {
            processor->analyserEnabled = false;
            if (round % 3 != 0)
                std::this_thread::yield();
        }

        const int size = sizes[round % (int) std::size (sizes)];
        processor->resizeAnalyserFeed (size);
        EXPECT_EQ (processor->analyserBuffer.getNumSamples(), size);
        processor->analyserEnabled = true;

        // A few analyser timer ticks: whole frames of up to 4096 samples, advancing by half.
        for (int tick = 0; tick < 4; ++tick)
        {
            // Let the audio thread run a few chunks between ticks, as it would in 33 ms.
            const int target = blocksProcessed.load() + 6;
            while (blocksProcessed.load() < target)
                std::this_thread::yield();

            if (! processor->analyserDataReady.load())
                continue;

            auto& fifo = processor->analyserFifo;
            const int wanted = std::min (frameSize, std::max (2, fifo.getTotalSize() / 2));

            while (fifo.getNumReady() >= wanted)
            {
                int start1, size1, start2, size2;
                fifo.prepareToRead (wanted, start1, size1, start2, size2);
                const float* data = processor->analyserBuffer.getReadPointer (0);
                std::copy (data + start1, data + start1 + size1, frame.begin());
                std::copy (data + start2, data + start2 + size2, frame.begin() + size1);

                for (int i = 0; i < size1 + size2; ++i)
                {
                    // The detector sum of two channels of +-0.5 noise, lifted by at most the
                    // Smooth stage's +15 dB: far below 100.
                    if (! std::isfinite (frame[(size_t) i]) || std::abs (frame[(size_t) i]) > 100.0f)
                        valuesSane = false;
                    ++valuesChecked;
                }

                fifo.finishedRead (wanted / 2);
                ++framesRead;
            }

            processor->analyserDataReady = false;
        }
    }

    stop = true;
    audio.join();

    EXPECT_TRUE (valuesSane);
    EXPECT_TRUE (audioOutputFinite.load());
    EXPECT_GT (blocksProcessed.load(), 20);
    EXPECT_GT (framesRead, 0);
    EXPECT_GT (valuesChecked, 0);
}
