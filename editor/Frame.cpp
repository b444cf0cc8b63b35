#include "editor/Frame.h"

Frame::Frame() = default;

void Frame::paint (juce::Graphics&) {}

void Frame::resized() {}
