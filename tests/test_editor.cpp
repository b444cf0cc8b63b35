#include "editor/PluginEditor.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

// Needs a display: the suite runs under xvfb-run.
class EditorTest : public ::testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
};

TEST_F (EditorTest, OpensTheAnalyserFeedForItsLifetime)
{
    MorvikAudioProcessor processor;
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
        ASSERT_NE (dynamic_cast<MorvikAudioProcessorEditor*> (editor.get()), nullptr);
        EXPECT_TRUE (processor.analyserEnabled.load());
        // No rate known yet: one second at 48 kHz, one sample less usable.
        EXPECT_EQ (processor.analyserFifo.getTotalSize(), 48000);
        EXPECT_EQ (processor.analyserFifo.getFreeSpace(), 47999);
        EXPECT_EQ (processor.analyserBuffer.getNumChannels(), 1);
        EXPECT_EQ (processor.analyserBuffer.getNumSamples(), 48000);
        EXPECT_EQ (editor->getWidth(), 900);
        EXPECT_EQ (editor->getHeight(), 530);
    }
    EXPECT_FALSE (processor.analyserEnabled.load());

    processor.prepareToPlay (44100.7, 256);
    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
    EXPECT_EQ (processor.analyserFifo.getTotalSize(), 44100);
    EXPECT_EQ (processor.analyserBuffer.getNumSamples(), 44100);
}

TEST_F (EditorTest, KeepsItsSizeWithinLimitsAndRestoresIt)
{
    MorvikAudioProcessor processor;
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
        EXPECT_TRUE (editor->isResizable());

        // Hosts resize through the editor's constrainer, which holds the ratio and the limits.
        editor->setBoundsConstrained ({ 0, 0, 1200, 600 });
        EXPECT_NEAR ((double) editor->getWidth() / editor->getHeight(), 900.0 / 530.0, 0.01);
        EXPECT_EQ (processor.editorWidth, editor->getWidth());
        EXPECT_EQ (processor.editorHeight, editor->getHeight());

        editor->setBoundsConstrained ({ 0, 0, 5000, 3000 });
        EXPECT_LE (editor->getWidth(), 1800);
        EXPECT_LE (editor->getHeight(), 1060);

        editor->setBoundsConstrained ({ 0, 0, 100, 50 });
        EXPECT_GE (editor->getWidth(), 450);
        EXPECT_GE (editor->getHeight(), 265);
        EXPECT_EQ (processor.editorWidth, editor->getWidth());

        editor->setBoundsConstrained ({ 0, 0, 1350, 795 });
    }

    std::unique_ptr<juce::AudioProcessorEditor> editor (processor.createEditorIfNeeded());
    EXPECT_EQ (editor->getWidth(), 1350);
    EXPECT_EQ (editor->getHeight(), 795);
}

TEST_F (EditorTest, AudioKeepsRunningWhileEditorsComeAndGo)
{
    auto processor = test::makePreparedProcessor (48000.0, 128);
    std::atomic<bool> stop { false };

    std::thread audio ([&] {
        juce::AudioBuffer<float> buffer (2, 128);
        juce::MidiBuffer midi;
        while (! stop.load())
        {
            test::fillSine (buffer, 48000.0, 440.0, 0.5f);
            processor->processBlock (buffer, midi);
        }
    });

    for (int i = 0; i < 20; ++i)
    {
        std::unique_ptr<juce::AudioProcessorEditor> editor (processor->createEditorIfNeeded());
        std::this_thread::sleep_for (std::chrono::milliseconds (2));
    }

    stop = true;
    audio.join();
    EXPECT_FALSE (processor->analyserEnabled.load());
}
