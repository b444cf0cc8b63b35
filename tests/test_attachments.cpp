#include "editor/ParameterAttachments.h"
#include "engine/dsp/ParameterIds.h"
#include "support/RealtimeCounters.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

//==============================================================================
namespace
{
using Tree = juce::AudioProcessorValueTreeState;

const juce::String gainId = ParameterIds::band (1, ParameterIds::bandGain, false);
const juce::String freqId = ParameterIds::band (1, ParameterIds::bandFreq, false);
const juce::String typeId = ParameterIds::band (2, ParameterIds::bandType, false);

// Begins and ends of gestures on one parameter, as a host sees them.
struct GestureCounter : juce::AudioProcessorParameter::Listener
{
    explicit GestureCounter (juce::AudioProcessorParameter& p)
        : parameter (p)
    {
        parameter.addListener (this);
    }
    ~GestureCounter() override { parameter.removeListener (this); }
    void parameterValueChanged (int, float) override {}
    void parameterGestureChanged (int, bool starting) override { ++(starting ? begins : ends); }

    juce::AudioProcessorParameter& parameter;
    int begins = 0, ends = 0;
};

// Pumps the message loop until `done` or a second has passed (a generous bound: a poll is 33 ms).
template <typename Done>
bool pumpUntil (Done&& done)
{
    for (int i = 0; i < 100 && ! done(); ++i)
        test::pumpMessages (10);
    return done();
}
} // namespace

// Needs a display: the suite runs under xvfb-run.
class AttachmentTest : public ::testing::Test
{
protected:
    juce::ScopedJuceInitialiser_GUI gui;
    MorvikAudioProcessor processor;
    Tree& apvts = processor.apvts;

    juce::RangedAudioParameter& parameter (const juce::String& id) { return *apvts.getParameter (id); }
};

TEST_F (AttachmentTest, SlidersMatchTheFrameworkOnTheMessageThread)
{
    std::vector<juce::String> ids (std::begin (ParameterIds::globals) + 1, std::end (ParameterIds::globals));
    ids.insert (ids.end(), { freqId, gainId, ParameterIds::band (3, ParameterIds::bandQ, false) });

    for (const auto& id : ids)
    {
        SCOPED_TRACE (id);
        juce::Slider theirs, ours;
        int theirNotes = 0, ourNotes = 0;
        theirs.onValueChange = [&] { ++theirNotes; };
        ours.onValueChange = [&] { ++ourNotes; };
        Tree::SliderAttachment framework (apvts, id, theirs);
        RealtimeSafe::SliderAttachment attachment (apvts, id, ours);

        // Range, skew, snapping, texts and the double-click value all come from the parameter.
        const auto shape = [] (const juce::Slider& s) {
            return std::tuple { s.getMinimum(),    s.getMaximum(), s.getInterval(),
                                s.getSkewFactor(), s.getValue(),   s.getDoubleClickReturnValue() };
        };
        EXPECT_EQ (shape (ours), shape (theirs));
        for (const double proportion : { 0.0, 0.0371, 0.25, 0.5, 0.777, 1.0 })
        {
            const auto value = theirs.proportionOfLengthToValue (proportion);
            EXPECT_EQ (ours.proportionOfLengthToValue (proportion), value);
            EXPECT_EQ (ours.valueToProportionOfLength (value), theirs.valueToProportionOfLength (value));
            EXPECT_EQ (ours.snapValue (value, juce::Slider::notDragging),
                       theirs.snapValue (value, juce::Slider::notDragging));
            EXPECT_EQ (ours.getTextFromValue (value), theirs.getTextFromValue (value));
        }
        for (const char* text : { "0", "3.57", "12", "-4", "AUTO", "1.2 kHz" })
            EXPECT_EQ (ours.getValueFromText (text), theirs.getValueFromText (text)) << text;

        // The host moves the parameter, or the user one slider, off the grid: the other follows at
        // once, with the same notifications.
        for (const float normalised : { 0.0f, 0.137f, 0.5f, 0.91f, 1.0f, 0.5f })
        {
            parameter (id).setValueNotifyingHost (normalised);
            EXPECT_EQ (ours.getValue(), theirs.getValue());
        }
        const auto offGrid = [&] (double proportion) {
            return theirs.proportionOfLengthToValue (proportion) + 0.37 * theirs.getInterval();
        };
        ours.setValue (offGrid (0.3), juce::sendNotificationSync);
        EXPECT_EQ (theirs.getValue(), ours.getValue());
        theirs.setValue (offGrid (0.8), juce::sendNotificationSync);
        EXPECT_EQ (ours.getValue(), theirs.getValue());
        EXPECT_EQ (ourNotes, theirNotes);
    }
}

