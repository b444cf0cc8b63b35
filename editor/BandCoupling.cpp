#include "editor/BandCoupling.h"
#include "editor/XYPad.h"
#include "engine/dsp/ParameterTable.h"

BandCoupling::BandCoupling (juce::AudioProcessorValueTreeState& parameters, const XYPad& pad)
    : xyPad (pad),
      bandEditor1 (parameters, 1),
      bandEditor2 (parameters, 2),
      bandEditor3 (parameters, 3)
{
    addAndMakeVisible (qKnob);
    const auto& q = ParameterTable::bandParameter::q;
    qKnob.setRange (q.start, q.end, q.step);
    qKnob.setValue (0.2f, juce::dontSendNotification);

    // The handlers go in once all three band editors and qKnob exist, so none runs while they are
    // being built.
    bandEditor1.gainSlider.onValueChange = [this] { coupleBand (1); };
    bandEditor2.gainSlider.onValueChange = [this] { coupleBand (2); };
    bandEditor3.gainSlider.onValueChange = [this] { coupleBand (3); };

    // Q forwarding: only band 2's rule notifies, and only band 2 has its Q follow. The attachment
    // writes "2Q" when the slider's notification arrives, unless "2Q" already holds the value.
    qKnob.onValueChange = [this] {
        if (xyPad.selectedIndex == 1)
            bandEditor2.qSlider.setValue (qKnob.getValue(), juce::sendNotificationAsync);
    };
}

BandCoupling::~BandCoupling() = default;

void BandCoupling::coupleBand (int band)
{
    if (band < 1 || band > 3)
        return;

    BandEditor* editors[] = { &bandEditor1, &bandEditor2, &bandEditor3 };
    auto& editor = *editors[band - 1];
    // Exactly -23 dB is not below.
    const bool below = editor.gainSlider.getValue() < ParameterTable::couplingThresholdDb;

    // Item indices are the type choices' indices. The combo box tells its attachment asynchronously,
    // which then sets the type in one gesture.
    editor.typeBox.setSelectedItemIndex ((int) ParameterTable::coupledType (band, below), juce::sendNotification);

    // Band 2's rule sets its Q too, forwarded at once rather than on the next turn of the message loop:
    // a band 1 or band 3 rule running in between (several gains changing together, as in a preset
    // load) would otherwise hand its own band's Q to "2Q". qKnob's range raises 0.001 to 0.2.
    if (band == 2)
        qKnob.setValue (below ? 0.001 : 1.0, juce::sendNotificationSync);
    else
        qKnob.setValue (editor.qSlider.getValue(), juce::dontSendNotification);
}
