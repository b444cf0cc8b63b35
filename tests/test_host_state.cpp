// The state a host saves with its project, in process: it brings back exactly what the parameters
// held, including the band frequencies whose axis maps the two ways with slightly different
// constants, while presets keep loading as they always did. Save-and-reopen cycles run through real
// hosts in tests/hosts.

#include "engine/plugin/ParameterState.h"
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

// Appends `count` children made by `make` from their index.
template <typename Make>
void append (juce::ValueTree& tree, int count, Make&& make)
{
    for (int i = 0; i < count; ++i)
        tree.appendChild (make (i), nullptr);
}

juce::ValueTree entry (const juce::String& id, const juce::var& value)
{
    return juce::ValueTree ("PARAM").setProperty ("id", id, nullptr).setProperty ("value", value, nullptr);
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

// Whatever else a state or preset carries is not saved again: the next save is the normal one, and
// the values its parameters' entries name come back (the last entry of each, in either naming).
TEST (HostState, WhatNamesNoParameterIsNotSavedAgain)
{
    MorvikAudioProcessor source;
    test::setParameters (source, { { "Compress", 33.0f }, { "1Gain", -6.0f }, { "2Freq", 2345.0f } });
    const auto normal = test::stateOf (source);
    const auto parameters = juce::ValueTree::readFromData (normal.getData(), normal.getSize());

    using Junk = std::function<void (juce::ValueTree&)>;
    const std::pair<const char*, Junk> cases[] = {
        { "1,000 unknown entries",
          [] (auto& t) { append (t, 1000, [] (int i) { return entry ("X" + juce::String (i), i); }); } },
        { "200,000 unknown entries",
          [] (auto& t) { append (t, 200000, [] (int i) { return entry ("Y" + juce::String (i), i); }); } },
        { "200,000 empty children", [] (auto& t) { append (t, 200000, [] (int) { return juce::ValueTree ("x"); }); } },
        { "an id of 16 MB",
          [] (auto& t) { t.appendChild (entry (juce::String::repeatedString ("x", 16 << 20), 1), nullptr); } },
        { "earlier entries for the same parameters",
          [] (auto& t) {
              for (int i = 0; i < 1000; ++i)
                  t.addChild (entry (i % 2 == 0 ? "Compress" : "Band1Gain", 5), 0, nullptr);
          } },
        { "properties and children beside the parameters",
          [] (auto& t) {
              t.setProperty ("extra", juce::String::repeatedString ("x", 1000), nullptr);
              for (auto child : t)
              {
                  child.setProperty ("note", "x", nullptr);
                  append (child, 100, [] (int) { return juce::ValueTree ("x"); });
              }
          } },
        { "the other naming of the bands",
          [] (auto& t) {
              for (auto child : t)
                  if (const auto id = child["id"].toString(); juce::CharacterFunctions::isDigit (id[0]))
                      child.setProperty ("id", "Band" + id, nullptr);
          } },
    };

    for (const auto& [what, junk] : cases)
    {
        auto tree = parameters.createCopy();
        junk (tree);
        juce::MemoryOutputStream stream;
        tree.writeToStream (stream);
        const auto& state = stream.getMemoryBlock();

        MorvikAudioProcessor fromState, fromPreset;
        test::restoreState (fromState, state);
        EXPECT_TRUE (ParameterState::restore (fromPreset.apvts, state.getData(), state.getSize())) << what;

        EXPECT_EQ (test::stateOf (fromState).getSize(), normal.getSize())
            << what << ": " << state.getSize() << " bytes";
        EXPECT_EQ (held (fromState), held (source)) << what;
        EXPECT_EQ (test::stateOf (fromPreset).getSize(), normal.getSize()) << what;
        EXPECT_EQ (test::getParameter (fromPreset, "Compress"), 33.0f) << what;
        EXPECT_EQ (test::getParameter (fromPreset, "1Gain"), -6.0f) << what;
    }
}
} // namespace
