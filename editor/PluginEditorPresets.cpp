#include "editor/PluginEditor.h"

// The preset browser's handlers. Stand-ins until the preset browser lands.
void MorvikAudioProcessorEditor::installPresetBrowser() {}

void MorvikAudioProcessorEditor::loadPresetFiles() {}