TEST_F (AttachmentTest, ComboBoxesAndButtonsMatchTheFramework)
{
    auto& type = parameter (typeId);
    const auto choices = dynamic_cast<juce::AudioParameterChoice&> (type).choices;
    ASSERT_GE (choices.size(), 3);

    // A box with every choice, and one with two items, which then stand for the ends of the range.
    for (const int items : { choices.size(), 2 })
    {
        juce::ComboBox theirs, ours;
        theirs.addItemList ({ choices.begin(), items }, 1);
        ours.addItemList ({ choices.begin(), items }, 1);
        int theirNotes = 0, ourNotes = 0;
        theirs.onChange = [&] { ++theirNotes; };
        ours.onChange = [&] { ++ourNotes; };
        Tree::ComboBoxAttachment framework (apvts, typeId, theirs);
        RealtimeSafe::ComboBoxAttachment attachment (apvts, typeId, ours);
        GestureCounter gestures (type);
        EXPECT_EQ (ours.getSelectedItemIndex(), theirs.getSelectedItemIndex());

        for (int choice = 0; choice < choices.size(); ++choice)
        {
            type.setValueNotifyingHost (type.convertTo0to1 ((float) choice));
            EXPECT_EQ (ours.getSelectedItemIndex(), theirs.getSelectedItemIndex()) << items << " " << choice;
        }
        EXPECT_EQ (ourNotes, theirNotes);

        // Item i of n is the normalised value i / (n - 1), each choice one complete gesture.
        for (int item = 0; item < items; ++item)
        {
            ours.setSelectedItemIndex (item, juce::sendNotificationSync);
            EXPECT_FLOAT_EQ (type.getValue(),
                             type.convertTo0to1 (type.convertFrom0to1 ((float) item / (float) (items - 1))));
            EXPECT_EQ (theirs.getSelectedItemIndex(), item);
        }
        EXPECT_EQ (gestures.begins, gestures.ends);
        EXPECT_GE (gestures.begins, items - 1);
        EXPECT_EQ (ourNotes, theirNotes);
    }

    auto& power = parameter (ParameterIds::power);
    juce::ToggleButton theirs, ours;
    int theirClicks = 0, ourClicks = 0;
    theirs.onClick = [&] { ++theirClicks; };
    ours.onClick = [&] { ++ourClicks; };
    Tree::ButtonAttachment framework (apvts, ParameterIds::power, theirs);
    RealtimeSafe::ButtonAttachment attachment (apvts, ParameterIds::power, ours);
    GestureCounter gestures (power);
    EXPECT_TRUE (ours.getToggleState()); // "Power" starts on

    for (const float normalised : { 0.0f, 1.0f, 0.0f, 0.0f, 1.0f })
    {
        power.setValueNotifyingHost (normalised);
        EXPECT_EQ (ours.getToggleState(), normalised >= 0.5f);
        EXPECT_EQ (theirs.getToggleState(), ours.getToggleState());
    }
    EXPECT_EQ (ourClicks, theirClicks);
    EXPECT_EQ (gestures.begins, 0); // following the host is no gesture

    // A click toggles the parameter as one gesture.
    ours.setToggleState (false, juce::sendNotificationSync);
    EXPECT_EQ (power.getValue(), 0.0f);
    EXPECT_FALSE (theirs.getToggleState());
    ours.setToggleState (true, juce::sendNotificationSync);
    EXPECT_EQ (power.getValue(), 1.0f);
    EXPECT_EQ (std::pair (gestures.begins, gestures.ends), std::pair (2, 2));
    EXPECT_EQ (ourClicks, theirClicks);
}

