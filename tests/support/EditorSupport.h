#pragma once

#include "editor/PluginEditor.h"
#include "engine/plugin/PluginProcessor.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>

namespace test
{
// For a test program whose tests put menus or windows on screen: without a display the framework
// finds no screen to place them on and crashes, so such a program registers this check, which fails
// the whole run at its start with the reason:
//   const auto* display = ::testing::AddGlobalTestEnvironment (new test::DisplayRequired());
struct DisplayRequired : ::testing::Environment
{
    void SetUp() override
    {
        const juce::ScopedJuceInitialiser_GUI gui;
        ASSERT_NE (juce::Desktop::getInstance().getDisplays().getPrimaryDisplay(), nullptr)
            << "no display: these tests put menus and windows on screen; run them under xvfb-run";
    }
};

// Mouse input for a component that sits in a window on the desktop, delivered through the window's
// peer as the windowing system delivers it: the framework finds the target, counts the clicks and
// calls the component's handlers. Positions are in the component's own coordinates.
class PeerMouse
{
public:
    explicit PeerMouse (juce::Component& target)
        : component (target)
    {}

    void move (juce::Point<float> p) { send (p, {}, 500); }
    void press (juce::Point<float> p) { send (p, juce::ModifierKeys::leftButtonModifier, 20); }
    void drag (juce::Point<float> p) { send (p, juce::ModifierKeys::leftButtonModifier, 20); }
    void release (juce::Point<float> p) { send (p, {}, 20); }
    void click (juce::Point<float> p) { press (p), release (p); }
    void doubleClick (juce::Point<float> p) { click (p), click (p); }

private:
    void send (juce::Point<float> p, int buttons, int millisecondsSinceLast)
    {
        auto* peer = component.getPeer();
        jassert (peer != nullptr);
        // The clock moves on so that a pause between gestures never reads as a double-click.
        time += millisecondsSinceLast;
        const auto inPeer = peer->getComponent().getLocalPoint (&component, p);
        peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, inPeer, juce::ModifierKeys (buttons),
                                juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                time);
    }

    juce::Component& component;
    juce::int64 time = juce::Time::currentTimeMillis();
};

// What a host hears from the processor: every notified value and the gestures, by parameter index.
struct HostRecorder : juce::AudioProcessorListener
{
    explicit HostRecorder (juce::AudioProcessor& p)
        : processor (p)
    {
        processor.addListener (this);
    }
    ~HostRecorder() override { processor.removeListener (this); }

    void audioProcessorParameterChanged (juce::AudioProcessor*, int index, float value) override
    {
        values[index].push_back (value);
    }
    void audioProcessorChanged (juce::AudioProcessor*, const ChangeDetails&) override {}
    void audioProcessorParameterChangeGestureBegin (juce::AudioProcessor*, int index) override { ++begins[index]; }
    void audioProcessorParameterChangeGestureEnd (juce::AudioProcessor*, int index) override { ++ends[index]; }

    void clear() { values.clear(), begins.clear(), ends.clear(); }

    juce::AudioProcessor& processor;
    std::map<int, std::vector<float>> values;
    std::map<int, int> begins, ends;
};

// The processor's own editor, as a host opens it (not on screen).
inline std::unique_ptr<MorvikAudioProcessorEditor> openEditor (MorvikAudioProcessor& processor)
{
    return std::unique_ptr<MorvikAudioProcessorEditor> (
        dynamic_cast<MorvikAudioProcessorEditor*> (processor.createEditorIfNeeded()));
}

// A processor made as the LV2 wrapper makes one: its band parameters are named "Band1Freq" and so on.
inline std::unique_ptr<MorvikAudioProcessor> makeLv2Processor()
{
    const auto previous = juce::PluginHostType::jucePlugInClientCurrentWrapperType;
    juce::PluginHostType::jucePlugInClientCurrentWrapperType = juce::AudioProcessor::wrapperType_LV2;
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_LV2);
    auto processor = std::make_unique<MorvikAudioProcessor>();
    juce::AudioProcessor::setTypeOfNextNewPlugin (juce::AudioProcessor::wrapperType_Undefined);
    juce::PluginHostType::jucePlugInClientCurrentWrapperType = previous;
    return processor;
}

// A 220 Hz sine through a prepared processor in blocks, without pause, on a thread of its own as a
// host's audio thread would, until `stop`; counts the blocks.
inline std::thread audioThread (MorvikAudioProcessor& processor, int blockSize, const std::atomic<bool>& stop,
                                std::atomic<int>& blocks)
{
    return std::thread ([&processor, blockSize, &stop, &blocks] {
        juce::AudioBuffer<float> buffer (2, blockSize);
        juce::MidiBuffer midi;
        for (int start = 0; ! stop.load(); start += blockSize, ++blocks)
        {
            fillSine (buffer, processor.sampleRate.load(), 220.0, 0.7f, start);
            processor.processBlock (buffer, midi);
        }
    });
}

// What the component's own paint() draws (no children), in a fresh transparent image of its size.
inline juce::Image painted (juce::Component& component)
{
    juce::Image image (juce::Image::ARGB, component.getWidth(), component.getHeight(), true, juce::SoftwareImageType());
    juce::Graphics g (image);
    component.paint (g);
    return image;
}
} // namespace test
