#include "editor/PluginEditor.h"
#include "engine/dsp/ParameterIds.h"
#include "support/EditorSupport.h"
#include "support/TestSupport.h"
#include "tools/host/XErrors.h"

#include <gtest/gtest.h>

// The band coupling inside the real editor: the editor sits in a window (under xvfb-run) and the pad
// gets its mouse through the window's peer.
namespace
{
enum Type
{
    lowCut,
    lowShelf,
    peak,
    highShelf,
    highCut
};

class BandCouplingTest : public ::testing::Test
{
protected:
    BandCouplingTest() { hostkit::tolerateXErrors(); }

    void open()
    {
        editor = test::openEditor (*processor);
        ASSERT_NE (editor, nullptr);
        editor->addToDesktop (0);
        editor->setVisible (true);
        mouse = std::make_unique<test::PeerMouse> (editor->getXYPad());
        settle();
    }

    // Delivers the combo boxes' and sliders' asynchronous notifications, and paints, so the pad
    // knows where its handles are.
    juce::Image settle()
    {
        test::pumpMessages (40);
        return editor->createComponentSnapshot (editor->getLocalBounds());
    }

    juce::String id (int band, const char* suffix) const
    {
        return ParameterIds::band (band, suffix, processor->wrapperType == juce::AudioProcessor::wrapperType_LV2);
    }
    float get (int band, const char* suffix) { return test::getParameter (*processor, id (band, suffix)); }
    void set (int band, const char* suffix, float value) { test::setParameter (*processor, id (band, suffix), value); }
    int type (int band) { return juce::roundToInt (get (band, ParameterIds::bandType)); }

    juce::Point<float> handle (int band) const
    {
        auto& h = *editor->getXYPad().handles[(size_t) band - 1];
        return { h.x, h.y };
    }
    float yForGain (float dB) const { return (24.0f - dB) / 48.0f * (float) editor->getXYPad().getHeight(); }

    // Grabs a band's handle and drags it to the given gain, in steps, then lets go and moves away.
    void drag (int band, float toDb)
    {
        // A handle on the pad's bottom or right edge is grabbed from just inside the pad.
        const auto inside = editor->getXYPad().getLocalBounds().reduced (0, 1).withTrimmedRight (1);
        const auto from = inside.getConstrainedPoint (handle (band).roundToInt()).toFloat();
        mouse->move (from);
        mouse->press (from);
        mouse->drag ({ from.x, (from.y + yForGain (toDb)) * 0.5f });
        mouse->drag ({ from.x, yForGain (toDb) });
        mouse->release ({ from.x, yForGain (toDb) });
        mouse->move ({ 2.0f, 2.0f });
        settle();
    }

    juce::ScopedJuceInitialiser_GUI gui;
    std::unique_ptr<MorvikAudioProcessor> processor = std::make_unique<MorvikAudioProcessor>();
    std::unique_ptr<MorvikAudioProcessorEditor> editor;
    std::unique_ptr<test::PeerMouse> mouse;
};
} // namespace

TEST_F (BandCouplingTest, OpeningAppliesBandOnesRuleOnly)
{
    set (1, ParameterIds::bandType, peak);
    set (2, ParameterIds::bandType, highCut);
    set (3, ParameterIds::bandType, lowCut);
    set (3, ParameterIds::bandGain, -24.0f);
    test::HostRecorder host (*processor);

    open();

    EXPECT_EQ (type (1), lowShelf);
    EXPECT_EQ (type (2), highCut) << "a band 2 whose type does not match its gain keeps it";
    EXPECT_EQ (type (3), lowCut);
    const int typeIndex = processor->apvts.getParameter (id (1, ParameterIds::bandType))->getParameterIndex();
    EXPECT_EQ (host.begins, (std::map<int, int> { { typeIndex, 1 } }));
    EXPECT_EQ (host.ends, host.begins);
    // Besides "1Type", only the pad's layout spoke: it re-sends the six frequencies and gains.
    EXPECT_EQ (host.values.size(), 7u);
    EXPECT_EQ (host.values[typeIndex].size(), 1u);
    // The coupling holds band 1's Q now, without having told anyone.
    EXPECT_NEAR (editor->getBandCoupling().getHeldQ(), 0.8, 1e-6);

    // Closed, the coupling is gone.
    editor.reset();
    set (1, ParameterIds::bandGain, -24.0f);
    test::pumpMessages (40);
    EXPECT_EQ (type (1), lowShelf);
}

