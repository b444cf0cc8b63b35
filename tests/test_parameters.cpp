#include "engine/ParameterLayout.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace
{
struct Expected
{
    const char* id;
    const char* name;
    float start, end, defaultValue;
    const char* label;
};

// The whole table, in creation order; bools and choices carry their index range.
const Expected table[] = {
    { "Power", "On Button", 0, 1, 1, "" },
    { "Compress", "Compress", 0, 70, 15, "" },
    { "Ratio", "Ratio", 1.1f, 20, 4, "" },
    { "Attack", "Attack", 0, 50.01f, 10, "ms" },
    { "Release", "Release", 5, 1501, 40, "" },
    { "Makeup", "Makeup", -8, 30, 2, "" },
    { "Character", "Character", 0, 100, 30, "%" },
    { "Mix", "Mix", 0, 1, 1, "%" },
    { "Smooth", "Smooth", 0, 100, 50, "%" },
    { "1On", "Band1 On", 0, 1, 1, "On" },
    { "1Type", "Band1 Type", 0, 4, 1, "Type" },
    { "1Freq", "Band1 Freq", 20, 20000, 100, "Frequency" },
    { "1Gain", "Band1 Gain", -24, 24, 0, "Gain" },
    { "1Q", "Band1 Q", 0.2f, 20, 0.8f, "Q" },
    { "2On", "Band2 On", 0, 1, 1, "On" },
    { "2Type", "Band2 Type", 0, 4, 2, "Type" },
    { "2Freq", "Band2 Freq", 20, 20000, 700, "Frequency" },
    { "2Gain", "Band2 Gain", -24, 24, 0, "Gain" },
    { "2Q", "Band2 Q", 0.2f, 20, 1.0f, "Q" },
    { "3On", "Band3 On", 0, 1, 1, "On" },
    { "3Type", "Band3 Type", 0, 4, 3, "Type" },
    { "3Freq", "Band3 Freq", 20, 20000, 4000, "Frequency" },
    { "3Gain", "Band3 Gain", -24, 24, 0, "Gain" },
    { "3Q", "Band3 Q", 0.2f, 20, 0.8f, "Q" },
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

        const auto range = p->getNormalisableRange();
        EXPECT_FLOAT_EQ (range.start, row.start);
        EXPECT_FLOAT_EQ (range.end, row.end);
        // Band frequencies pass through the ten-octave mapping, whose divisor 0.693147 is a touch
        // below ln 2, so their defaults come back a few parts per million high.
        const float tolerance = std::abs (row.defaultValue) * 2e-6f;
        EXPECT_NEAR (processor.apvts.getRawParameterValue (row.id)->load(), row.defaultValue, tolerance);
        EXPECT_NEAR (p->convertFrom0to1 (p->getDefaultValue()), row.defaultValue, tolerance);
    }
}

TEST_F (ParameterTest, KindsStepsAndSkews)
{
    EXPECT_NE (dynamic_cast<juce::AudioParameterBool*> (&parameter ("Power")), nullptr);
    EXPECT_NE (dynamic_cast<juce::AudioParameterBool*> (&parameter ("2On")), nullptr);

    auto* type = dynamic_cast<juce::AudioParameterChoice*> (&parameter ("3Type"));
    ASSERT_NE (type, nullptr);
    EXPECT_EQ (type->choices, juce::StringArray ({ "Low Cut", "Low Shelf", "Peak", "High Shelf", "High Cut" }));

    const struct
    {
        const char* id;
        float interval, skew;
    } steps[] = { { "Compress", 0.1f, 1 }, { "Ratio", 0.1f, 0.5f }, { "Attack", 0.01f, 0.5f }, { "Release", 1, 0.35f },
                  { "Makeup", 0.1f, 1 },   { "Character", 1, 1 },   { "Mix", 0.001f, 1 },      { "Smooth", 1, 1 },
                  { "1Gain", 0.01f, 1 },   { "1Q", 0.01f, 0.1f } };

    for (const auto& s : steps)
    {
        SCOPED_TRACE (s.id);
        const auto range = parameter (s.id).getNormalisableRange();
        EXPECT_FLOAT_EQ (range.interval, s.interval);
        EXPECT_FLOAT_EQ (range.skew, s.skew);
        EXPECT_FALSE (range.symmetricSkew);
    }
}

