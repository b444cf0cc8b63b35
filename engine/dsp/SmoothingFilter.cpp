#include "engine/dsp/SmoothingFilter.h"

void SmoothingFilter::process (const double& input) noexcept
{
    if (first)
    {
        state = input;
        first = false;
    }

    state = a * input + b * state;
}
