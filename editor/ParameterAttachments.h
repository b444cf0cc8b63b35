#pragma once

#include <juce_audio_processors/juce_audio_processors.h>

#include <atomic>
#include <functional>
#include <memory>

// Links between parameters and the editor's controls that keep host automation real-time safe.
//
// The framework's attachments answer a parameter change made off the message thread by posting a
// message, which on Linux takes the message queue's lock and can allocate, and they ask whether
// they are on the message thread through a call that takes a mutex. Automation runs on the audio
// thread, so with the editor open every automated change broke the rule that listeners there only
// store atomics. These classes behave like the framework's on the message thread; from any other
// thread the listener raises one atomic flag, which the message thread polls. One timer polls every
// attachment that exists, rather than a timer each.
namespace RealtimeSafe
{
// Drop-in for juce::ParameterAttachment. The callback always runs on the message thread: at once
// for a change made there, otherwise at the next poll, with the parameter's value at that time.
// Construct and destroy it on the message thread.
class ParameterAttachment : private juce::AudioProcessorParameter::Listener
{
public:
    // How often the message thread looks for changes made on other threads: about the editor's
    // frame rate, so a followed control is at most one frame late.
    static constexpr int pollRateHz = 30;

    ParameterAttachment (juce::RangedAudioParameter& parameter, std::function<void (float)> parameterChangedCallback,
                         juce::UndoManager* undoManager = nullptr);
    ~ParameterAttachment() override;

    // Calls back with the current value, for the control's first state.
    void sendInitialUpdate();

    // Changes from the control, in plain units; nothing reaches the parameter when the value is
    // the one it already has.
    void setValueAsCompleteGesture (float newDenormalisedValue);
    void beginGesture();
    void setValueAsPartOfGesture (float newDenormalisedValue);
    void endGesture();

private:
    void parameterValueChanged (int, float newValue) override;
    void parameterGestureChanged (int, bool) override {}
    // Called by the poll: reports a change made on another thread since the last call.
    void deliverChangeMadeElsewhere();

    template <typename Change>
    void changeIfDifferent (float newDenormalisedValue, Change&& change);

    juce::RangedAudioParameter& parameter;
    juce::UndoManager* const undoManager;
    const std::function<void (float)> callback;

    // The framework's own test for the message thread takes a mutex, so the listener compares with
    // the thread that built the attachment instead: the editor's attachments live on it.
    const juce::Thread::ThreadID messageThread;
    std::atomic<bool> changedElsewhere { false };
    static_assert (std::atomic<bool>::is_always_lock_free);

    // The timer shared by all attachments: made with the first one, gone with the last.
    class Poll;
    juce::SharedResourcePointer<Poll> poll;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ParameterAttachment)
};

//==============================================================================
// Drop-in for juce::AudioProcessorValueTreeState::SliderAttachment: the slider takes the
// parameter's range (with its skew and snapping), its texts and its default as the double-click
// value, follows the parameter, and moves it, a drag being one gesture.
class SliderAttachment : private juce::Slider::Listener
{
public:
    SliderAttachment (juce::AudioProcessorValueTreeState& state, const juce::String& parameterID, juce::Slider& slider);
    SliderAttachment (juce::RangedAudioParameter& parameter, juce::Slider& slider,
                      juce::UndoManager* undoManager = nullptr);
    ~SliderAttachment() override;

    void sendInitialUpdate();

private:
    SliderAttachment (juce::RangedAudioParameter* parameter, juce::Slider& slider, juce::UndoManager* undoManager);

    void setValue (float newValue);
    void sliderValueChanged (juce::Slider*) override;
    void sliderDragStarted (juce::Slider*) override;
    void sliderDragEnded (juce::Slider*) override;

    juce::Slider& slider;
    std::unique_ptr<ParameterAttachment> attachment; // none when the parameter does not exist
    bool ignoreCallbacks = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (SliderAttachment)
};

//==============================================================================
// Drop-in for juce::AudioProcessorValueTreeState::ComboBoxAttachment: the items are spread evenly
// over the parameter's normalised range, item i of n standing for i / (n - 1).
class ComboBoxAttachment : private juce::ComboBox::Listener
{
public:
    ComboBoxAttachment (juce::AudioProcessorValueTreeState& state, const juce::String& parameterID,
                        juce::ComboBox& comboBox);
    ComboBoxAttachment (juce::RangedAudioParameter& parameter, juce::ComboBox& comboBox,
                        juce::UndoManager* undoManager = nullptr);
    ~ComboBoxAttachment() override;

    void sendInitialUpdate();

private:
    ComboBoxAttachment (juce::RangedAudioParameter* parameter, juce::ComboBox& comboBox,
                        juce::UndoManager* undoManager);

    void setValue (float newValue);
    void comboBoxChanged (juce::ComboBox*) override;

    juce::ComboBox& comboBox;
    juce::RangedAudioParameter* const parameter;
    std::unique_ptr<ParameterAttachment> attachment;
    bool ignoreCallbacks = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ComboBoxAttachment)
};

//==============================================================================
// Drop-in for juce::AudioProcessorValueTreeState::ButtonAttachment: toggled on from 0.5 of the
// plain range up; a click sets 1 or 0 as one gesture.
class ButtonAttachment : private juce::Button::Listener
{
public:
    ButtonAttachment (juce::AudioProcessorValueTreeState& state, const juce::String& parameterID, juce::Button& button);
    ButtonAttachment (juce::RangedAudioParameter& parameter, juce::Button& button,
                      juce::UndoManager* undoManager = nullptr);
    ~ButtonAttachment() override;

    void sendInitialUpdate();

private:
    ButtonAttachment (juce::RangedAudioParameter* parameter, juce::Button& button, juce::UndoManager* undoManager);

    void setValue (float newValue);
    void buttonClicked (juce::Button*) override;

    juce::Button& button;
    std::unique_ptr<ParameterAttachment> attachment;
    bool ignoreCallbacks = false;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ButtonAttachment)
};
} // namespace RealtimeSafe
