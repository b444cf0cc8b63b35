#include "engine/dsp/GainComputer.h"
#include "engine/dsp/VectorMath.h"

#include <cfloat>
#include <cmath>

MORVIK_VECTOR_CLONES void GainComputer::applyCompressionToBuffer (float* buffer, int numSamples) const noexcept
{
    const float twiceKnee = 2.0f * knee;
    const float lowerKnee = -kneeHalf, upperKnee = kneeHalf, threshold_ = threshold, slope_ = slope;

    // Written without branches so that the loop vectorises; every case is computed and selected.
    for (int i = 0; i < numSamples; ++i)
    {
        // The comparisons are written so that a NaN level reads as the floor and an infinite one as
        // the largest finite level: a broken side-chain then cannot push a non-finite value into
        // the ballistics, and no finite level is affected.
        float x = std::abs (buffer[i]);
        x = x > 1.0e-6f ? x : 1.0e-6f;
        x = x < FLT_MAX ? x : FLT_MAX;

        float level = vmath::levelToDecibels (x);
        level = level > -100.0f ? level : -100.0f;

        const float over = level - threshold_;
        const float intoKnee = over + upperKnee;
        const float inKnee = slope_ * intoKnee * intoKnee / twiceKnee;
        const float above = slope_ * over;

        buffer[i] = over <= lowerKnee ? 0.0f : (over <= upperKnee ? inKnee : above);
    }
}
