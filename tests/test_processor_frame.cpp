#include "engine/ParameterIds.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace
{
struct Chunk
{
    int numSamples;
    int numChannels;
    const float* firstSample;
};

std::vector<Chunk> chunksOf (juce::AudioBuffer<float>& buffer, int chunkSize)
{
    std::vector<Chunk> chunks;
    MorvikAudioProcessor::forEachChunk (buffer, chunkSize, [&] (juce::AudioBuffer<float>& chunk) {
        chunks.push_back ({ chunk.getNumSamples(), chunk.getNumChannels(),
                            chunk.getNumChannels() > 0 ? chunk.getReadPointer (0) : nullptr });
    });
    return chunks;
}

juce::AudioProcessor::BusesLayout layoutOf (juce::AudioChannelSet in, juce::AudioChannelSet sidechain,
                                            juce::AudioChannelSet out)
{
    juce::AudioProcessor::BusesLayout layout;
    layout.inputBuses.add (in);
    layout.inputBuses.add (sidechain);
    layout.outputBuses.add (out);
    return layout;
}

juce::MemoryBlock stateOf (MorvikAudioProcessor& processor)
{
    juce::MemoryBlock block;
    processor.getStateInformation (block);
    return block;
}

std::vector<float> parameterValues (MorvikAudioProcessor& processor)
{
    std::vector<float> values;
    for (auto* p : processor.getParameters())
        values.push_back (p->getValue());
    return values;
}
} // namespace

TEST (ProcessorFrame, ChunksReferToTheHostMemory)
{
    constexpr int blockSize = 64;
    for (const int n : { 0, blockSize, blockSize + 1, 3 * blockSize, 5 * blockSize + 7 })
    {
        SCOPED_TRACE (n);
        juce::AudioBuffer<float> host (3, n);
        const auto chunks = chunksOf (host, blockSize);

        const int expectedCount = n <= blockSize ? 1 : (n + blockSize - 1) / blockSize;
        ASSERT_EQ ((int) chunks.size(), expectedCount);

        int offset = 0;
        for (const auto& chunk : chunks)
        {
            EXPECT_EQ (chunk.numChannels, 3);
            EXPECT_EQ (chunk.numSamples, std::min (blockSize, std::max (n - offset, 0)));
            if (n > 0)
            {
                EXPECT_EQ (chunk.firstSample, host.getReadPointer (0) + offset);
            }
            offset += chunk.numSamples;
        }
        EXPECT_EQ (offset, n);
    }
}

// What processChunk receives through processBlock, seen through the analyser feed: each chunk is
// pushed whole or dropped whole, so the number of samples that arrive tells the chunk lengths.
TEST (ProcessorFrame, ProcessBlockHandsOverPreparedSizeChunks)
{
    const auto arriving = [] (MorvikAudioProcessor& processor, int hostBlock) {
        processor.resizeAnalyserFeed (100); // room for 99
        processor.analyserDataReady = false;
        processor.analyserEnabled = true;
        juce::AudioBuffer<float> buffer (2, hostBlock);
        buffer.clear();
        juce::MidiBuffer midi;
        processor.processBlock (buffer, midi);
        return processor.analyserFifo.getNumReady();
    };

    auto processor = test::makePreparedProcessor (48000.0, 64);
    EXPECT_EQ (arriving (*processor, 3 * 64), 64); // 64 fits, the next two chunks of 64 do not
    EXPECT_EQ (arriving (*processor, 64 + 1), 65); // 64, then 1
    EXPECT_EQ (arriving (*processor, 64), 64);
    EXPECT_EQ (arriving (*processor, 0), 0);
    EXPECT_TRUE (processor->analyserDataReady.load()) << "an empty block still reaches processChunk";

    processor->prepareToPlay (48000.0, 1);
    EXPECT_EQ (arriving (*processor, 150), 99); // one-sample chunks fill the feed to the last slot
}

TEST (ProcessorFrame, ChunkSizeIsPreparedBlockSizeAtLeastOne)
{
    MorvikAudioProcessor processor;
    EXPECT_EQ (processor.getChunkSize(), 1);

    juce::AudioBuffer<float> host (2, 5);
    const auto single = chunksOf (host, processor.getChunkSize());
    ASSERT_EQ (single.size(), 5u);
    for (const auto& chunk : single)
        EXPECT_EQ (chunk.numSamples, 1);

    processor.prepareToPlay (44100.0, 1);
    EXPECT_EQ (processor.getChunkSize(), 1);
    processor.prepareToPlay (44100.0, 256);
    EXPECT_EQ (processor.getChunkSize(), 256);
}

