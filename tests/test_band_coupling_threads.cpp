#include "editor/PluginEditor.h"
#include "engine/dsp/ParameterIds.h"
#include "support/EditorSupport.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <thread>

// Host automation of the band gains on its own thread and audio on another, while the message
// thread drags the pad's handles and paints the editor. Part of the ThreadSanitizer stage, which runs
// without a display: the editor is painted into images and the pad's handlers are called with the
// events a mouse would bring (the window-peer path is covered by the other pad tests).
namespace
{
juce::String id (int band, const char* suffix) { return ParameterIds::band (band, suffix, false); }

// Notes whether every change of the watched parameters arrived on the message thread.
struct ThreadWatch : juce::AudioProcessorParameter::Listener
{
    void parameterValueChanged (int, float) override
    {
        ++changes;
        if (! juce::MessageManager::existsAndIsCurrentThread())
            offMessageThread = true;
    }
    void parameterGestureChanged (int, bool) override {}

    std::atomic<int> changes { 0 };
    std::atomic<bool> offMessageThread { false };
};

juce::MouseEvent event (juce::Component& pad, juce::Point<float> p, bool buttonDown)
{
    using Source = juce::MouseInputSource;
    const auto now = juce::Time::getCurrentTime();
    const juce::ModifierKeys mods (buttonDown ? juce::ModifierKeys::leftButtonModifier : 0);
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), p, mods, Source::defaultPressure,
                             Source::defaultOrientation, Source::defaultRotation, Source::defaultTiltX,
                             Source::defaultTiltY, &pad, &pad, now, p, now, 1, buttonDown);
}
} // namespace

TEST (BandCouplingThreads, HostAutomationWhileThePadIsDraggedAndTheEditorPaints)
{
    juce::ScopedJuceInitialiser_GUI gui;
    auto processor = test::makePreparedProcessor (48000.0, 256);
    const auto editor = test::openEditor (*processor);
    ASSERT_NE (editor, nullptr);
    auto& pad = editor->getXYPad();

    ThreadWatch watch;
    std::vector<juce::RangedAudioParameter*> watched, gains;
    for (int band = 1; band <= 3; ++band)
    {
        watched.push_back (processor->apvts.getParameter (id (band, ParameterIds::bandType)));
        gains.push_back (processor->apvts.getParameter (id (band, ParameterIds::bandGain)));
    }
    watched.push_back (processor->apvts.getParameter (id (2, ParameterIds::bandQ)));
    for (auto* p : watched)
        p->addListener (&watch);

    std::atomic<bool> stop { false };
    std::atomic<int> automationRounds { 0 }, blocks { 0 };
    auto audio = test::audioThread (*processor, 256, stop, blocks);
    // Sweeps every gain across the -23 dB threshold, as automation lanes would.
    std::thread automation ([&] {
        for (int i = 0; ! stop.load(); ++i, ++automationRounds)
        {
            for (auto* gain : gains)
            {
                gain->beginChangeGesture();
                gain->setValueNotifyingHost (gain->convertTo0to1 (i % 2 == 0 ? -23.5f : -10.0f + (float) (i % 30)));
                gain->endChangeGesture();
            }
            std::this_thread::sleep_for (std::chrono::microseconds (200));
        }
    });

    // Automation reaches the editor at the attachments' poll rate, so keep dragging until the
    // couplings have had a fair number of changes to react to.
    for (int i = 0; i < 60 || automationRounds.load() < 50 || (watch.changes.load() <= 10 && i < 2000); ++i)
    {
        // The graph's part of the window: its background, the grid, the curve, the analyser, the pad.
        editor->createComponentSnapshot (editor->getGraph().getBounds());
        auto& handle = *pad.handles[(size_t) i % 3];
        const juce::Point<float> from (std::round (handle.x), std::round (handle.y));
        pad.mouseDown (event (pad, from, true));
        for (float dy : { 5.0f, 20.0f, 60.0f, -40.0f })
            pad.mouseDrag (event (pad, from.translated (3.0f, dy), true));
        pad.mouseUp (event (pad, from.translated (3.0f, -40.0f), false));
        pad.mouseMove (event (pad, { 1.0f, 1.0f }, false));
        test::pumpMessages (1);
    }

    stop = true;
    automation.join();
    audio.join();

    // Settled: every band's type follows its last gain, and all of it was written on the message thread.
    test::pumpMessages (100);
    const int below[] = { 0, 1, 4 }, notBelow[] = { 1, 2, 3 };
    for (int band = 1; band <= 3; ++band)
    {
        const float gain = test::getParameter (*processor, id (band, ParameterIds::bandGain));
        EXPECT_EQ (juce::roundToInt (test::getParameter (*processor, id (band, ParameterIds::bandType))),
                   gain < -23.0f ? below[band - 1] : notBelow[band - 1])
            << band << " " << gain;
    }
    EXPECT_GT (watch.changes.load(), 10);
    EXPECT_FALSE (watch.offMessageThread.load());

    for (auto* p : watched)
        p->removeListener (&watch);
}
