#pragma once

#include "engine/dsp/SmoothingFilter.h"

// Attack/release ballistics on the gain change, in double precision, with attack and release
// times that can follow the detector's crest factor.
//
// There is one ballistics state for both channels: the owner runs the left block and then the right
// block through it, so each time constant acts on twice as many values as there are samples.
class LevelDetector
{
public:
    void prepare (double newSampleRate) noexcept;

    // Both do nothing when the time is unchanged. A time of 0 makes the detector follow at once.
    // Non-finite times are ignored.
    void setAttack (const double& seconds) noexcept;
    void setRelease (const double& seconds) noexcept;

    // Measures one block and, if automatic times are on, updates the times from its crest factor.
    void processCrestFactor (const float* buffer, int numSamples) noexcept;

    // Smooths gain changes (dB) in place.
    void applyBallistics (float* buffer, int numSamples) noexcept;

    double avgAttack = 0.0; // automatic attack of the last block, seconds
    double avgRelease = 0.14; // automatic release of the last block, seconds
    double peakState = 0.0; // running peak of the squared level
    double rmsState = 0.0; // running mean of the squared level
    double a1 = 0.0; // crest-factor smoothing coefficient, 0.2 s per value
    double b1 = 0.0; // 1 - a1
    double maxAttack = 0.08; // seconds
    double maxRelease = 1.0; // seconds
    SmoothingFilter attackSmoother;
    SmoothingFilter releaseSmoother;
    double attackTime = 0.01; // seconds
    double alphaAttack = 0.0;
    double releaseTime = 0.14; // seconds
    double alphaRelease = 0.0;
    double state = 0.0; // smoothed gain change in dB, shared by both channels
    double sampleRate = 0.0;
    bool autoAttack = false;
    bool autoRelease = false;

    // Beyond these the detector has met no real signal but a broken one (a float near its largest):
    // its state starts again, as after a sample that is not a number, instead of taking many
    // seconds to forget it. A peak of +60 dBFS squared; twice the gain change that peak asks for at
    // the deepest threshold and the highest ratio.
    static constexpr double largestSquaredLevel = 1.0e6;
    static constexpr double deepestGainChangeDb = -260.0;
};
