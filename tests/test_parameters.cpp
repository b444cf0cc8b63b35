#include "engine/plugin/ParameterLayout.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace
{
// The whole table, in creation order. Kind: b(ool), c(hoice) or f(loat); bools and choices carry
// their index range. A band frequency has no step of its own: its ten-octave mapping decides.
const struct
{
    const char* id;
    const char* name;
    char kind;
    float start, end, defaultValue, interval, skew;
    const char* label;
} table[] = {
    { "Power", "On Button", 'b', 0, 1, 1, 1, 1, "" },
    { "Compress", "Compress", 'f', 0, 70, 15, 0.1f, 1, "" },
    { "Ratio", "Ratio", 'f', 1.1f, 20, 4, 0.1f, 0.5f, "" },
    { "Attack", "Attack", 'f', 0, 50.01f, 10, 0.01f, 0.5f, "ms" },
    { "Release", "Release", 'f', 5, 1501, 40, 1, 0.35f, "" },
    { "Makeup", "Makeup", 'f', -8, 30, 2, 0.1f, 1, "" },
    { "Character", "Character", 'f', 0, 100, 30, 1, 1, "%" },
    { "Mix", "Mix", 'f', 0, 1, 1, 0.001f, 1, "%" },
    { "Smooth", "Smooth", 'f', 0, 100, 50, 1, 1, "%" },
    { "1On", "Band1 On", 'b', 0, 1, 1, 1, 1, "On" },
    { "1Type", "Band1 Type", 'c', 0, 4, 1, 1, 1, "Type" },
    { "1Freq", "Band1 Freq", 'f', 20, 20000, 100, 0, 1, "Frequency" },
    { "1Gain", "Band1 Gain", 'f', -24, 24, 0, 0.01f, 1, "Gain" },
    { "1Q", "Band1 Q", 'f', 0.2f, 20, 0.8f, 0.01f, 0.1f, "Q" },
    { "2On", "Band2 On", 'b', 0, 1, 1, 1, 1, "On" },
    { "2Type", "Band2 Type", 'c', 0, 4, 2, 1, 1, "Type" },
    { "2Freq", "Band2 Freq", 'f', 20, 20000, 700, 0, 1, "Frequency" },
    { "2Gain", "Band2 Gain", 'f', -24, 24, 0, 0.01f, 1, "Gain" },
    { "2Q", "Band2 Q", 'f', 0.2f, 20, 1.0f, 0.01f, 0.1f, "Q" },
    { "3On", "Band3 On", 'b', 0, 1, 1, 1, 1, "On" },
    { "3Type", "Band3 Type", 'c', 0, 4, 3, 1, 1, "Type" },
    { "3Freq", "Band3 Freq", 'f', 20, 20000, 4000, 0, 1, "Frequency" },
    { "3Gain", "Band3 Gain", 'f', -24, 24, 0, 0.01f, 1, "Gain" },
    { "3Q", "Band3 Q", 'f', 0.2f, 20, 0.8f, 0.01f, 0.1f, "Q" },
};

class ParameterTest : public ::testing::Test
{
protected:
    juce::RangedAudioParameter& parameter (const char* id)
    {
        auto* p = processor.apvts.getParameter (id);
        EXPECT_NE (p, nullptr) << id;
        return *p;
    }

    // The text the host shows for a plain value, through the parameter's own normalisation.
    juce::String text (const char* id, float plainValue, int maximumLength = 1024)
    {
        auto& p = parameter (id);
        return p.getText (p.convertTo0to1 (plainValue), maximumLength);
    }

    MorvikAudioProcessor processor;
};
} // namespace

