#pragma once

#include <juce_core/juce_core.h>

namespace hostkit
{
// morvik_host editor: loads a bundle, keeps audio flowing through it on a thread of its own, opens
// its editor in a window, optionally takes a picture of it from the X server, and reports every
// parameter and the gestures the editor made. `options` holds the "--name value" options without
// their dashes; `sets` the --set assignments. Run on the message thread; returns the exit code.
int runEditorCommand (const juce::StringPairArray& options, const juce::StringArray& sets);

extern const char* editorUsage;
} // namespace hostkit