TEST_F (BandCouplingTest, EveryGainChangeSetsItsBandsTypeByTheThreshold)
{
    open();
    // Band 1 stays selected, so band 2's Q is never forwarded here.
    const float q2 = get (2, ParameterIds::bandQ);
    const int below[] = { lowCut, lowShelf, highCut }, notBelow[] = { lowShelf, peak, highShelf };

    for (int band = 1; band <= 3; ++band)
    {
        for (float dB : { -23.01f, -23.0f, -24.0f, 12.0f })
        {
            set (band, ParameterIds::bandGain, dB);
            settle();
            EXPECT_EQ (type (band), dB < -23.0f ? below[band - 1] : notBelow[band - 1]) << band << " " << dB;
        }
        // Whatever type the host chooses lasts until the gain next changes.
        set (band, ParameterIds::bandType, peak == notBelow[band - 1] ? highCut : peak);
        set (band, ParameterIds::bandGain, -23.0f);
        settle();
        EXPECT_EQ (type (band), notBelow[band - 1]);
    }
    EXPECT_FLOAT_EQ (get (2, ParameterIds::bandQ), q2);
}

TEST_F (BandCouplingTest, BandTwosQFollowsWhatQKnobLastHeld)
{
    set (2, ParameterIds::bandQ, 5.0f);
    open();
    const auto untouched = [this] {
        std::vector<float> values;
        for (int band = 1; band <= 3; ++band)
            for (auto* suffix : { ParameterIds::bandOn, ParameterIds::bandQ })
                if (! (band == 2 && suffix == ParameterIds::bandQ))
                    values.push_back (get (band, suffix));
        values.push_back (get (3, ParameterIds::bandFreq));
        return values;
    };
    const auto before = untouched();

    // qKnob holds band 1's Q 0.8 since opening: the first drag of band 2 sends 1.0 to "2Q".
    drag (2, 6.0f);
    EXPECT_EQ (editor->getXYPad().selectedIndex, 1);
    EXPECT_EQ (type (2), peak);
    EXPECT_NEAR (get (2, ParameterIds::bandGain), 6.0f, 0.2f);
    EXPECT_NEAR (get (2, ParameterIds::bandQ), 1.0f, 1e-4f);

    // qKnob already holds 1.0: further drags above the threshold leave the host's Q alone.
    set (2, ParameterIds::bandQ, 3.0f);
    drag (2, 0.0f);
    EXPECT_NEAR (get (2, ParameterIds::bandQ), 3.0f, 1e-4f);

    // A band 1 gain change writes band 1's Q into qKnob, so the next band 2 change sends 1.0 again.
    set (1, ParameterIds::bandGain, 5.0f);
    set (2, ParameterIds::bandGain, 2.0f);
    settle();
    EXPECT_NEAR (get (2, ParameterIds::bandQ), 1.0f, 1e-4f);

    // Across the threshold and back, while band 2 is selected.
    drag (2, -30.0f);
    EXPECT_FLOAT_EQ (get (2, ParameterIds::bandGain), -24.0f);
    EXPECT_EQ (type (2), lowShelf);
    EXPECT_NEAR (get (2, ParameterIds::bandQ), 0.2f, 1e-4f);
    drag (2, 10.0f);
    EXPECT_EQ (type (2), peak);
    EXPECT_NEAR (get (2, ParameterIds::bandQ), 1.0f, 1e-4f);

    EXPECT_NEAR (get (1, ParameterIds::bandFreq), 100.0f, 1e-3f);

    // Several gains changing in one turn of the message loop, as in a preset load: "2Q" gets what
    // band 2's rule wrote, not the Q that a later band 1 or band 3 rule leaves in qKnob.
    set (2, ParameterIds::bandQ, 3.0f);
    set (1, ParameterIds::bandGain, 4.0f);
    set (2, ParameterIds::bandGain, -24.0f);
    set (3, ParameterIds::bandGain, 4.0f);
    settle();
    EXPECT_NEAR (get (2, ParameterIds::bandQ), 0.2f, 1e-4f);
    EXPECT_NEAR (editor->getBandCoupling().getHeldQ(), 0.8, 1e-6);

    // With band 1 selected, automation of band 2's gain changes its type but never its Q.
    drag (1, 3.0f);
    EXPECT_EQ (editor->getXYPad().selectedIndex, 0);
    set (2, ParameterIds::bandQ, 7.0f);
    set (2, ParameterIds::bandGain, -24.0f);
    settle();
    EXPECT_EQ (type (2), lowShelf);
    set (2, ParameterIds::bandGain, 0.0f);
    settle();
    EXPECT_EQ (type (2), peak);
    EXPECT_NEAR (get (2, ParameterIds::bandQ), 7.0f, 1e-4f);

    EXPECT_EQ (untouched(), before);
}

TEST_F (BandCouplingTest, RunsOnTheLv2BuildsParameterNames)
{
    processor = test::makeLv2Processor();
    ASSERT_NE (processor->apvts.getParameter ("Band1Type"), nullptr);
    set (1, ParameterIds::bandType, peak);
    set (1, ParameterIds::bandQ, 2.5f);

    open();
    EXPECT_EQ (type (1), lowShelf);
    EXPECT_NEAR (editor->getBandCoupling().getHeldQ(), 2.5, 1e-6);

    drag (3, -30.0f);
    EXPECT_EQ (type (3), highCut);
    drag (2, 4.0f);
    EXPECT_EQ (type (2), peak);
    EXPECT_NEAR (get (2, ParameterIds::bandQ), 1.0f, 1e-4f);
}
