#include "engine/dsp/LevelDetector.h"
#include "engine/dsp/VectorMath.h"

#include <algorithm>
#include <cmath>

namespace
{
// exp (-1 / (seconds x sampleRate)), and 0 (follow at once) whenever that product is not a positive
// number, so that a zero, negative or unprepared time can never yield a coefficient above 1.
double coefficientFor (double seconds, double sampleRate) noexcept
{
    const double samples = seconds * sampleRate;
    return samples > 0.0 ? std::exp (-1.0 / samples) : 0.0;
}

void restartIfNotFinite (SmoothingFilter& filter) noexcept
{
    if (! std::isfinite (filter.state))
    {
        filter.state = 0.0;
        filter.first = true;
    }
}
} // namespace

void LevelDetector::prepare (double newSampleRate) noexcept
{
    sampleRate = newSampleRate;

    a1 = coefficientFor (0.2, sampleRate);
    b1 = 1.0 - a1;

    attackSmoother.a = 1.0;
    attackSmoother.b = 0.0;
    releaseSmoother.a = 1.0;
    releaseSmoother.b = 0.0;

    alphaAttack = coefficientFor (attackTime, sampleRate);
    alphaRelease = coefficientFor (releaseTime, sampleRate);

    state = 0.0;
}

void LevelDetector::setAttack (const double& seconds) noexcept
{
    if (seconds == attackTime || ! std::isfinite (seconds))
        return;

    attackTime = seconds;
    alphaAttack = coefficientFor (attackTime, sampleRate);
}

void LevelDetector::setRelease (const double& seconds) noexcept
{
    if (seconds == releaseTime || ! std::isfinite (seconds))
        return;

    releaseTime = seconds;
    alphaRelease = coefficientFor (releaseTime, sampleRate);
}

MORVIK_VECTOR_CLONES void LevelDetector::processCrestFactor (const float* buffer, int numSamples) noexcept
{
    if (! autoAttack && ! autoRelease)
        return;

    // An empty block has no average; the times stay as they are.
    if (numSamples <= 0)
        return;

    // A track that is exactly 0 (a fresh detector, or one that decayed through a long silence)
    // starts again from the block's first value.
    if (peakState == 0.0)
        peakState = (double) buffer[0];

    if (rmsState == 0.0)
        rmsState = (double) buffer[0];

    double attackSum = 0.0;
    double releaseSum = 0.0;
    const double twiceMaxAttack = 2.0 * maxAttack, twiceMaxRelease = 2.0 * maxRelease;

    for (int i = 0; i < numSamples; ++i)
    {
        const double x = (double) buffer[i];
        const double s = x * x;

        peakState = std::max (a1 * peakState + b1 * s, s);
        rmsState = a1 * rmsState + b1 * s;

        // The crest factor squared is peak / mean; the candidates divide by it, so one division by
        // the peak serves both. Silence (0/0) and a track that is not a number are skipped.
        if (peakState > 0.0 && rmsState >= 0.0)
        {
            const double inverseCrest = rmsState / peakState;
            const double attack = twiceMaxAttack * inverseCrest;
            attackSum += attack;
            releaseSum += twiceMaxRelease * inverseCrest - attack;
        }
    }

    // Non-finite input must not stick in the tracks: they restart from the next block's first value.
    // So does a level no real signal reaches (a float near its largest), which the tracks would
    // take many seconds to forget.
    if (! (peakState <= largestSquaredLevel) || ! std::isfinite (rmsState))
    {
        peakState = 0.0;
        rmsState = 0.0;
    }

    // Skipped samples still count in the average.
    const double newAttack = attackSum / numSamples;
    const double newRelease = releaseSum / numSamples;

    if (! std::isfinite (newAttack) || ! std::isfinite (newRelease))
        return;

    avgAttack = newAttack;
    avgRelease = newRelease;

    attackSmoother.process (avgAttack);
    releaseSmoother.process (avgRelease);
    restartIfNotFinite (attackSmoother);
    restartIfNotFinite (releaseSmoother);

    if (autoAttack)
        setAttack (attackSmoother.state);

    if (autoRelease)
        setRelease (releaseSmoother.state);
}

MORVIK_VECTOR_CLONES void LevelDetector::applyBallistics (float* buffer, int numSamples) noexcept
{
    const double attackCoefficient = alphaAttack, attackInput = 1.0 - alphaAttack;
    const double releaseCoefficient = alphaRelease, releaseInput = 1.0 - alphaRelease;

#if defined(__GNUC__)
    // Both steps are computed and one is chosen by a mask, so that the comparison neither lengthens
    // the recurrence nor becomes a branch: written as a plain conditional the compiler emits a jump,
    // which a noisy gain change mispredicts every few samples. Both lanes carry the same value.
    using Double2 = double __attribute__ ((vector_size (16)));
    using Mask2 = long long __attribute__ ((vector_size (16)));

    Double2 current = { state, state };

    for (int i = 0; i < numSamples; ++i)
    {
        const double sample = (double) buffer[i];
        const Double2 x = { sample, sample };

        // A deeper gain change than the state is an attack.
        const Double2 attacked = attackCoefficient * current + attackInput * x;
        const Double2 released = releaseCoefficient * current + releaseInput * x;
        const Mask2 deeper = current > x;
        current = (Double2) ((deeper & (Mask2) attacked) | (~deeper & (Mask2) released));
        buffer[i] = (float) current[0];
    }

    state = std::isfinite (current[0]) && current[0] >= deepestGainChangeDb ? current[0] : 0.0;
#else
    double current = state;

    for (int i = 0; i < numSamples; ++i)
    {
        const double x = (double) buffer[i];
        const double attacked = attackCoefficient * current + attackInput * x;
        const double released = releaseCoefficient * current + releaseInput * x;
        current = current > x ? attacked : released;
        buffer[i] = (float) current;
    }

    state = std::isfinite (current) && current >= deepestGainChangeDb ? current : 0.0;
#endif
}
