#include "engine/dsp/ParameterIds.h"
#include "support/EngineRender.h"

#include <gtest/gtest.h>

namespace
{
using Set = juce::AudioChannelSet;

juce::ValueTree treeOf (const juce::MemoryBlock& state)
{
    return juce::ValueTree::readFromData (state.getData(), state.getSize());
}

std::vector<float> parameterValues (MorvikAudioProcessor& processor)
{
    std::vector<float> values;
    for (auto* p : processor.getParameters())
        values.push_back (p->getValue());
    return values;
}

} // namespace

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
    processor->prepareToPlay (48000.0, 256);
    EXPECT_EQ (arriving (*processor, 256), 0); // one chunk, too long for the feed
}

// A host that hands over more than it announced must hear exactly what it would have heard with
// announced-size blocks. The console response reaches the convolution from a background thread at a
// wall-clock moment, so two instances agree to the bit only without the colour blend.
TEST (ProcessorFrame, OversizedHostBlockMatchesPreparedSizeBlocks)
{
    constexpr int size = 128;
    const auto noColour = [] (MorvikAudioProcessor& p) { test::setParameter (p, ParameterIds::character, 0.0f); };
    auto a = test::makePreparedProcessor (48000.0, size, Set::stereo(), Set::disabled(), noColour);
    auto b = test::makePreparedProcessor (48000.0, size, Set::stereo(), Set::disabled(), noColour);

    juce::AudioBuffer<float> whole (2, 10 * size + 17);
    test::fillSine (whole, 48000.0, 220.0, 0.8f);
    juce::AudioBuffer<float> pieces (whole);
    juce::MidiBuffer midi;

    a->processBlock (whole, midi);
    for (int start = 0; start < pieces.getNumSamples(); start += size)
    {
        juce::AudioBuffer<float> view (pieces.getArrayOfWritePointers(), 2, start,
                                       std::min (size, pieces.getNumSamples() - start));
        b->processBlock (view, midi);
    }
    EXPECT_TRUE (test::sameSamples (whole, pieces));
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
    EXPECT_TRUE (test::sameSamples (buffer, original));
}

TEST (ProcessorFrame, LayoutRule)
{
    MorvikAudioProcessor processor;
    const auto mono = Set::mono(), stereo = Set::stereo(), off = Set::disabled(), quad = Set::quadraphonic();
    const auto layoutOf = [] (Set in, Set sidechain, Set out) {
        juce::AudioProcessor::BusesLayout layout;
        layout.inputBuses.add (in);
        layout.inputBuses.add (sidechain);
        layout.outputBuses.add (out);
        return layout;
    };

    for (const auto& sidechain : { off, mono, stereo, quad })
        for (const auto& [in, out, supported] : { std::tuple { mono, mono, true },
                                                  { stereo, stereo, true },
                                                  { mono, stereo, false },
                                                  { stereo, mono, false },
                                                  { off, stereo, false },
                                                  { stereo, off, false },
                                                  { quad, quad, false } })
            EXPECT_EQ (processor.isBusesLayoutSupported (layoutOf (in, sidechain, out)), supported)
                << in.getDescription() << " / " << sidechain.getDescription() << " / " << out.getDescription();

    EXPECT_TRUE (processor.setBusesLayout (layoutOf (mono, stereo, mono)));
    EXPECT_EQ (processor.getTotalNumInputChannels(), 3);
    EXPECT_FALSE (processor.setBusesLayout (layoutOf (mono, off, stereo)));
}

TEST (ProcessorState, RoundTripThroughANewInstanceReplacingWhatTheBlockHeld)
{
    MorvikAudioProcessor source;
    test::setParameters (source, { { ParameterIds::compress, 33.3f },
                                   { ParameterIds::ratio, 20.0f },
                                   { ParameterIds::attack, ParameterIds::attackAuto },
                                   { "2Type", 4.0f },
                                   { "3Freq", 12345.0f },
                                   { ParameterIds::power, 0.0f } });

    juce::MemoryBlock state ("stale bytes", 11);
    source.getStateInformation (state);
    const auto tree = treeOf (state);
    EXPECT_TRUE (tree.hasType ("Parameters"));
    EXPECT_EQ (tree.getNumChildren(), 24);

    MorvikAudioProcessor restored;
    test::restoreState (restored, state);
    for (auto* p : source.getParameters())
    {
        const auto id = dynamic_cast<juce::RangedAudioParameter*> (p)->getParameterID();
        const float expected = test::getParameter (source, id);
        EXPECT_NEAR (test::getParameter (restored, id), expected, 1e-5f * std::max (1.0f, std::abs (expected))) << id;
    }
    EXPECT_FLOAT_EQ (test::getParameter (restored, ParameterIds::attack), ParameterIds::attackAuto);
    EXPECT_FLOAT_EQ (test::getParameter (restored, ParameterIds::power), 0.0f);

    // The bands follow a restored state at once.
    restored.prepareToPlay (48000.0, 64);
    source.prepareToPlay (48000.0, 64);
    EXPECT_EQ (restored.bands[1].readCoefficients(), source.bands[1].readCoefficients());
}

