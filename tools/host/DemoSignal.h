#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

namespace hostkit
{
// A short stereo groove made here from oscillators and seeded noise, so the demo needs no recorded
// audio: four bars at 120 BPM (kick, snare, hi-hat, bass line and a chord pad; the last two bars
// play louder than the first two, which shows how the compressor follows the level) and one second
// of ringing out. The peak is normalised to -1 dBFS. The same rate always gives the same samples.
juce::AudioBuffer<float> makeDemoSignal (double sampleRate, double seconds = 9.0);
} // namespace hostkit
