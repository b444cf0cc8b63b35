#include "engine/GainComputer.h"

#include <cfloat>
#include <cmath>

void GainComputer::applyCompressionToBuffer (float* buffer, int numSamples) const noexcept
{
    const float twiceKnee = 2.0f * knee;

    for (int i = 0; i < numSamples; ++i)
    {
        // The comparisons are written so that a NaN level reads as the floor and an infinite one as
        // the largest finite level: a broken side-chain then cannot push a non-finite value into
        // the ballistics, and no finite level is affected.
        float x = std::abs (buffer[i]);
        x = x > 1.0e-6f ? x : 1.0e-6f;
        x = x < FLT_MAX ? x : FLT_MAX;

        float level = 20.0f * std::log10 (x);
        level = level > -100.0f ? level : -100.0f;

        const float over = level - threshold;

        if (over <= -kneeHalf)
        {
            buffer[i] = 0.0f;
        }
        else if (over <= kneeHalf)
        {
            const float intoKnee = over + kneeHalf;
            buffer[i] = slope * intoKnee * intoKnee / twiceKnee;
        }
        else
        {
            buffer[i] = slope * over;
        }
    }
}
