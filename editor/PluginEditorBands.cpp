#include "editor/PluginEditor.h"
#include "engine/ParameterTable.h"

// The band coupling. While the window exists, every change of a band's gain picks the band's type
// by a -23 dB threshold: the lowest decibel of the gain range turns bands 1 and 3 into cut filters
// and band 2 into a low shelf. Band 2's Q follows as well when band 2 is the pad's selected handle.
// The gain sliders of the hidden band editors follow their parameters on the message thread, so the
// rules run there whoever changed the gain; the type combo boxes and band 2's Q slider write the
// results back through their attachments.

void MorvikAudioProcessorEditor::installBandCoupling()
{
    // qKnob holds the last Q a rule wrote; whether band 2's rule re-sends "2Q" depends on it.
    const auto& q = ParameterTable::bandParameter::q;
    qKnob.setRange (q.start, q.end, q.step);
    qKnob.setValue (0.2f, juce::dontSendNotification);

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

void MorvikAudioProcessorEditor::coupleBand (int band)
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
