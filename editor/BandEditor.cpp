#include "editor/BandEditor.h"
#include "engine/dsp/ParameterIds.h"

BandEditor::BandEditor (juce::AudioProcessorValueTreeState& parameters, int band)
    : apvts (parameters)
{
    const auto typeId = getPrmName (band, ParameterIds::bandType);
    const auto gainId = getPrmName (band, ParameterIds::bandGain);
    const auto qId = getPrmName (band, ParameterIds::bandQ);
    auto* type = dynamic_cast<juce::AudioParameterChoice*> (apvts.getParameter (typeId));

    // A band the tree does not have is a wiring mistake; its controls then stay unbound.
    jassert (type != nullptr && apvts.getParameter (gainId) != nullptr && apvts.getParameter (qId) != nullptr);

    if (type == nullptr || apvts.getParameter (gainId) == nullptr || apvts.getParameter (qId) == nullptr)
        return;

    gainAttachment = std::make_unique<RealtimeSafe::SliderAttachment> (apvts, gainId, gainSlider);
    qAttachment = std::make_unique<RealtimeSafe::SliderAttachment> (apvts, qId, qSlider);

    // The attachment maps item index i to choice i, so the box holds exactly the parameter's
    // choices, and they must be there before its first update selects one.
    for (int i = 0; i < type->choices.size(); ++i)
        typeBox.addItem (type->choices[i], i + 1);

    typeAttachment = std::make_unique<RealtimeSafe::ComboBoxAttachment> (apvts, typeId, typeBox);
}

BandEditor::~BandEditor() = default;

juce::String BandEditor::getPrmName (int band, const juce::String& suffix) const
{
    return ParameterIds::band (band, suffix, apvts.processor.wrapperType == juce::AudioProcessor::wrapperType_LV2);
}
