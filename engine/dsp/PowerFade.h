#pragma once

#include <juce_audio_basics/juce_audio_basics.h>

// The 20 ms crossfade that follows the "Power" switch: between the processed and the dry signal,
// one float step of 1/length per sample, turning back without a jump when the switch is reversed
// part-way. Transitions start only at chunk starts.
class PowerFade
{
public:
    void prepare (double sampleRate, int blockSize);

    // Chunk start, before any stage runs. The first chunk after preparation snaps to the switch;
    // a chunk that will fade keeps a copy of its dry input (up to two channels).
    void begin (const juce::AudioBuffer<float>& main, bool powerOn) noexcept;

    // Powered off with the fade complete: every stage is skipped.
    bool isFullyOff() const noexcept { return target == 0.0f && gain <= 0.0f; }

    // Chunk end: mixes the dry copy back in while fading, else settles on the target.
    void finish (juce::AudioBuffer<float>& main) noexcept;

    float getGain() const noexcept { return gain; }

private:
    juce::AudioBuffer<float> dry;
    float gain = 1.0f; // weight of the processed signal
    int length = 882; // samples
    bool initialised = false;
    float target = 1.0f;
    bool fading = false;
};
