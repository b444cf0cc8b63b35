#pragma once

// The static soft-knee curve: detector level in, gain change in dB (0 or below) out.
class GainComputer
{
public:
    // Turns linear detector levels into gain changes in dB, in place.
    void applyCompressionToBuffer (float* buffer, int numSamples) const noexcept;

    float threshold = -20.0f; // dB
    float ratio = 2.0f; // kept so the owner can tell when the ratio changed; the curve uses slope
    float knee = 6.0f; // dB, fixed
    float kneeHalf = 3.0f; // knee / 2, fixed
    float slope = -0.5f; // 1 / ratio - 1: dB of gain change per dB above the knee
};