TEST (ProcessorFrame, OversizedHostBlockMatchesPreparedSizeBlocks)
{
    // A host that hands over more than it announced must hear exactly what it would have heard
    // with announced-size blocks.
    constexpr int blockSize = 128;
    auto a = test::makePreparedProcessor (48000.0, blockSize);
    auto b = test::makePreparedProcessor (48000.0, blockSize);

    // The console response reaches the convolution from a background thread at a wall-clock
    // moment, so two instances agree to the bit only without the colour blend.
    for (auto* p : { a.get(), b.get() })
    {
        test::setParameter (*p, ParameterIds::character, 0.0f);
        p->prepareToPlay (48000.0, blockSize);
    }

    juce::AudioBuffer<float> whole (2, 10 * blockSize + 17);
    test::fillSine (whole, 48000.0, 220.0, 0.8f);
    juce::AudioBuffer<float> pieces (whole);
    juce::MidiBuffer midi;

    a->processBlock (whole, midi);
    for (int start = 0; start < pieces.getNumSamples(); start += blockSize)
    {
        juce::AudioBuffer<float> view (pieces.getArrayOfWritePointers(), 2, start,
                                       std::min (blockSize, pieces.getNumSamples() - start));
        b->processBlock (view, midi);
    }

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < whole.getNumSamples(); ++i)
            ASSERT_EQ (whole.getSample (c, i), pieces.getSample (c, i)) << c << ":" << i;
}

TEST (ProcessorFrame, UnpreparedProcessorPassesAudioAndCanBeDestroyed)
{
    MorvikAudioProcessor processor;
    EXPECT_FLOAT_EQ (processor.gainReductionMeter.load(), -7.0f);
    EXPECT_FLOAT_EQ (processor.inputLevelMeter.load(), 0.0f);

    juce::AudioBuffer<float> buffer (2, 32);
    test::fillSine (buffer, 44100.0, 1000.0, 0.5f);
    const juce::AudioBuffer<float> original (buffer);
    juce::MidiBuffer midi;
    processor.processBlock (buffer, midi);

    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 32; ++i)
            EXPECT_EQ (buffer.getSample (c, i), original.getSample (c, i));
}

TEST (ProcessorFrame, FixedAnswers)
{
    MorvikAudioProcessor processor;
    EXPECT_EQ (processor.getName(), "Morvik");
    EXPECT_EQ (processor.getTailLengthSeconds(), 0.0);
    EXPECT_FALSE (processor.acceptsMidi());
    EXPECT_FALSE (processor.producesMidi());
    EXPECT_FALSE (processor.isMidiEffect());
    EXPECT_TRUE (processor.hasEditor());
    EXPECT_EQ (processor.getNumPrograms(), 1);
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    processor.setCurrentProgram (3);
    EXPECT_EQ (processor.getCurrentProgram(), 0);
    for (int i : { -1, 0, 1, 7 })
        EXPECT_TRUE (processor.getProgramName (i).isEmpty());
    EXPECT_FALSE (processor.supportsDoublePrecisionProcessing());

    processor.prepareToPlay (48000.0, 512);
    EXPECT_EQ (processor.getLatencySamples(), 0);
}

TEST (ProcessorFrame, BusesInOrderWithSidechainDisabled)
{
    MorvikAudioProcessor processor;
    ASSERT_EQ (processor.getBusCount (true), 2);
    ASSERT_EQ (processor.getBusCount (false), 1);
    EXPECT_EQ (processor.getBus (true, 0)->getName(), "Input");
    EXPECT_EQ (processor.getBus (true, 1)->getName(), "Sidechain");
    EXPECT_EQ (processor.getBus (false, 0)->getName(), "Output");
    EXPECT_TRUE (processor.getBus (true, 0)->isEnabled());
    EXPECT_FALSE (processor.getBus (true, 1)->isEnabled());
    EXPECT_EQ (processor.getBus (true, 1)->getDefaultLayout(), juce::AudioChannelSet::stereo());
    EXPECT_EQ (processor.getMainBusNumInputChannels(), 2);
}

TEST (ProcessorFrame, LayoutRule)
{
    MorvikAudioProcessor processor;
    const auto mono = juce::AudioChannelSet::mono();
    const auto stereo = juce::AudioChannelSet::stereo();
    const auto off = juce::AudioChannelSet::disabled();
    const auto quad = juce::AudioChannelSet::quadraphonic();

    for (const auto& sidechain : { off, mono, stereo, quad })
    {
        EXPECT_TRUE (processor.isBusesLayoutSupported (layoutOf (mono, sidechain, mono)));
        EXPECT_TRUE (processor.isBusesLayoutSupported (layoutOf (stereo, sidechain, stereo)));
        EXPECT_FALSE (processor.isBusesLayoutSupported (layoutOf (mono, sidechain, stereo)));
        EXPECT_FALSE (processor.isBusesLayoutSupported (layoutOf (stereo, sidechain, mono)));
        EXPECT_FALSE (processor.isBusesLayoutSupported (layoutOf (off, sidechain, stereo)));
        EXPECT_FALSE (processor.isBusesLayoutSupported (layoutOf (stereo, sidechain, off)));
        EXPECT_FALSE (processor.isBusesLayoutSupported (layoutOf (quad, sidechain, quad)));
    }

    EXPECT_TRUE (processor.setBusesLayout (layoutOf (mono, stereo, mono)));
    EXPECT_EQ (processor.getTotalNumInputChannels(), 3);
    EXPECT_FALSE (processor.setBusesLayout (layoutOf (mono, off, stereo)));
}

