#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>
#include <thread>
#include <vector>

namespace
{
// Channel c, sample i holds 100 c + first + i + 1: small integers, so channel sums are exact. The
// first k channels at sample i sum to 50 k (k - 1) + k (first + i + 1).
juce::AudioBuffer<float> numbered (int numChannels, int numSamples, int first = 0)
{
    juce::AudioBuffer<float> block (numChannels, numSamples);
    for (int c = 0; c < numChannels; ++c)
        for (int i = 0; i < numSamples; ++i)
            block.setSample (c, i, (float) (100 * c + first + i + 1));
    return block;
}

float numberedSum (int k, int i, int first = 0) { return (float) (50 * k * (k - 1) + k * (first + i + 1)); }

// A feed of its own, every slot marked so untouched storage is recognisable.
struct Feed
{
    explicit Feed (int size)
        : fifo (size),
          storage (1, size)
    {
        juce::FloatVectorOperations::fill (storage.getWritePointer (0), -7.0f, size);
    }

    std::vector<float> drain()
    {
        int s1, n1, s2, n2;
        fifo.prepareToRead (fifo.getNumReady(), s1, n1, s2, n2);
        const float* d = storage.getReadPointer (0);
        std::vector<float> v (d + s1, d + s1 + n1);
        v.insert (v.end(), d + s2, d + s2 + n2);
        fifo.finishedRead (n1 + n2);
        return v;
    }

    std::vector<float> slots() const
    {
        return { storage.getReadPointer (0), storage.getReadPointer (0) + storage.getNumSamples() };
    }

    juce::AbstractFifo fifo;
    juce::AudioBuffer<float> storage;
};

class AnalyserFeed : public ::testing::Test
{
protected:
    // Pushes and reports whether the ready flag was raised.
    bool push (const juce::AudioBuffer<float>& block, int channelsToSum, Feed& feed)
    {
        processor.analyserDataReady = false;
        processor.pushNextSampleToFifo (block, channelsToSum, feed.fifo, feed.storage);
        return processor.analyserDataReady.load();
    }

    MorvikAudioProcessor processor;
};
} // namespace

TEST_F (AnalyserFeed, WritesSumTheChannelsAcrossTheWrapOrSendChannelZeroAlone)
{
    // Positions at 6 of 10: a write of 6 splits into slots 6..9 and 0..1.
    Feed feed (10);
    push (numbered (3, 6, 50), 3, feed);
    ASSERT_EQ (feed.drain().size(), 6u);

    // A sum that is not finite (a NaN, two samples whose sum overflows) is fed as silence.
    auto block = numbered (3, 6);
    block.setSample (1, 2, std::numeric_limits<float>::quiet_NaN());
    block.setSample (0, 4, FLT_MAX);
    block.setSample (2, 4, FLT_MAX);
    const auto before = feed.slots();
    EXPECT_TRUE (push (block, 3, feed));
    const auto after = feed.slots();
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ (after[(size_t) ((6 + i) % 10)], i == 2 || i == 4 ? 0.0f : numberedSum (3, i)) << "sample " << i;
    for (size_t slot = 2; slot < 6; ++slot)
        EXPECT_EQ (after[slot], before[slot]) << "slot " << slot;
    EXPECT_EQ (feed.drain().size(), 6u); // both regions handed over

    Feed single (32);
    push (numbered (2, 12), 1, single);
    const auto channelZero = single.drain();
    ASSERT_EQ (channelZero.size(), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ (channelZero[(size_t) i], (float) (i + 1));
}

TEST_F (AnalyserFeed, BlocksLargerThanTheFreeSpaceAreDroppedWholeWhileEmptyOnesStillRaiseTheFlag)
{
    Feed feed (10); // holds at most 9
    const juce::AudioBuffer<float> empty (2, 0);
    EXPECT_TRUE (push (empty, 2, feed));
    EXPECT_EQ (feed.fifo.getNumReady(), 0);
    EXPECT_TRUE (push (numbered (2, 5), 2, feed));
    ASSERT_EQ (feed.fifo.getFreeSpace(), 4);

    const auto before = feed.slots();
    EXPECT_FALSE (push (numbered (2, 5, 20), 2, feed));
    EXPECT_EQ (feed.slots(), before);
    EXPECT_EQ (feed.fifo.getNumReady(), 5);

    EXPECT_TRUE (push (numbered (2, 4, 5), 2, feed)); // an exact fit
    EXPECT_EQ (feed.fifo.getFreeSpace(), 0);
    EXPECT_FALSE (push (numbered (2, 1), 2, feed));
    EXPECT_TRUE (push (empty, 2, feed));

    const auto values = feed.drain();
    ASSERT_EQ (values.size(), 9u);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ (values[(size_t) i], numberedSum (2, i)) << "sample " << i;
}

// The audio thread pushes chunks while the message thread opens editors (each resizes the feed),
// sometimes with the flag still up, and drains like the analyser. Run under ThreadSanitizer too.
TEST (AnalyserFeedThreads, ResizeWhileTheAudioThreadPushesIsSafe)
{
    constexpr int blockSize = 256;
    auto processor = test::makePreparedProcessor (48000.0, blockSize, 2);
    processor->resizeAnalyserFeed (48000);
    processor->analyserEnabled = true;

    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 };
    std::thread audio ([&] {
        std::mt19937 rng (1);
        juce::AudioBuffer<float> block (2, 3 * blockSize);
        juce::MidiBuffer midi;
        while (! stop.load())
        {
            block.setSize (2, (int) (rng() % (3 * blockSize + 1)), false, false, true);
            for (int c = 0; c < 2; ++c)
                for (int i = 0; i < block.getNumSamples(); ++i)
                    block.setSample (c, i, (float) rng() / 4294967296.0f - 0.5f);
            processor->processBlock (block, midi);
            ++blocks;
        }
    });

    const int sizes[] = { 48000, 1, 300, 4096, 257, 2, 65536, 1000, 8192 };
    bool valuesSane = true;
    int framesRead = 0;

    for (int round = 0; round < 480; ++round)
    {
        if (round % 4 == 0) // an editor closes (sometimes not yet) and a new one resizes
        {
            processor->analyserEnabled = round % 8 != 0;
            processor->resizeAnalyserFeed (sizes[(round / 4) % (int) std::size (sizes)]);
            processor->analyserEnabled = true;
        }

        for (const int target = blocks.load() + 6; blocks.load() < target;)
            std::this_thread::yield();
        if (! processor->analyserDataReady.exchange (false))
            continue;

        auto& fifo = processor->analyserFifo;
        const int wanted = std::min (4096, std::max (2, fifo.getTotalSize() / 2));
        for (; fifo.getNumReady() >= wanted; ++framesRead)
        {
            int s1, n1, s2, n2;
            fifo.prepareToRead (wanted, s1, n1, s2, n2);
            const float* d = processor->analyserBuffer.getReadPointer (0);
            // Two channels of +-0.5 noise lifted by at most +15 dB stay far below 100.
            for (int i = 0; i < n1 + n2; ++i)
                valuesSane = valuesSane && std::abs (d[i < n1 ? s1 + i : s2 + i - n1]) < 100.0f;
            fifo.finishedRead (wanted / 2);
        }
    }

    stop = true;
    audio.join();
    EXPECT_TRUE (valuesSane);
    EXPECT_GT (framesRead, 0);
}
