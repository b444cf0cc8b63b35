#include "editor/PluginEditor.h"
#include "engine/dsp/ParameterIds.h"
#include "support/EditorSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

// Needs a display: the suite runs under xvfb-run.
using Knob = MorvikAudioProcessorEditor::Knob;

class EditorTest : public ::testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
};

TEST_F (EditorTest, OpensTheAnalyserFeedForItsLifetime)
{
    MorvikAudioProcessor processor;
    {
        const auto editor = test::openEditor (processor);
        ASSERT_NE (editor, nullptr);
        EXPECT_TRUE (processor.analyserEnabled.load());
        // No rate known yet: one second at 48 kHz, one sample less usable.
        EXPECT_EQ (processor.analyserFifo.getTotalSize(), 48000);
        EXPECT_EQ (processor.analyserFifo.getFreeSpace(), 47999);
        EXPECT_EQ (processor.analyserBuffer.getNumChannels(), 1);
        EXPECT_EQ (processor.analyserBuffer.getNumSamples(), 48000);
    }
    EXPECT_FALSE (processor.analyserEnabled.load());

    // A fractional rate is truncated; the feed keeps the size it had when the window opened.
    for (const auto& [rate, size] : { std::pair { 44100.7, 44100 }, std::pair { 96000.0, 96000 } })
    {
        processor.prepareToPlay (rate, 256);
        const auto editor = test::openEditor (processor);
        EXPECT_TRUE (processor.analyserEnabled.load());
        EXPECT_EQ (processor.analyserFifo.getTotalSize(), size);
        EXPECT_EQ (processor.analyserBuffer.getNumSamples(), size);
        processor.prepareToPlay (22050.0, 256);
        EXPECT_EQ (processor.analyserBuffer.getNumSamples(), size);
    }
}

TEST_F (EditorTest, KeepsItsSizeWithinLimitsAndRestoresIt)
{
    MorvikAudioProcessor processor;
    {
        const auto editor = test::openEditor (processor);
        EXPECT_TRUE (editor->isResizable());

        // Hosts resize through the editor's constrainer, which holds the ratio and the limits.
        editor->setBoundsConstrained ({ 0, 0, 1200, 600 });
        EXPECT_NEAR ((double) editor->getWidth() / editor->getHeight(), 900.0 / 530.0, 0.01);

        editor->setBoundsConstrained ({ 0, 0, 5000, 3000 });
        EXPECT_LE (editor->getWidth(), 1800);
        EXPECT_LE (editor->getHeight(), 1060);

        editor->setBoundsConstrained ({ 0, 0, 100, 50 });
        EXPECT_GE (editor->getWidth(), 450);
        EXPECT_GE (editor->getHeight(), 265);

        editor->setBoundsConstrained ({ 0, 0, 1350, 795 });
    }

    const auto editor = test::openEditor (processor);
    EXPECT_EQ (editor->getWidth(), 1350);
    EXPECT_EQ (editor->getHeight(), 795);
}

// What the stacking decides: the threshold knob over the meter it sits on, the graph's layers over
// each other with the pad (which takes the mouse) on top, and the graph above everything else.
TEST_F (EditorTest, ChildrenStackSoThatTheControlsOnTopTakeTheMouse)
{
    MorvikAudioProcessor processor;
    const auto editor = test::openEditor (processor);
    auto& e = *editor;

    EXPECT_LT (e.getIndexOfChildComponent (&e.getMeter()), e.getIndexOfChildComponent (&e.getKnob (Knob::compress)));
    EXPECT_EQ (e.getChildren().getLast(), &e.getGraph());
    EXPECT_EQ (e.getGraph().getChildren(),
               juce::Array<juce::Component*> ({ &e.getSpectrumAnalyzer(), &e.getFrequencyCurve(), &e.getXYPad() }));
    EXPECT_TRUE (e.isOpaque());
    EXPECT_EQ (e.getTimerInterval(), 33);
    EXPECT_NE (dynamic_cast<Look*> (&e.getLookAndFeel()), nullptr);
}

