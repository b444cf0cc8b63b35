#pragma once

#include <juce_graphics/juce_graphics.h>

// One of the editor's images from the binary data: decoded on first use and then shared through the
// image cache, so every window and every look reuses the one decoded copy.
inline juce::Image embeddedImage (const char* data, int size) { return juce::ImageCache::getFromMemory (data, size); }