TEST_F (AttachmentTest, GesturesMatchTheFramework)
{
    auto& gain = parameter (gainId);
    GestureCounter gestures (gain);

    // The same user actions on each kind of slider, one after the other.
    const auto play = [&] (juce::Slider& slider) {
        const std::pair before { gestures.begins, gestures.ends };
        {
            const juce::Slider::ScopedDragNotification drag (slider);
            for (const double proportion : { 0.2, 0.4, 0.6 })
                slider.setValue (slider.proportionOfLengthToValue (proportion), juce::sendNotificationSync);
            EXPECT_EQ (gestures.ends, before.second); // still dragging
        }
        slider.setValue (slider.proportionOfLengthToValue (0.1), juce::sendNotificationSync); // a typed value
        return std::pair { gestures.begins - before.first, gestures.ends - before.second };
    };
    juce::Slider theirs, ours;
    Tree::SliderAttachment framework (apvts, gainId, theirs);
    const auto frameworkGestures = play (theirs);
    RealtimeSafe::SliderAttachment attachment (apvts, gainId, ours);
    EXPECT_EQ (play (ours), frameworkGestures);
    EXPECT_EQ (frameworkGestures, std::pair (1, 1));

    // The bare attachment, as the XY pad drives it; unchanged values never reach the host.
    struct Step : juce::UndoableAction
    {
        bool perform() override { return true; }
        bool undo() override { return true; }
    };
    juce::UndoManager undo;
    RealtimeSafe::ParameterAttachment bare (gain, nullptr, &undo);
    undo.perform (new Step());
    ASSERT_EQ (undo.getNumActionsInCurrentTransaction(), 1);
    const std::pair before { gestures.begins, gestures.ends };
    bare.beginGesture();
    EXPECT_EQ (undo.getNumActionsInCurrentTransaction(), 0); // a gesture opens a new undo step
    bare.setValueAsPartOfGesture (6.0f);
    EXPECT_FLOAT_EQ (gain.convertFrom0to1 (gain.getValue()), 6.0f);
    bare.endGesture();
    bare.setValueAsCompleteGesture (6.0f);
    bare.setValueAsCompleteGesture (-3.0f);
    EXPECT_FLOAT_EQ (gain.convertFrom0to1 (gain.getValue()), -3.0f);
    EXPECT_EQ (std::pair (gestures.begins - before.first, gestures.ends - before.second), std::pair (2, 2));
    EXPECT_EQ (theirs.getValue(), ours.getValue());
}

TEST_F (AttachmentTest, ChangesFromAnotherThreadArriveAtThePollOnTheMessageThread)
{
    auto& gain = parameter (gainId);
    juce::Slider slider;
    RealtimeSafe::SliderAttachment attachment (apvts, gainId, slider);
    std::vector<std::pair<std::thread::id, float>> calls;
    RealtimeSafe::ParameterAttachment bare (
        gain, [&] (float value) { calls.emplace_back (std::this_thread::get_id(), value); });
    bare.sendInitialUpdate();
    ASSERT_EQ (calls.size(), 1u);
    EXPECT_EQ (calls[0].second, 0.0f); // the band gain's default

    // A burst of automation; the message thread is busy elsewhere until it is over.
    std::thread automation ([&] {
        for (int i = 1; i <= 300; ++i)
            gain.setValueNotifyingHost ((float) i / 300.0f);
    });
    automation.join();
    EXPECT_EQ (calls.size(), 1u);
    EXPECT_EQ (slider.getValue(), 0.0);

    // The poll delivers the burst once, with the value that stands now.
    ASSERT_TRUE (pumpUntil ([&] { return calls.size() > 1; }));
    ASSERT_EQ (calls.size(), 2u);
    EXPECT_EQ (calls[1].first, std::this_thread::get_id());
    EXPECT_EQ (calls[1].second, gain.getNormalisableRange().end);
    ASSERT_TRUE (pumpUntil ([&] { return slider.getValue() == gain.getNormalisableRange().end; }));
    test::pumpMessages (100);
    EXPECT_EQ (calls.size(), 2u); // the flag came down with the delivery

    // Automation racing with the polls: every call on this thread, the last one the final value.
    std::atomic<bool> stop { false };
    automation = std::thread ([&] {
        for (int i = 0; ! stop.load(); i = (i + 1) % 997)
            gain.setValueNotifyingHost ((float) i / 996.0f);
        gain.setValueNotifyingHost (0.25f);
    });
    pumpUntil ([&] { return calls.size() > 5; });
    stop = true;
    automation.join();
    ASSERT_TRUE (pumpUntil ([&] { return calls.back().second == gain.convertFrom0to1 (0.25f); }));
    for (const auto& call : calls)
        EXPECT_EQ (call.first, std::this_thread::get_id());
    EXPECT_FLOAT_EQ ((float) slider.getValue(), gain.convertFrom0to1 (0.25f));
}

