#pragma once

// Engine code is built with this folder ahead of the framework's modules: the signal stages must not
// depend on drawing, windows or the plug-in wrapper.
#error "engine code must not include juce_graphics (a GUI module, or one that includes them)"
