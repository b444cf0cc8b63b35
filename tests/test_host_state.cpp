// The state a host saves with its project, in process: it brings back exactly what the parameters
// held, including the band frequencies whose axis maps the two ways with slightly different
// constants, while presets keep loading as they always did. Save-and-reopen cycles run through real
// hosts in tests/hosts.

#include "support/EngineRender.h"

#include <gtest/gtest.h>

namespace
{
// What every parameter holds: its own plain value (float parameters) and its normalised value.
std::vector<std::pair<float, float>> held (MorvikAudioProcessor& processor)
{
    std::vector<std::pair<float, float>> values;
    for (auto* parameter : processor.getParameters())
    {
        auto* floatParameter = dynamic_cast<juce::AudioParameterFloat*> (parameter);
        values.emplace_back (floatParameter != nullptr ? floatParameter->get() : 0.0f, parameter->getValue());
    }
    return values;
}

TEST (HostState, AStateThatNamesSomeParametersLeavesTheOthersExactlyAsTheyWere)
{
    MorvikAudioProcessor processor;
    for (const char* id : { "1Freq", "2Freq", "3Freq", "1Q", "2Q", "3Q" })
        processor.apvts.getParameter (id)->setValueNotifyingHost (0.4321f);

    const auto before = held (processor);
    test::restoreState (processor, test::stateNaming ({ { "Compress", 40.0 } }));

    auto after = held (processor);
    EXPECT_EQ (test::getParameter (processor, "Compress"), 40.0f);
    after[1] = before[1];
    EXPECT_EQ (after, before);
}

TEST (HostState, PresetsStillLoadThroughTheTreesOwnConversion)
{
    // A frequency the plug-in can hold, which the direct conversion misses: a preset naming it loads
    // what it always did, a host state naming it gives it back exactly.
    MorvikAudioProcessor fromPreset, fromState;
    auto* frequency = dynamic_cast<juce::AudioParameterFloat*> (fromPreset.apvts.getParameter ("2Freq"));
    const auto plain = frequency->convertFrom0to1 (0.43219f);
    const auto direct = frequency->convertFrom0to1 (frequency->convertTo0to1 (plain));
    ASSERT_NE (direct, plain);

    const auto state = test::stateNaming ({ { "2Freq", plain } });
    const auto file = juce::File::createTempFile (".mrv");
    file.replaceWithData (state.getData(), state.getSize());

    fromPreset.loadPreset (file);
    file.deleteFile();
    EXPECT_EQ (frequency->get(), direct);

    test::restoreState (fromState, state);
    EXPECT_EQ (dynamic_cast<juce::AudioParameterFloat*> (fromState.apvts.getParameter ("2Freq"))->get(), plain);
}
} // namespace