TEST_F (ParameterTest, TableMatchesInOrder)
{
    const auto& parameters = processor.getParameters();
    ASSERT_EQ (parameters.size(), 24);

    for (int i = 0; i < 24; ++i)
    {
        const auto& row = table[i];
        auto* p = dynamic_cast<juce::RangedAudioParameter*> (parameters[i]);
        ASSERT_NE (p, nullptr);
        SCOPED_TRACE (row.id);

        EXPECT_EQ (p->getParameterID(), row.id);
        EXPECT_EQ (p->getName (100), row.name);
        EXPECT_EQ (p->getLabel(), row.label);
        EXPECT_EQ (p->getVersionHint(), 1);
        EXPECT_TRUE (p->isAutomatable());
        EXPECT_FALSE (p->isMetaParameter());
        EXPECT_EQ (p->getCategory(), juce::AudioProcessorParameter::genericParameter);
        EXPECT_EQ (dynamic_cast<juce::AudioParameterBool*> (p) != nullptr, row.kind == 'b');
        EXPECT_EQ (dynamic_cast<juce::AudioParameterChoice*> (p) != nullptr, row.kind == 'c');

        const auto range = p->getNormalisableRange();
        EXPECT_FLOAT_EQ (range.start, row.start);
        EXPECT_FLOAT_EQ (range.end, row.end);
        EXPECT_FLOAT_EQ (range.interval, row.interval);
        EXPECT_FLOAT_EQ (range.skew, row.skew);
        EXPECT_FALSE (range.symmetricSkew);
        // Band frequencies pass through the ten-octave mapping, whose divisor 0.693147 is a touch
        // below ln 2, so their defaults come back a few parts per million high.
        const float tolerance = std::abs (row.defaultValue) * 2e-6f;
        EXPECT_NEAR (processor.apvts.getRawParameterValue (row.id)->load(), row.defaultValue, tolerance);
        EXPECT_NEAR (p->convertFrom0to1 (p->getDefaultValue()), row.defaultValue, tolerance);
    }

    auto* type = dynamic_cast<juce::AudioParameterChoice*> (&parameter ("3Type"));
    ASSERT_NE (type, nullptr);
    EXPECT_EQ (type->choices, juce::StringArray ({ "Low Cut", "Low Shelf", "Peak", "High Shelf", "High Cut" }));
}

// What the host shows for plain values, whatever length it offers (the texts are never shortened).
TEST_F (ParameterTest, HostTexts)
{
    // The Ratio step just below the end is 1.1 + 188 * 0.1 = 19.9000015 in float, above 19.9.
    const float ratioTopStep = 1.1f + 188 * 0.1f, ratioStepBelow = 1.1f + 187 * 0.1f;
    const std::pair<const char*, std::vector<std::pair<float, const char*>>> cases[] = {
        { "Ratio", { { 20.0f, "LIMITER" }, { ratioTopStep, "LIMITER" }, { ratioStepBelow, "19.8" } } },
        { "Attack", { { 50.01f, "AUTO" }, { 50.0f, "50.00 ms" } } },
        { "Release", { { 100.0f, "100.00 ms" }, { 101.0f, "101.0 ms" }, { 999.0f, "999.0 ms" } } },
        { "Release", { { 1000.0f, "1.00 s" }, { 1500.0f, "1.50 s" }, { 1501.0f, "AUTO" } } },
        { "Character", { { 0.0f, "CLEAN" }, { 100.0f, "HOT !" }, { 1.0f, "1.0 %" }, { 99.0f, "99.0 %" } } },
        { "Mix", { { 0.5f, "50.0 %" } } },
        { "Smooth", { { 50.0f, "50 %" } } },
        { "Makeup", { { -8.0f, "-8.0 dB " } } },
        { "Compress", { { 15.0f, "15.0 dB" } } },
        { "Power", { { 1.0f, "On" }, { 0.0f, "Off" } } },
        { "2Type", { { 2.0f, "Peak" } } },
        { "1Freq", { { 20000.0f, "20 kHz" }, { 440.5f, "440.5 Hz" } } },
        { "2Gain", { { -24.0f, "-24.00 dB" }, { 12.5f, "12.50 dB" } } },
        { "3Q", { { 0.2f, "0.20" } } },
    };
    for (const auto& [id, values] : cases)
        for (const auto& [value, expected] : values)
            for (const int maximumLength : { 1024, 2, 0 })
                EXPECT_EQ (text (id, value, maximumLength).toStdString(), expected)
                    << id << " " << value << " " << maximumLength;
}

