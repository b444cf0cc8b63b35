#pragma once

// One-pole smoother: state := a x input + b x state. The very first input seeds the state, so the
// filter starts from the signal instead of ramping up from zero.
class SmoothingFilter
{
public:
    // Advances the filter by one value; read the result from `state`.
    void process (const double& input) noexcept;

    double a = 1.0; // weight of the new input
    double b = 0.0; // weight of the previous state
    double state = 0.0; // the output
    bool first = true; // the next input seeds the state
};