// The reader the host state shares with presets is fuzzed in test_presets; here the host's own ways
// of handing over nothing, a cut-off state and a foreign tree.
TEST (ProcessorState, UnusableDataChangesNothing)
{
    MorvikAudioProcessor processor;
    test::setParameter (processor, ParameterIds::makeup, 7.5f);
    const auto before = parameterValues (processor);
    const auto good = test::stateOf (processor);

    processor.setStateInformation (nullptr, 0);
    processor.setStateInformation (good.getData(), 0);
    processor.setStateInformation (good.getData(), -5);
    processor.setStateInformation (good.getData(), (int) good.getSize() / 2);

    test::restoreState (processor, test::stateNaming ({ { ParameterIds::makeup, -3.0 } }, "SomethingElse"));
    EXPECT_EQ (parameterValues (processor), before);

    // The state the host saves next is still a complete parameter tree.
    const auto tree = treeOf (test::stateOf (processor));
    EXPECT_TRUE (tree.hasType ("Parameters"));
    EXPECT_EQ (tree.getNumChildren(), 24);
}

TEST (ProcessorState, NonFiniteValuesAreIgnoredAndOthersLimited)
{
    MorvikAudioProcessor processor;
    test::setParameter (processor, ParameterIds::compress, 20.0f);
    test::setParameter (processor, ParameterIds::character, 80.0f);
    test::setParameter (processor, "2Gain", -6.0f);

    test::restoreState (processor,
                        test::stateNaming ({ { ParameterIds::compress, std::numeric_limits<double>::quiet_NaN() },
                                             { ParameterIds::makeup, std::numeric_limits<double>::infinity() },
                                             { ParameterIds::ratio, 1000.0 },
                                             { "1Freq", -50.0 },
                                             { ParameterIds::smooth, "75" },
                                             { ParameterIds::mix, "loud" },
                                             { ParameterIds::character, {} } }));

    // Named without a value: the default. Not named at all: kept.
    for (const auto& [id, expected] : { std::pair<juce::String, float> { ParameterIds::compress, 20.0f },
                                        { ParameterIds::makeup, 2.0f },
                                        { ParameterIds::ratio, 20.0f },
                                        { "1Freq", 20.0f },
                                        { ParameterIds::smooth, 75.0f },
                                        { ParameterIds::mix, 1.0f },
                                        { ParameterIds::character, 30.0f },
                                        { "2Gain", -6.0f } })
        EXPECT_FLOAT_EQ (test::getParameter (processor, id), expected) << id;
}

TEST (ProcessorFrame, Lv2BuildTakesTheOtherFormatsStatesUnderItsOwnNames)
{
    // What the LV2 wrapper does before it creates the processor.
    const auto previous = juce::PluginHostType::jucePlugInClientCurrentWrapperType;
    juce::PluginHostType::jucePlugInClientCurrentWrapperType = juce::AudioProcessor::wrapperType_LV2;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_LV2);
    MorvikAudioProcessor lv2;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);
    juce::PluginHostType::jucePlugInClientCurrentWrapperType = previous;

    // Its buses and parameter names (no leading digits) are checked through a real LV2 host.
    EXPECT_EQ (lv2.bands[2].qId.toString(), "Band3Q");

    // A state written by the other formats (and every factory preset) reads into the LV2 names,
    // and the bands follow it.
    MorvikAudioProcessor vst3;
    test::setParameter (vst3, "2Gain", 6.0f);
    test::setParameter (vst3, "3Freq", 5000.0f);
    test::restoreState (lv2, test::stateOf (vst3));
    EXPECT_FLOAT_EQ (test::getParameter (lv2, "Band2Gain"), 6.0f);
    EXPECT_NEAR (test::getParameter (lv2, "Band3Freq"), 5000.0f, 0.05f);
    EXPECT_TRUE (lv2.bands[1].active.load());

    lv2.prepareToPlay (48000.0, 64);
    vst3.prepareToPlay (48000.0, 64);
    EXPECT_EQ (lv2.bands[1].readCoefficients(), vst3.bands[1].readCoefficients());

    // And back into the other formats.
    test::setParameter (lv2, "Band1Q", 3.5f);
    MorvikAudioProcessor restored;
    test::restoreState (restored, test::stateOf (lv2));
    EXPECT_NEAR (test::getParameter (restored, "1Q"), 3.5f, 1e-4f);
    EXPECT_FLOAT_EQ (test::getParameter (restored, "2Gain"), 6.0f);
}
