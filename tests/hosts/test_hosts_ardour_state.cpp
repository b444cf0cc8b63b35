// Host projects through headless Ardour (scripts/ardour/render.sh), in both formats: a session is
// saved and then opened and saved again ten times, each time in a new Ardour process, and the
// plug-in's state in it must stay byte for byte the same; a session whose plug-in state has one bit
// flipped must still open and render. Without ardour7-lua the program fails.

#include "HostTests.h"

namespace
{
using namespace hosttests;

constexpr int cycles = 10;

const juce::StringArray settings { "Power=0",     "Compress=33.3", "Ratio=8",   "Attack=2.5", "Release=700",
                                   "Makeup=-4.5", "Character=70",  "Mix=0.25",  "Smooth=12",  "1On=0",
                                   "1Type=0",     "1Freq=250",     "1Gain=3.5", "1Q=2",       "2On=0",
                                   "2Type=4",     "2Freq=1000",    "2Gain=-6",  "2Q=0.5",     "3On=0",
                                   "3Type=2",     "3Freq=9000",    "3Gain=12",  "3Q=7" };

// The plug-in's state inside a saved session, and how to write it back. VST3: the component state
// inside the base64 chunk of the session file. LV2: the wrapper's StateString in the state file.
struct SavedState
{
    juce::File file;
    juce::String text, encoded;
    juce::MemoryBlock bytes;
    bool vst3 = false;

    static SavedState read (const juce::File& session, bool vst3)
    {
        SavedState state;
        state.vst3 = vst3;
        const auto stateFiles =
            session.getChildFile ("plugins").findChildFiles (juce::File::findFiles, true, "state.ttl");
        state.file = vst3                   ? session.getChildFile ("render.ardour")
                     : stateFiles.isEmpty() ? juce::File()
                                            : stateFiles[0];
        state.text = state.file.loadFileAsString();
        state.encoded = vst3 ? state.text.fromFirstOccurrenceOf ("<chunk>", false, false)
                                   .upToFirstOccurrenceOf ("</chunk>", false, false)
                             : state.text.fromFirstOccurrenceOf ("StateString> \"", false, false)
                                   .upToFirstOccurrenceOf ("\"", false, false);

        if (vst3)
        {
            juce::MemoryOutputStream decoded (state.bytes, false);
            juce::Base64::convertFromBase64 (decoded, state.encoded);
        }
        else
        {
            state.bytes.fromBase64Encoding (state.encoded);
        }

        return state;
    }

    // The plug-in's own bytes: from its tree to the end of the wrapper's trailer (VST3) or all (LV2).
    juce::MemoryBlock pluginBytes() const
    {
        const auto* data = static_cast<const char*> (bytes.getData());
        const auto start = findBytes ("Parameters");

        if (! vst3 || start < 0)
            return bytes;

        const auto end = findBytes ("JUCEPrivateData");
        return juce::MemoryBlock (data + start, (size_t) (end < 0 ? (int) bytes.getSize() : end + 15) - (size_t) start);
    }

    int findBytes (const char* text) const
    {
        const auto* data = static_cast<const char*> (bytes.getData());
        const auto* end = data + bytes.getSize();
        const auto* found = std::search (data, end, text, text + std::strlen (text));
        return found == end ? -1 : (int) (found - data);
    }

    void flipBit (int byte, int bit)
    {
        static_cast<juce::uint8*> (bytes.getData())[byte] ^= (juce::uint8) (1 << bit);
        const auto reencoded =
            vst3 ? juce::Base64::toBase64 (bytes.getData(), bytes.getSize()) : bytes.toBase64Encoding();
        file.replaceWithText (text.replace (encoded, reencoded));
    }
};

// The VALUE lines of one cycle: label -> value text as Ardour printed it.
std::map<juce::String, juce::String> valuesOf (const juce::String& output, const juce::String& tag)
{
    std::map<juce::String, juce::String> values;

    for (const auto& line : juce::StringArray::fromLines (output))
        if (line.startsWith ("VALUE " + tag + " "))
            values[line.fromFirstOccurrenceOf ("VALUE " + tag + " ", false, false)
                       .upToLastOccurrenceOf (" ", false, false)] = line.fromLastOccurrenceOf (" ", false, false);

    return values;
}

class ArdourState : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        folder = std::make_unique<juce::TemporaryFile> (".morvik-ardour-state");
        dir().createDirectory();
        juce::String error;
        EXPECT_TRUE (hostkit::writeFloatWav (input(), hostkit::makeMusicLike (rate, 1.0, 5), rate, error)) << error;

        std::map<juce::String, juce::StringArray> arguments;
        for (const juce::String format : { "vst3", "lv2" })
        {
            juce::StringArray rest { format,
                                     input().getFullPathName(),
                                     dir().getChildFile ("unused.wav").getFullPathName(),
                                     "--cycles",
                                     juce::String (cycles),
                                     "--save",
                                     sessions (format).getFullPathName() };
            rest.addArray (settings);
            arguments[format] = rest;
        }

