#pragma once

// Engine code is built with this folder ahead of the framework's modules: the signal stages must not
// depend on drawing, windows or the plug-in wrapper.
#error "engine code must not include JuceHeader.h (it includes every module, the GUI ones too)"