TEST (ProcessorState, RoundTripThroughANewInstance)
{
    MorvikAudioProcessor source;
    test::setParameter (source, ParameterIds::compress, 33.3f);
    test::setParameter (source, ParameterIds::ratio, 20.0f);
    test::setParameter (source, ParameterIds::attack, ParameterIds::attackAuto);
    test::setParameter (source, "2Type", 4.0f);
    test::setParameter (source, "3Freq", 12345.0f);
    test::setParameter (source, ParameterIds::power, 0.0f);

    const auto state = stateOf (source);
    ASSERT_GT (state.getSize(), 0u);
    const auto tree = juce::ValueTree::readFromData (state.getData(), state.getSize());
    EXPECT_TRUE (tree.hasType ("Parameters"));
    EXPECT_EQ (tree.getNumChildren(), 24);

    MorvikAudioProcessor restored;
    restored.setStateInformation (state.getData(), (int) state.getSize());
    for (auto* p : source.getParameters())
    {
        const auto id = dynamic_cast<juce::RangedAudioParameter*> (p)->getParameterID();
        EXPECT_NEAR (test::getParameter (restored, id), test::getParameter (source, id),
                     1e-5f * std::max (1.0f, std::abs (test::getParameter (source, id))))
            << id;
    }
    EXPECT_FLOAT_EQ (test::getParameter (restored, ParameterIds::attack), ParameterIds::attackAuto);
    EXPECT_FLOAT_EQ (test::getParameter (restored, ParameterIds::power), 0.0f);

    // The bands follow a restored state at once.
    restored.prepareToPlay (48000.0, 64);
    source.prepareToPlay (48000.0, 64);
    EXPECT_EQ (restored.bands[1].readCoefficients(), source.bands[1].readCoefficients());
}

TEST (ProcessorState, GetStateReplacesWhatTheBlockHeld)
{
    MorvikAudioProcessor processor;
    juce::MemoryBlock block ("stale bytes", 11);
    processor.getStateInformation (block);
    EXPECT_TRUE (juce::ValueTree::readFromData (block.getData(), block.getSize()).hasType ("Parameters"));
}

TEST (ProcessorState, UnusableDataChangesNothing)
{
    MorvikAudioProcessor processor;
    test::setParameter (processor, ParameterIds::makeup, 7.5f);
    const auto before = parameterValues (processor);
    const auto good = stateOf (processor);

    processor.setStateInformation (nullptr, 0);
    processor.setStateInformation (good.getData(), 0);
    processor.setStateInformation (good.getData(), -5);
    EXPECT_EQ (parameterValues (processor), before);

    // Every truncation of a real state.
    for (size_t length = 1; length < good.getSize(); ++length)
    {
        processor.setStateInformation (good.getData(), (int) length);
        ASSERT_EQ (parameterValues (processor), before) << length;
    }

    // A well-formed tree of a foreign type.
    juce::ValueTree foreign ("SomethingElse");
    foreign.appendChild (juce::ValueTree ("PARAM")
                             .setProperty ("id", ParameterIds::makeup, nullptr)
                             .setProperty ("value", -3.0, nullptr),
                         nullptr);
    juce::MemoryOutputStream foreignData;
    foreign.writeToStream (foreignData);
    processor.setStateInformation (foreignData.getData(), (int) foreignData.getDataSize());
    EXPECT_EQ (parameterValues (processor), before);

    // Random bytes of many sizes.
    std::mt19937 random (1234);
    for (int trial = 0; trial < 2000; ++trial)
    {
        std::vector<unsigned char> bytes ((size_t) (random() % 300 + 1));
        for (auto& b : bytes)
            b = (unsigned char) random();
        processor.setStateInformation (bytes.data(), (int) bytes.size());
    }

    for (auto* p : processor.getParameters())
    {
        EXPECT_TRUE (std::isfinite (p->getValue()));
        EXPECT_GE (p->getValue(), 0.0f);
        EXPECT_LE (p->getValue(), 1.0f);
    }

    // Whatever the noise did, the state the host saves next is still a complete parameter tree.
    const auto after = stateOf (processor);
    const auto tree = juce::ValueTree::readFromData (after.getData(), after.getSize());
    EXPECT_TRUE (tree.hasType ("Parameters"));
    EXPECT_EQ (tree.getNumChildren(), 24);
}

