#include "editor/ParameterAttachments.h"

#include <algorithm>
#include <vector>

namespace RealtimeSafe
{
// Runs for as long as any attachment exists: starting a timer when a change comes in would mean
// starting it from the audio thread, which is what these classes exist to avoid. Each tick is one
// atomic exchange per attachment, all on one message. Attachments join and leave on the message
// thread only, so the list needs no lock.
class ParameterAttachment::Poll : private juce::Timer
{
public:
    Poll() { startTimerHz (pollRateHz); }
    ~Poll() override { stopTimer(); }

    void add (ParameterAttachment& attachment) { attachments.push_back (&attachment); }
    void remove (ParameterAttachment& attachment)
    {
        attachments.erase (std::find (attachments.begin(), attachments.end(), &attachment));
    }

private:
    void timerCallback() override
    {
        // A callback may make or remove attachments (a control reacting to its value). Walking by
        // index stays valid either way; one skipped because the list moved keeps its flag raised
        // for the next tick. The poll itself stays until the walk is over, even if the last
        // attachment goes meanwhile.
        const juce::SharedResourcePointer<Poll> keep;

        for (size_t i = 0; i < attachments.size(); ++i)
            attachments[i]->deliverChangeMadeElsewhere();
    }

    std::vector<ParameterAttachment*> attachments;
};

ParameterAttachment::ParameterAttachment (juce::RangedAudioParameter& p, std::function<void (float)> changed,
                                          juce::UndoManager* um)
    : parameter (p),
      undoManager (um),
      callback (std::move (changed)),
      messageThread (juce::Thread::getCurrentThreadId())
{
    JUCE_ASSERT_MESSAGE_THREAD
    parameter.addListener (this);
    poll->add (*this);
}

ParameterAttachment::~ParameterAttachment()
{
    // The parameter calls its listeners under the same lock, so once this returns no other thread
    // is inside parameterValueChanged; a flag still raised is dropped with the attachment.
    parameter.removeListener (this);
    poll->remove (*this);
}

void ParameterAttachment::sendInitialUpdate()
{
    parameterValueChanged (parameter.getParameterIndex(), parameter.getValue());
}

template <typename Change>
void ParameterAttachment::changeIfDifferent (float newDenormalisedValue, Change&& change)
{
    const auto normalised = parameter.convertTo0to1 (newDenormalisedValue);

    if (parameter.getValue() != normalised)
        change (normalised);
}

void ParameterAttachment::setValueAsCompleteGesture (float newDenormalisedValue)
{
    changeIfDifferent (newDenormalisedValue, [this] (float normalised) {
        beginGesture();
        parameter.setValueNotifyingHost (normalised);
        endGesture();
    });
}

void ParameterAttachment::beginGesture()
{
    if (undoManager != nullptr)
        undoManager->beginNewTransaction();

    parameter.beginChangeGesture();
}

void ParameterAttachment::setValueAsPartOfGesture (float newDenormalisedValue)
{
    changeIfDifferent (newDenormalisedValue,
                       [this] (float normalised) { parameter.setValueNotifyingHost (normalised); });
}

void ParameterAttachment::endGesture() { parameter.endChangeGesture(); }

void ParameterAttachment::parameterValueChanged (int, float newValue)
{
    if (juce::Thread::getCurrentThreadId() != messageThread)
    {
        // Host automation lands here on the audio thread: nothing but one lock-free store.
        changedElsewhere.store (true, std::memory_order_release);
        return;
    }

    // Unlike the framework, a flag raised elsewhere is left for the next poll rather than
    // cancelled: the other thread may have stored its value just after this one, and the poll
    // then reports the value that really stands instead of leaving the control behind.
    if (callback != nullptr)
        callback (parameter.convertFrom0to1 (newValue));
}

void ParameterAttachment::deliverChangeMadeElsewhere()
{
    // The flag is lowered before the value is read, so a change racing with this tick raises it
    // again and is reported at the next one.
    if (changedElsewhere.exchange (false, std::memory_order_acquire) && callback != nullptr)
        callback (parameter.convertFrom0to1 (parameter.getValue()));
}

//==============================================================================
namespace
{
// A missing parameter is a wiring mistake in the editor: the framework asserts and leaves the
// control unattached, and so do these.
juce::RangedAudioParameter* findParameter (juce::AudioProcessorValueTreeState& state, const juce::String& parameterID)
{
    auto* parameter = state.getParameter (parameterID);
    jassert (parameter != nullptr);
    return parameter;
}

// The slider works in doubles over its own start and end, the parameter in floats; the mapping is
// the parameter's own range, with the slider's current ends, so custom mappings carry over.
juce::NormalisableRange<double> sliderRange (juce::NormalisableRange<float> range)
{
    struct WithEnds
    {
        juce::NormalisableRange<float> range;

        juce::NormalisableRange<float>& operator() (double start, double end)
        {
            range.start = (float) start;
            range.end = (float) end;
            return range;
        }
    };

    juce::NormalisableRange<double> result { (double) range.start, (double) range.end,
                                             [r = WithEnds { range }] (double start, double end,
                                                                       double normalised) mutable {
                                                 return (double) r (start, end).convertFrom0to1 ((float) normalised);
                                             },
                                             [r = WithEnds { range }] (double start, double end, double value) mutable {
                                                 return (double) r (start, end).convertTo0to1 ((float) value);
                                             },
                                             [r = WithEnds { range }] (double start, double end, double value) mutable {
                                                 return (double) r (start, end).snapToLegalValue ((float) value);
                                             } };
    result.interval = range.interval;
    result.skew = range.skew;
    result.symmetricSkew = range.symmetricSkew;
    return result;
}
} // namespace

SliderAttachment::SliderAttachment (juce::AudioProcessorValueTreeState& state, const juce::String& parameterID,
                                    juce::Slider& s)
    : SliderAttachment (findParameter (state, parameterID), s, state.undoManager)
{}

SliderAttachment::SliderAttachment (juce::RangedAudioParameter& parameter, juce::Slider& s, juce::UndoManager* um)
    : SliderAttachment (&parameter, s, um)
{}

SliderAttachment::SliderAttachment (juce::RangedAudioParameter* parameter, juce::Slider& s, juce::UndoManager* um)
    : slider (s)
{
    if (parameter == nullptr)
        return;

    auto& p = *parameter;
    slider.valueFromTextFunction = [&p] (const juce::String& text) {
        return (double) p.convertFrom0to1 (p.getValueForText (text));
    };
    slider.textFromValueFunction = [&p] (double value) { return p.getText (p.convertTo0to1 ((float) value), 0); };
    slider.setDoubleClickReturnValue (true, p.convertFrom0to1 (p.getDefaultValue()));
    slider.setNormalisableRange (sliderRange (p.getNormalisableRange()));

    attachment = std::make_unique<ParameterAttachment> (
        p, [this] (float value) { setValue (value); }, um);
    sendInitialUpdate();
    // The slider's own value-changed hook runs once even when the value did not move, so a text box
    // shows the parameter's text from the start.
    slider.valueChanged();
    slider.addListener (this);
}

SliderAttachment::~SliderAttachment() { slider.removeListener (this); }

void SliderAttachment::sendInitialUpdate()
{
    if (attachment != nullptr)
        attachment->sendInitialUpdate();
}

void SliderAttachment::setValue (float newValue)
{
    // The slider's listeners hear the change (the editor's coupling relies on that); this one
    // must not send it back as a change from the user.
    const juce::ScopedValueSetter<bool> following (ignoreCallbacks, true);
    slider.setValue (newValue, juce::sendNotificationSync);
}

void SliderAttachment::sliderValueChanged (juce::Slider*)
{
    if (! ignoreCallbacks && attachment != nullptr)
        attachment->setValueAsPartOfGesture ((float) slider.getValue());
}

void SliderAttachment::sliderDragStarted (juce::Slider*)
{
    if (attachment != nullptr)
        attachment->beginGesture();
}

void SliderAttachment::sliderDragEnded (juce::Slider*)
{
    if (attachment != nullptr)
        attachment->endGesture();
}

//==============================================================================
ComboBoxAttachment::ComboBoxAttachment (juce::AudioProcessorValueTreeState& state, const juce::String& parameterID,
                                        juce::ComboBox& c)
    : ComboBoxAttachment (findParameter (state, parameterID), c, state.undoManager)
{}

ComboBoxAttachment::ComboBoxAttachment (juce::RangedAudioParameter& p, juce::ComboBox& c, juce::UndoManager* um)
    : ComboBoxAttachment (&p, c, um)
{}

ComboBoxAttachment::ComboBoxAttachment (juce::RangedAudioParameter* p, juce::ComboBox& c, juce::UndoManager* um)
    : comboBox (c),
      parameter (p)
{
    if (parameter == nullptr)
        return;

    attachment = std::make_unique<ParameterAttachment> (
        *parameter, [this] (float value) { setValue (value); }, um);
    sendInitialUpdate();
    comboBox.addListener (this);
}

ComboBoxAttachment::~ComboBoxAttachment() { comboBox.removeListener (this); }

void ComboBoxAttachment::sendInitialUpdate()
{
    if (attachment != nullptr)
        attachment->sendInitialUpdate();
}

void ComboBoxAttachment::setValue (float newValue)
{
    const auto index = juce::roundToInt (parameter->convertTo0to1 (newValue) * (float) (comboBox.getNumItems() - 1));

    if (index == comboBox.getSelectedItemIndex())
        return;

    const juce::ScopedValueSetter<bool> following (ignoreCallbacks, true);
    comboBox.setSelectedItemIndex (index, juce::sendNotificationSync);
}

void ComboBoxAttachment::comboBoxChanged (juce::ComboBox*)
{
    if (ignoreCallbacks || attachment == nullptr)
        return;

    // One item or none stands for the bottom of the range.
    const auto items = comboBox.getNumItems();
    const auto normalised = items > 1 ? (float) comboBox.getSelectedItemIndex() / (float) (items - 1) : 0.0f;
    attachment->setValueAsCompleteGesture (parameter->convertFrom0to1 (normalised));
}

//==============================================================================
ButtonAttachment::ButtonAttachment (juce::AudioProcessorValueTreeState& state, const juce::String& parameterID,
                                    juce::Button& b)
    : ButtonAttachment (findParameter (state, parameterID), b, state.undoManager)
{}

ButtonAttachment::ButtonAttachment (juce::RangedAudioParameter& p, juce::Button& b, juce::UndoManager* um)
    : ButtonAttachment (&p, b, um)
{}

ButtonAttachment::ButtonAttachment (juce::RangedAudioParameter* p, juce::Button& b, juce::UndoManager* um)
    : button (b)
{
    if (p == nullptr)
        return;

    attachment = std::make_unique<ParameterAttachment> (
        *p, [this] (float value) { setValue (value); }, um);
    sendInitialUpdate();
    button.addListener (this);
}

ButtonAttachment::~ButtonAttachment() { button.removeListener (this); }

void ButtonAttachment::sendInitialUpdate()
{
    if (attachment != nullptr)
        attachment->sendInitialUpdate();
}

void ButtonAttachment::setValue (float newValue)
{
    const juce::ScopedValueSetter<bool> following (ignoreCallbacks, true);
    button.setToggleState (newValue >= 0.5f, juce::sendNotificationSync);
}

void ButtonAttachment::buttonClicked (juce::Button*)
{
    if (! ignoreCallbacks && attachment != nullptr)
        attachment->setValueAsCompleteGesture (button.getToggleState() ? 1.0f : 0.0f);
}
} // namespace RealtimeSafe
