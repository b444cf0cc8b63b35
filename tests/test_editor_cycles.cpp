// Opening and closing the editor over and over while audio flows and a host automates parameters
// from its own thread. Run in the sanitizer stages too: ThreadSanitizer watches the analyser
// hand-off and the meter values, LeakSanitizer what each editor leaves behind. Needs a display.

#include "editor/PluginEditor.h"
#include "engine/dsp/ParameterIds.h"
#include "support/EditorSupport.h"
#include "support/TestSupport.h"
#include "tools/host/XErrors.h"

#include <gtest/gtest.h>

#include <random>
#include <thread>

TEST (EditorCycles, FiftyWindowsComeAndGoWhileAudioFlowsAndParametersMove)
{
    juce::ScopedJuceInitialiser_GUI gui;
    hostkit::tolerateXErrors();
    auto processor = test::makePreparedProcessor (48000.0, 128);
    std::atomic<bool> stop { false };
    std::atomic<int> blocks { 0 }, changes { 0 };

    auto audio = test::audioThread (*processor, 128, stop, blocks);

    // Host automation: parameter changes arrive on a thread of their own, band gains included (so
    // the band coupling and the curve see changes from outside the message thread).
    std::thread automation ([&] {
        std::mt19937 random (7);
        std::uniform_real_distribution<float> value (0.0f, 1.0f);
        juce::StringArray ids (ParameterIds::globals, 9);
        ids.removeString (ParameterIds::power);
        for (int band = 1; band <= 3; ++band)
            ids.add (processor->bandParameterId (band, ParameterIds::bandGain));
        while (! stop.load())
        {
            auto* parameter = processor->apvts.getParameter (ids[(int) (random() % (unsigned) ids.size())]);
            parameter->setValueNotifyingHost (value (random));
            ++changes;
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }
    });

    for (int cycle = 0; cycle < 50; ++cycle)
    {
        auto editor = test::openEditor (*processor);
        ASSERT_NE (editor, nullptr);
        EXPECT_TRUE (processor->analyserEnabled.load());
        // Every tenth one goes on screen, at the smallest or largest size, so it paints as well; the
        // others live through their timers and the attachments' updates only.
        if (cycle % 10 == 0)
        {
            editor->addToDesktop (0);
            editor->setVisible (true);
            editor->setSize (cycle % 20 == 0 ? 450 : 1800, cycle % 20 == 0 ? 265 : 1060);
        }
        test::pumpMessages (30);
        editor.reset();
        EXPECT_FALSE (processor->analyserEnabled.load());
    }

    stop = true;
    audio.join();
    automation.join();
    EXPECT_GT (blocks.load(), 50);
    EXPECT_GT (changes.load(), 50);

    // The processor is whole: audio still comes out finite.
    juce::AudioBuffer<float> buffer (2, 128);
    juce::MidiBuffer midi;
    test::fillSine (buffer, 48000.0, 220.0, 0.7f);
    processor->processBlock (buffer, midi);
    EXPECT_TRUE (std::isfinite (test::peakOrInfinity (buffer)));
}
