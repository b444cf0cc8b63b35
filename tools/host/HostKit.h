#pragma once

#include <juce_audio_formats/juce_audio_formats.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <memory>
#include <vector>

// A small plug-in host on JUCE's own VST3 and LV2 hosting: loads a bundle, negotiates buses,
// addresses parameters by the identifiers the plug-in declares, renders audio in host-sized blocks
// with parameter changes at given times, and reads and writes float WAV files.
namespace hostkit
{
enum class Format
{
    vst3,
    lv2
};

// "vst3" or "lv2" (any case); false for anything else.
bool parseFormat (const juce::String& text, Format& format);
juce::String formatName (Format format);

// Keeps the format objects alive: an LV2 world is costly to build and every LV2 instance refers to
// it, so one Host serves a whole program. Create and use it on the message thread.
class Host
{
public:
    Host();
    ~Host();

    // location: a .vst3 bundle for VST3; for LV2 either a .lv2 bundle (its parent folder is added to
    // the search path and the plug-in URI read from its manifest) or a plug-in URI that is already on
    // the search path (the system folders such as /usr/lib/lv2 are always searched; ~/.lv2 is not).
    std::unique_ptr<juce::AudioPluginInstance> load (Format format, const juce::String& location, double sampleRate,
                                                     int blockSize, juce::String& error);

private:
    juce::AudioPluginFormat& getFormat (Format format);

    juce::VST3PluginFormat vst3;
    std::unique_ptr<juce::LV2PluginFormat> lv2;
    juce::StringArray lv2FoldersLoaded;
};

// The URI of the first lv2:Plugin named in a bundle's manifest.ttl; empty if none.
juce::String readLv2PluginUri (const juce::File& bundle);

//==============================================================================
// Buses
struct BusRequest
{
    int mainChannels = 2; // 1 or 2, in and out alike
    int sidechainChannels = 0; // 0 keeps the side-chain bus disabled
};

// Applies the layout; false if the plug-in refuses it (the instance keeps its previous layout).
bool applyLayout (juce::AudioPluginInstance& instance, const BusRequest& request);

// Whether the plug-in accepts main in/out channel sets with the given side-chain set, without
// changing the instance's layout.
bool layoutSupported (juce::AudioPluginInstance& instance, const juce::AudioChannelSet& in,
                      const juce::AudioChannelSet& out, const juce::AudioChannelSet& sidechain);

//==============================================================================
// Parameters

// The identifier the plug-in itself declares. LV2 reports its parameters as URIs ending in
// ":<id>"; JUCE's VST3 wrapper reports a number derived from the identifier, which cannot be
// reversed, so VST3 parameters are matched by hashing candidate identifiers (see matchesId).
juce::String hostParameterId (const juce::AudioProcessorParameter& parameter);

// True if the hosted parameter is the one the plug-in declares as `id`: the host's identifier
// equals it, ends in ":id", "#id" or "/id", or equals the number JUCE's VST3 wrapper derives from
// it. Falls back to the parameter's name.
bool matchesId (const juce::AudioProcessorParameter& parameter, const juce::String& id);

juce::AudioProcessorParameter* findParameter (juce::AudioPluginInstance& instance, const juce::String& id);

// The normalised value that stands for a value given in the parameter's own units or as one of its
// value texts ("15", "LIMITER", "Peak", "2" for the third choice, "0"/"1" for a switch).
float normalisedFor (const juce::AudioProcessorParameter& parameter, const juce::String& plainOrText);

// Sets a parameter through the host's own path (the change reaches the plug-in with the next block).
bool setParameter (juce::AudioPluginInstance& instance, const juce::String& id, const juce::String& plainOrText,
                   juce::String& error);

//==============================================================================
// Rendering

struct ParameterEvent
{
    double timeSeconds = 0.0;
    juce::String id;
    juce::String value;
};

struct RenderOptions
{
    int blockSize = 512;
    std::vector<ParameterEvent> events; // applied at the first block boundary at or after their time
    // Times at which the host deactivates and re-prepares the plug-in in offline mode, from the
    // audio thread between two blocks, as Ardour does when an export starts.
    std::vector<double> reprepareTimes;
};

// Renders `input` (main channels) through a prepared instance into `output` (same length and
// channel count as input). `sidechain` (may be null) feeds the side-chain bus when it is enabled;
// a shorter side-chain is padded with silence. Blocks are cut at event times so that each change
// lands on the exact sample. Returns false with a message when an event names no parameter.
bool render (juce::AudioPluginInstance& instance, const juce::AudioBuffer<float>& input,
             const juce::AudioBuffer<float>* sidechain, juce::AudioBuffer<float>& output, const RenderOptions& options,
             juce::String& error);

//==============================================================================
// Files
bool readAudioFile (const juce::File& file, juce::AudioBuffer<float>& buffer, double& sampleRate, juce::String& error);
bool writeFloatWav (const juce::File& file, const juce::AudioBuffer<float>& buffer, double sampleRate,
                    juce::String& error);

//==============================================================================
// Measurements used by the checks and the demo
double rmsDb (const juce::AudioBuffer<float>& buffer, int start, int numSamples);
double peakDb (const juce::AudioBuffer<float>& buffer, int start, int numSamples);
bool allFinite (const juce::AudioBuffer<float>& buffer);
// Largest |a - b| over the common channels from sample `start` on.
double maxAbsDifference (const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b, int start,
                         int numSamples);

//==============================================================================
// Test signals
juce::AudioBuffer<float> makeSine (double sampleRate, double seconds, double frequency, double amplitude, int channels);

} // namespace hostkit
