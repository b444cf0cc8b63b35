// What one automated parameter change costs the thread that makes it (the audio thread, under host
// automation) while the editor's attachments listen: none, ours, or the framework's on the band gain.

#include "editor/ParameterAttachments.h"
#include "engine/dsp/ParameterIds.h"
#include "engine/plugin/PluginProcessor.h"
#include "support/TestSupport.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <thread>

namespace
{
enum Listening
{
    none,
    polled,
    framework
};

// A message thread of its own beside the benchmark's: it builds the processor and the attachment,
// keeps dispatching (so the framework's posted updates are delivered as in a host) and tears down.
class MessageThread
{
public:
    explicit MessageThread (Listening listening)
        : thread ([this, listening] {
              juce::ScopedJuceInitialiser_GUI gui;
              MorvikAudioProcessor processor;
              juce::Slider slider;
              const auto id = ParameterIds::band (1, ParameterIds::bandGain, false);
              std::unique_ptr<RealtimeSafe::SliderAttachment> ours;
              std::unique_ptr<juce::AudioProcessorValueTreeState::SliderAttachment> theirs;
              if (listening == polled)
                  ours = std::make_unique<RealtimeSafe::SliderAttachment> (processor.apvts, id, slider);
              if (listening == framework)
                  theirs = std::make_unique<juce::AudioProcessorValueTreeState::SliderAttachment> (processor.apvts, id,
                                                                                                   slider);
              gain.store (processor.apvts.getParameter (id));

              while (! stop.load())
                  test::pumpMessages (5);
          })
    {
        while (gain.load() == nullptr)
            std::this_thread::yield();
    }

    ~MessageThread()
    {
        stop.store (true);
        thread.join();
    }

    std::atomic<juce::RangedAudioParameter*> gain { nullptr };

private:
    std::atomic<bool> stop { false };
    std::thread thread;
};

void automatedChange (benchmark::State& state, Listening listening)
{
    MessageThread messages (listening);
    auto* gain = messages.gain.load();
    int i = 0;

    for (auto _ : state)
    {
        gain->setValueNotifyingHost ((float) i / 127.0f);
        i = (i + 1) & 127;
    }
}
BENCHMARK_CAPTURE (automatedChange, noAttachment, none);
BENCHMARK_CAPTURE (automatedChange, polledAttachment, polled);
BENCHMARK_CAPTURE (automatedChange, frameworkAttachment, framework);
} // namespace

BENCHMARK_MAIN();