TEST_F (EditorTest, ControlsMoveTheirParametersAndFollowThem)
{
    MorvikAudioProcessor processor;
    const auto editor = test::openEditor (processor);
    auto& e = *editor;

    const std::pair<Knob, const char*> controls[] = {
        { Knob::makeup, ParameterIds::makeup },     { Knob::character, ParameterIds::character },
        { Knob::compress, ParameterIds::compress }, { Knob::ratio, ParameterIds::ratio },
        { Knob::attack, ParameterIds::attack },     { Knob::release, ParameterIds::release },
        { Knob::mix, ParameterIds::mix },           { Knob::smooth, ParameterIds::smooth },
    };

    for (auto [knob, id] : controls)
    {
        const auto range = processor.apvts.getParameter (id)->getNormalisableRange();
        const float fromHost = range.snapToLegalValue (range.convertFrom0to1 (0.3f));
        test::setParameter (processor, id, fromHost);
        EXPECT_NEAR (e.getKnob (knob).getValue(), fromHost, 1e-4) << id;

        const float fromUser = range.snapToLegalValue (range.convertFrom0to1 (0.7f));
        e.getKnob (knob).setValue (fromUser, juce::sendNotificationSync);
        EXPECT_NEAR (test::getParameter (processor, id), fromUser, 1e-4) << id;
    }

    // The threshold's value text is hidden over the meter.
    EXPECT_EQ (e.getKnob (Knob::compress).findColour (juce::Slider::textBoxTextColourId), transparentPelko);

    // The power switch follows "Power" too.
    test::setParameter (processor, ParameterIds::power, 0.0f);
    EXPECT_FALSE (e.getPowerButton().getToggleState());
    test::setParameter (processor, ParameterIds::power, 1.0f);
    EXPECT_TRUE (e.getPowerButton().getToggleState());

    // STEREO LINK shows a fixed 50 % at half opacity and takes no input.
    auto& stereoLink = e.getKnob (Knob::stereoLink);
    EXPECT_EQ (stereoLink.getValue(), 50.0);
    EXPECT_EQ (stereoLink.getTextFromValue (stereoLink.getValue()), "50 %");
    EXPECT_FALSE (stereoLink.isEnabled());
    EXPECT_NEAR (stereoLink.getAlpha(), 0.5f, 0.005f); // stored as a byte
}

// (test_meter checks how a tick moves the histories on.)
TEST_F (EditorTest, MeterTimerFeedsTheMeterAndPowerClearsIt)
{
    auto processor = test::makePreparedProcessor (48000.0, 512);
    const auto editor = test::openEditor (*processor);
    auto& e = *editor;
    e.stopTimer(); // the test ticks by hand
    auto& meter = e.getMeter();
    auto& needle = meter.needle;

    processor->gainReductionMeter = -3.5f;
    processor->inputLevelMeter = 2.0f;
    e.timerCallback();
    EXPECT_EQ (std::pair (needle.historyA[0], needle.historyB[0]), std::pair (-3.5f, 2.0f));

    // A click on the power switch: "Power" goes off, the meter is disabled and cleared.
    e.getPowerButton().triggerClick();
    test::pumpMessages (20);
    EXPECT_EQ (test::getParameter (*processor, ParameterIds::power), 0.0f);
    EXPECT_FALSE (meter.isEnabled());
    EXPECT_EQ (needle.historyA, decltype (needle.historyA) {});
    EXPECT_EQ (needle.historyB, decltype (needle.historyB) {});

    // Fully powered off, the engine reports -7 dB and no input, which the next tick shows.
    juce::AudioBuffer<float> buffer (2, 512);
    juce::MidiBuffer midi;
    for (int block = 0; block < 8; ++block)
    {
        test::fillSine (buffer, 48000.0, 440.0, 0.5f);
        processor->processBlock (buffer, midi);
    }
    e.timerCallback();
    EXPECT_EQ ((std::array { needle.historyA[0], needle.historyB[0], needle.historyA[1] }),
               (std::array { -7.0f, 0.0f, 0.0f }));

    // Clicking it on again clears again and enables the meter.
    e.getPowerButton().triggerClick();
    test::pumpMessages (20);
    EXPECT_EQ (test::getParameter (*processor, ParameterIds::power), 1.0f);
    EXPECT_TRUE (meter.isEnabled());
    EXPECT_EQ (needle.historyA[0], 0.0f);
}

TEST_F (EditorTest, Lv2BuildFindsItsBandHandleParametersUnderTheirLv2Names)
{
    const auto processor = test::makeLv2Processor();
    const auto handles = MorvikAudioProcessorEditor::bandHandleParameters (*processor, processor->apvts);
    ASSERT_EQ (handles.size(), 3u);
    for (int band = 1; band <= 3; ++band)
    {
        const auto [freq, gain] = handles[(size_t) band - 1];
        ASSERT_TRUE (freq != nullptr && gain != nullptr) << band;
        EXPECT_EQ (freq->getParameterID(), "Band" + juce::String (band) + "Freq");
        EXPECT_EQ (gain->getParameterID(), "Band" + juce::String (band) + "Gain");
    }
}
