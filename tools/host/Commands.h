#pragma once

#include "HostKit.h"

#include <utility>
#include <vector>

// The commands of morvik_host apart from the editor's (EditorCommand.h), and what they share for
// reading their command line.
namespace hostkit
{
// Prints "morvik_host: <message>" to stderr; returns the exit code for a failed command.
int fail (const juce::String& message);

// Options after the positional arguments: "--name value" pairs; --set and --at may repeat.
struct Options
{
    juce::StringArray positional;
    juce::StringPairArray single;
    juce::StringArray sets;
    std::vector<std::pair<double, juce::String>> timed;
    std::vector<double> reprepare;
    bool mono = false;
};

bool parseOptions (const juce::StringArray& args, int first, Options& options, juce::String& error);

// Paths on the command line are relative to where the tool was started.
bool readArgumentFile (const juce::String& path, juce::AudioBuffer<float>& buffer, double& rate, juce::String& error);

// "Id=value" into an event's id and value; false if there is no "=" or no id.
bool splitAssignment (const juce::String& text, ParameterEvent& event);

namespace commands
{
// Commands that load a plug-in (PluginCommands.cpp).
int info (Format format, const juce::String& location, const Options& options);
int render (Format format, const juce::String& location, const Options& options);
int hostValues (Format format, const juce::String& location, const Options& options);

// Commands on audio files (FileCommands.cpp). `kind` is "demo-signal" or "sine".
int writeSignal (const juce::String& kind, const Options& options);
int stats (const Options& options);
int compare (const Options& options);
int envelope (const Options& options);
int toRaw (const Options& options);
int trim (const Options& options);
} // namespace commands
} // namespace hostkit