TEST_F (ParameterTest, GlobalTexts)
{
    // The step just below the end is 1.1 + 188 * 0.1 = 19.9000015 in float, above 19.9.
    EXPECT_EQ (text ("Ratio", 20.0f), "LIMITER");
    EXPECT_EQ (text ("Ratio", 1.1f + 188 * 0.1f), "LIMITER");
    EXPECT_EQ (text ("Ratio", 1.1f + 187 * 0.1f), "19.8");
    EXPECT_EQ (text ("Ratio", 4.0f), "4.0");

    EXPECT_EQ (text ("Attack", 50.01f), "AUTO");
    EXPECT_EQ (text ("Attack", 50.0f), "50.00 ms");
    EXPECT_EQ (text ("Attack", 0.0f), "0.00 ms");

    EXPECT_EQ (text ("Release", 100.0f), "100.00 ms");
    EXPECT_EQ (text ("Release", 101.0f), "101.0 ms");
    EXPECT_EQ (text ("Release", 999.0f), "999.0 ms");
    EXPECT_EQ (text ("Release", 1000.0f), "1.00 s");
    EXPECT_EQ (text ("Release", 1500.0f), "1.50 s");
    EXPECT_EQ (text ("Release", 1501.0f), "AUTO");
    EXPECT_EQ (text ("Release", 40.0f), "40.00 ms");

    EXPECT_EQ (text ("Character", 0.0f), "CLEAN");
    EXPECT_EQ (text ("Character", 100.0f), "HOT !");
    EXPECT_EQ (text ("Character", 1.0f), "1.0 %");
    EXPECT_EQ (text ("Character", 99.0f), "99.0 %");

    EXPECT_EQ (text ("Mix", 1.0f), "100.0 %");
    EXPECT_EQ (text ("Mix", 0.5f), "50.0 %");
    EXPECT_EQ (text ("Smooth", 50.0f), "50 %");
    EXPECT_EQ (text ("Makeup", 2.0f), "2.0 dB ");
    EXPECT_EQ (text ("Makeup", -8.0f), "-8.0 dB ");
    EXPECT_EQ (text ("Compress", 15.0f), "15.0 dB");

    EXPECT_EQ (parameter ("Power").getText (1.0f, 1024), "On");
    EXPECT_EQ (parameter ("Power").getText (0.0f, 1024), "Off");
    EXPECT_EQ (text ("2Type", 2.0f), "Peak");
}

TEST_F (ParameterTest, RulesGivenValuesDirectly)
{
    // Values the host never produces after snapping still follow the rules' thresholds.
    EXPECT_EQ (ParameterText::smooth (49.99f, 0), "49 %");
    EXPECT_EQ (ParameterText::release (100.5f, 0), "100.5 ms");
    EXPECT_EQ (ParameterText::character (0.4f, 0), "0.4 %");
}

TEST_F (ParameterTest, BandTexts)
{
    using ParameterText::bandFrequency;
    EXPECT_EQ (bandFrequency (99.96f, 0), "100.0 Hz");
    EXPECT_EQ (bandFrequency (100.0f, 0), "100 Hz");
    EXPECT_EQ (bandFrequency (440.5f, 0), "440.5 Hz");
    EXPECT_EQ (bandFrequency (523.2511f, 0), "523.251 Hz");
    EXPECT_EQ (bandFrequency (999.9996f, 0), "1000 Hz");
    EXPECT_EQ (bandFrequency (1000.0f, 0), "1.00 kHz");
    EXPECT_EQ (bandFrequency (9999.0f, 0), "10.00 kHz");
    EXPECT_EQ (bandFrequency (10000.0f, 0), "10.0 kHz");
    EXPECT_EQ (bandFrequency (19999.0f, 0), "20.0 kHz");
    EXPECT_EQ (bandFrequency (20000.0f, 0), "20 kHz");

    EXPECT_EQ (text ("1Freq", 20000.0f), "20 kHz");
    EXPECT_EQ (text ("2Gain", -24.0f), "-24.00 dB");
    EXPECT_EQ (text ("3Q", 0.2f), "0.20");
    EXPECT_EQ (text ("3Q", 20.0f), "20.00");
}

TEST_F (ParameterTest, TextsIgnoreMaximumLength)
{
    EXPECT_EQ (text ("Release", 1000.0f, 2), "1.00 s");
    EXPECT_EQ (text ("Ratio", 20.0f, 1), "LIMITER");
    EXPECT_EQ (text ("1Freq", 440.5f, 3), "440.5 Hz");
    EXPECT_EQ (text ("1Gain", 12.5f, 0), "12.50 dB");
}

TEST_F (ParameterTest, FrequencyMapping)
{
    auto& f = parameter ("1Freq");
    EXPECT_FLOAT_EQ (f.convertFrom0to1 (0.0f), 20.0f);
    EXPECT_FLOAT_EQ (f.convertFrom0to1 (0.5f), 640.0f);
    EXPECT_NEAR (f.convertFrom0to1 (0.99f), 19108.5f, 0.5f);
    EXPECT_FLOAT_EQ (f.convertFrom0to1 (0.9966f), 20000.0f);
    EXPECT_FLOAT_EQ (f.convertFrom0to1 (1.0f), 20000.0f);
    EXPECT_NEAR (f.convertTo0to1 (20000.0f), 0.9965787f, 1e-6f);
    EXPECT_NEAR (f.convertTo0to1 (100.0f), 0.2321929f, 1e-6f);
    EXPECT_NEAR (f.convertTo0to1 (700.0f), 0.5129284f, 1e-6f);
    EXPECT_NEAR (f.convertTo0to1 (4000.0f), 0.7643858f, 1e-6f);

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
