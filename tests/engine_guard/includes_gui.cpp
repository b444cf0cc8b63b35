// Built only by the engine_is_gui_free test, which expects this file to fail to compile: engine
// code that reaches for a GUI module must be stopped by the build itself.
#include <juce_dsp/juce_dsp.h>
#include <juce_gui_basics/juce_gui_basics.h>