TEST_F (AttachmentTest, ListenersOffTheMessageThreadNeitherAllocateNorLock)
{
    if (! realtime::available())
        GTEST_SKIP() << "the sanitizers own the allocation and lock functions";

    juce::RangedAudioParameter* const automated[] = { &parameter (gainId), &parameter (freqId), &parameter (typeId),
                                                      &parameter (ParameterIds::power) };
    const auto automate = [&] {
        return realtime::countedOnOwnThread ([&] {
            for (int i = 0; i < 300; ++i)
                for (auto* p : automated)
                    p->setValueNotifyingHost ((float) (i % 7) / 6.0f);
        });
    };
    // The parameter's own notification locks its listener list: that much happens without any
    // attachment, and the attachments must add nothing to it.
    const auto bare = automate();
    EXPECT_EQ (bare.allocations, 0);

    juce::Slider gainSlider, freqSlider;
    juce::ComboBox typeBox;
    typeBox.addItemList ({ "a", "b", "c", "d" }, 1);
    juce::ToggleButton powerButton;
    {
        RealtimeSafe::SliderAttachment gain (apvts, gainId, gainSlider);
        RealtimeSafe::ParameterAttachment freq (parameter (freqId), [&] (float f) { freqSlider.setValue (f); });
        RealtimeSafe::ComboBoxAttachment type (apvts, typeId, typeBox);
        RealtimeSafe::ButtonAttachment power (apvts, ParameterIds::power, powerButton);
        const auto ours = automate();
        EXPECT_EQ (ours.allocations, bare.allocations);
        EXPECT_EQ (ours.locks, bare.locks);
    }

    // The counter does see what the framework's attachment does there.
    Tree::SliderAttachment framework (apvts, gainId, gainSlider);
    EXPECT_GT (automate().locks, bare.locks);
}

TEST_F (AttachmentTest, DestroyedWhileAChangeIsPendingItNeverCallsBack)
{
    auto& gain = parameter (gainId);
    int calls = 0;
    auto slider = std::make_unique<juce::Slider>();
    auto sliderAttachment = std::make_unique<RealtimeSafe::SliderAttachment> (apvts, gainId, *slider);
    auto bare = std::make_unique<RealtimeSafe::ParameterAttachment> (gain, [&] (float) { ++calls; });

    std::thread ([&] { gain.setValueNotifyingHost (0.9f); }).join();
    bare.reset();
    sliderAttachment.reset();
    slider.reset(); // a callback now would reach freed memory, which the address sanitizer reports
    test::pumpMessages (150);
    EXPECT_EQ (calls, 0);

    // Attachments coming and going while automation runs, as when an editor opens and closes.
    std::atomic<bool> stop { false };
    std::thread automation ([&] {
        for (int i = 0; ! stop.load(); i = (i + 1) % 101)
            gain.setValueNotifyingHost ((float) i / 100.0f);
    });
    for (int round = 0; round < 20; ++round)
    {
        juce::Slider s;
        RealtimeSafe::SliderAttachment a (apvts, gainId, s);
        test::pumpMessages (round % 4 * 15);
    }
    stop = true;
    automation.join();
}

TEST_F (AttachmentTest, AMissingParameterLeavesTheControlUnattached)
{
    juce::Slider slider;
    juce::ComboBox box;
    juce::ToggleButton button;
    RealtimeSafe::SliderAttachment s (apvts, "NoSuchParameter", slider);
    RealtimeSafe::ComboBoxAttachment c (apvts, "NoSuchParameter", box);
    RealtimeSafe::ButtonAttachment b (apvts, "NoSuchParameter", button);
    slider.setValue (7.0, juce::sendNotificationSync);
    box.addItem ("x", 1);
    box.setSelectedItemIndex (0, juce::sendNotificationSync);
    button.setToggleState (true, juce::sendNotificationSync);
    EXPECT_EQ (slider.getMaximum(), 10.0); // the slider's own range
    EXPECT_EQ (slider.getValue(), 7.0);
}