TEST (ProcessorState, NonFiniteValuesAreIgnoredAndOthersLimited)
{
    MorvikAudioProcessor processor;
    test::setParameter (processor, ParameterIds::compress, 20.0f);

    juce::ValueTree tree ("Parameters");
    const auto param = [&tree] (const char* id, const juce::var& value) {
        tree.appendChild (
            juce::ValueTree ("PARAM").setProperty ("id", id, nullptr).setProperty ("value", value, nullptr), nullptr);
    };
    param (ParameterIds::compress, std::numeric_limits<double>::quiet_NaN());
    param (ParameterIds::makeup, std::numeric_limits<double>::infinity());
    param (ParameterIds::ratio, 1000.0);
    param ("1Freq", -50.0);
    param (ParameterIds::smooth, "75");
    param (ParameterIds::mix, "loud");
    tree.appendChild (juce::ValueTree ("PARAM").setProperty ("id", ParameterIds::character, nullptr), nullptr);
    test::setParameter (processor, ParameterIds::character, 80.0f);
    test::setParameter (processor, "2Gain", -6.0f);

    juce::MemoryOutputStream data;
    tree.writeToStream (data);
    processor.setStateInformation (data.getData(), (int) data.getDataSize());

    EXPECT_FLOAT_EQ (test::getParameter (processor, ParameterIds::compress), 20.0f);
    EXPECT_FLOAT_EQ (test::getParameter (processor, ParameterIds::makeup), 2.0f);
    EXPECT_FLOAT_EQ (test::getParameter (processor, ParameterIds::ratio), 20.0f);
    EXPECT_FLOAT_EQ (test::getParameter (processor, "1Freq"), 20.0f);
    EXPECT_FLOAT_EQ (test::getParameter (processor, ParameterIds::smooth), 75.0f);
    EXPECT_FLOAT_EQ (test::getParameter (processor, ParameterIds::mix), 1.0f);
    // Named without a value: the default. Not named at all: kept.
    EXPECT_FLOAT_EQ (test::getParameter (processor, ParameterIds::character), 30.0f);
    EXPECT_FLOAT_EQ (test::getParameter (processor, "2Gain"), -6.0f);
}

TEST (ProcessorFrame, Lv2BuildHasNoSidechainAndNamesBandsWithoutLeadingDigits)
{
    // What the LV2 wrapper does before it creates the processor.
    const auto previous = juce::PluginHostType::jucePlugInClientCurrentWrapperType;
    juce::PluginHostType::jucePlugInClientCurrentWrapperType = juce::AudioProcessor::wrapperType_LV2;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_LV2);
    MorvikAudioProcessor lv2;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);
    juce::PluginHostType::jucePlugInClientCurrentWrapperType = previous;

    EXPECT_EQ (lv2.getBusCount (true), 1);
    EXPECT_EQ (lv2.getBusCount (false), 1);

    std::set<juce::String> ids;
    for (auto* p : lv2.getParameters())
    {
        const auto id = dynamic_cast<juce::RangedAudioParameter*> (p)->getParameterID();
        EXPECT_TRUE (juce::CharacterFunctions::isLetter (id[0])) << id;
        ids.insert (id);
    }
    EXPECT_EQ (ids.size(), 24u);
    EXPECT_EQ (ids.count ("Band2Gain"), 1u);
    EXPECT_EQ (lv2.bands[2].qId.toString(), "Band3Q");

    // A state written by the other formats (and every factory preset) reads into the LV2 names,
    // and the bands follow it.
    MorvikAudioProcessor vst3;
    test::setParameter (vst3, "2Gain", 6.0f);
    test::setParameter (vst3, "3Freq", 5000.0f);
    const auto state = stateOf (vst3);
    lv2.setStateInformation (state.getData(), (int) state.getSize());
    EXPECT_FLOAT_EQ (test::getParameter (lv2, "Band2Gain"), 6.0f);
    EXPECT_NEAR (test::getParameter (lv2, "Band3Freq"), 5000.0f, 0.05f);
    EXPECT_TRUE (lv2.bands[1].active.load());

    lv2.prepareToPlay (48000.0, 64);
    vst3.prepareToPlay (48000.0, 64);
    EXPECT_EQ (lv2.bands[1].readCoefficients(), vst3.bands[1].readCoefficients());

    // And back into the other formats.
    test::setParameter (lv2, "Band1Q", 3.5f);
    const auto lv2State = stateOf (lv2);
    MorvikAudioProcessor restored;
    restored.setStateInformation (lv2State.getData(), (int) lv2State.getSize());
    EXPECT_NEAR (test::getParameter (restored, "1Q"), 3.5f, 1e-4f);
    EXPECT_FLOAT_EQ (test::getParameter (restored, "2Gain"), 6.0f);
}
