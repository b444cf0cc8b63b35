#include "editor/PluginEditor.h"

// The band coupling's handlers. Stand-ins until the band coupling lands.
void MorvikAudioProcessorEditor::installBandCoupling() {}

void MorvikAudioProcessorEditor::coupleBand (int) {}