// Values the host never produces after snapping still follow the rules' thresholds.
TEST_F (ParameterTest, RulesGivenValuesDirectly)
{
    using namespace ParameterText;
    EXPECT_EQ (smooth (49.99f, 0), "49 %");
    EXPECT_EQ (release (100.5f, 0), "100.5 ms");
    EXPECT_EQ (character (0.4f, 0), "0.4 %");

    const std::pair<float, const char*> frequencies[] = { { 99.96f, "100.0 Hz" },   { 100.0f, "100 Hz" },
                                                          { 440.5f, "440.5 Hz" },   { 523.2511f, "523.251 Hz" },
                                                          { 999.9996f, "1000 Hz" }, { 1000.0f, "1.00 kHz" },
                                                          { 9999.0f, "10.00 kHz" }, { 10000.0f, "10.0 kHz" },
                                                          { 19999.0f, "20.0 kHz" }, { 20000.0f, "20 kHz" } };
    for (const auto& [value, expected] : frequencies)
        EXPECT_EQ (bandFrequency (value, 0).toStdString(), expected) << value;
}

TEST_F (ParameterTest, FrequencyMapping)
{
    auto& f = parameter ("1Freq");
    EXPECT_FLOAT_EQ (f.convertFrom0to1 (0.0f), 20.0f);
    EXPECT_FLOAT_EQ (f.convertFrom0to1 (0.5f), 640.0f);
    EXPECT_NEAR (f.convertFrom0to1 (0.99f), 19108.5f, 0.5f);
    EXPECT_FLOAT_EQ (f.convertFrom0to1 (0.9966f), 20000.0f);
    EXPECT_FLOAT_EQ (f.convertFrom0to1 (1.0f), 20000.0f);
    const std::pair<float, float> normalised[] = {
        { 20000.0f, 0.9965787f }, { 100.0f, 0.2321929f }, { 700.0f, 0.5129284f }, { 4000.0f, 0.7643858f }
    };
    for (const auto& [hz, n] : normalised)
        EXPECT_NEAR (f.convertTo0to1 (hz), n, 1e-6f) << hz;

    // A plain value below the range lands on its start.
    f.setValueNotifyingHost (f.convertTo0to1 (f.getNormalisableRange().snapToLegalValue (5.0f)));
    EXPECT_FLOAT_EQ (processor.apvts.getRawParameterValue ("1Freq")->load(), 20.0f);
}

TEST_F (ParameterTest, TextToValue)
{
    const auto typed = [this] (const char* id, const char* typedText) {
        auto& p = parameter (id);
        p.setValueNotifyingHost (p.getValueForText (typedText));
        return processor.apvts.getRawParameterValue (id)->load();
    };

    EXPECT_FLOAT_EQ (typed ("Attack", "AUTO"), 0.0f);
    EXPECT_FLOAT_EQ (typed ("Attack", "50.01"), 50.01f);
    EXPECT_FLOAT_EQ (typed ("Release", "AUTO"), 5.0f);
    EXPECT_FLOAT_EQ (typed ("Release", "1501"), 1501.0f);
    EXPECT_FLOAT_EQ (typed ("Ratio", "nonsense"), 1.1f);
    EXPECT_FLOAT_EQ (typed ("1Freq", "2.50 kHz"), 20.0f);
    EXPECT_NEAR (typed ("1Freq", "  440 Hz"), 440.0f, 440.0f * 2e-6f);
    EXPECT_NEAR (typed ("1Gain", "12.5 dB"), 12.5f, 1e-4f);
    EXPECT_NEAR (typed ("1Q", "3.3"), 3.3f, 1e-4f);
    EXPECT_FLOAT_EQ (typed ("Compress", "99"), 70.0f);
}