        saved = runRenderScripts (arguments);
    }

    static void TearDownTestSuite()
    {
        if (folder != nullptr)
            dir().deleteRecursively();
        folder.reset();
    }

    static juce::File dir() { return folder->getFile(); }
    static juce::File input() { return dir().getChildFile ("input.wav"); }
    static juce::File sessions (const juce::String& format) { return dir().getChildFile ("sessions-" + format); }

    static void expectExactRecall (const juce::String& format)
    {
        const auto& run = saved[format];
        ASSERT_EQ (run.exitCode, 0) << run.output;

        const auto first = SavedState::read (sessions (format).getChildFile ("0"), format == "vst3");
        const auto plugin = first.pluginBytes();
        const auto tree = juce::ValueTree::readFromData (plugin.getData(), plugin.getSize());
        ASSERT_EQ (tree.getNumChildren(), 24) << "no parameter state in the session";

        // The values the settings asked for, held by the plug-in (within what its axes can hold).
        for (const auto& setting : settings)
        {
            auto id = setting.upToFirstOccurrenceOf ("=", false, false);
            const auto wanted = setting.fromFirstOccurrenceOf ("=", false, false).getDoubleValue();
            auto child = tree.getChildWithProperty ("id", id);
            if (! child.isValid())
                child = tree.getChildWithProperty ("id", "Band" + id);
            EXPECT_NEAR ((double) child.getProperty ("value"), wanted, std::abs (wanted) * 1.0e-5) << id;
        }

        for (int cycle = 1; cycle <= cycles; ++cycle)
        {
            const auto state =
                SavedState::read (sessions (format).getChildFile (juce::String (cycle)), format == "vst3");
            EXPECT_EQ (state.pluginBytes(), first.pluginBytes())
                << format << ": the saved state changed in cycle " << cycle;
        }

        // Ardour's own view of VST3 values (LV2 property values it does not read back): the values it
        // sent are replaced by the plug-in's own on the first opening, and then never move again.
        if (format == "vst3")
        {
            const auto reopened = valuesOf (run.output, "1");
            EXPECT_GE (reopened.size(), 24u);
            for (int cycle = 2; cycle <= cycles; ++cycle)
                EXPECT_EQ (valuesOf (run.output, juce::String (cycle)), reopened) << "cycle " << cycle;
        }
    }

    static inline std::unique_ptr<juce::TemporaryFile> folder;
    static inline std::map<juce::String, ScriptRun> saved;
};

TEST_F (ArdourState, SessionsInBothFormatsComeBackExactlyTenTimes)
{
    for (const juce::String format : { "vst3", "lv2" })
    {
        SCOPED_TRACE (format);
        expectExactRecall (format);
    }
}

TEST_F (ArdourState, SessionsWithOneFlippedBitInThePluginStateOpenAndRender)
{
    std::map<juce::String, juce::StringArray> arguments;

    for (const juce::String format : { "vst3", "lv2" })
    {
        ASSERT_EQ (saved[format].exitCode, 0) << saved[format].output;
        const auto damaged = dir().getChildFile ("damaged-" + format);
        ASSERT_TRUE (sessions (format).getChildFile ("0").copyDirectoryTo (damaged));
        auto state = SavedState::read (damaged, format == "vst3");

        // VST3: the top bit of the size before the wrapper's trailer. LV2: the top bit of the byte
        // that says how many bytes the parameter count takes (the count then reads as negative).
        const auto byte =
            format == "vst3" ? state.findBytes ("JUCEPrivateData") - 1 : state.findBytes ("Parameters") + 12;
        ASSERT_GT (byte, 0);
        state.flipBit (byte, 7);
        ASSERT_NE (SavedState::read (damaged, format == "vst3").bytes,
                   SavedState::read (sessions (format).getChildFile ("0"), format == "vst3").bytes);

        arguments[format] = { format, input().getFullPathName(),
                              dir().getChildFile ("damaged-" + format + ".wav").getFullPathName(), "--open",
                              damaged.getFullPathName() };
    }

    const auto in = readWav (input());
    for (auto& [format, run] : runRenderScripts (arguments))
    {
        ASSERT_EQ (run.exitCode, 0) << format << ": render.sh failed:\n" << run.output;
        const auto out = readWav (dir().getChildFile ("damaged-" + format + ".wav"));
        EXPECT_EQ (out.getNumSamples(), in.getNumSamples()) << format;
        EXPECT_TRUE (hostkit::allFinite (out)) << format;
    }
}
} // namespace

int main (int argc, char** argv) { return hosttests::runArdourTests (argc, argv); }
