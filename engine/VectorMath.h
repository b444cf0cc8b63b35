#pragma once

#include <cstdint>
#include <cstring>

// Logarithms and exponentials of float samples that the compiler can vectorise: the C library's
// logf, powf and expf are calls it cannot, and they dominated the compressor and colour stage.
//
// Both are evaluated in double precision with a relative error below 1e-10 (the log2 series is cut
// after t^11 with |t| <= 0.1716, leaving t^12/13 < 5e-11; the exp2 series after u^9 with
// |u| <= 0.3466, leaving u^10/10! < 7e-12), so the float a caller rounds the result to is within
// half a float step of the exact value plus 1e-10: at most one float step (2^-23 relative,
// 1.04e-6 dB) from what the C library's float functions give, and equal to it unless the exact value
// lies within 1e-10 of a rounding boundary. Everything is branch-free: no table, no early return.
// Inlined into the loops that call them, which is what lets those loops vectorise.
#if defined(__GNUC__)
#define MORVIK_VECTOR_INLINE inline __attribute__ ((always_inline))
#else
#define MORVIK_VECTOR_INLINE inline
#endif

// The loops that use these functions are built twice, for the x86-64 baseline and for x86-64-v3
// (AVX2: twice the lanes, and fused multiply-add, which halves the work of the series), and the
// loader picks the one the processor can run. A fused step rounds once where the separate steps
// round twice: the double-precision result moves by a few double steps (1e-15 relative) at most, so
// the error bound below still holds and the float a caller rounds to is the same unless the exact
// value lies within 1e-15 of a float rounding boundary, and then one float step away. The float
// multiply-adds of those loops (Grain's polynomial, the compressor's stereo link) fuse as well and
// may round one float step differently; the whole-chain yardstick test bounds what reaches the output.
#if defined(__GNUC__) && defined(__x86_64__) && ! defined(__clang__) && ! defined(__SANITIZE_ADDRESS__) \
    && ! defined(__SANITIZE_THREAD__)
#define MORVIK_VECTOR_CLONES __attribute__ ((target_clones ("arch=x86-64-v3", "default")))
#else
#define MORVIK_VECTOR_CLONES
#endif

namespace vmath
{
// Four float lanes, for loops that carry one recurrence per channel: the channels' identical
// operations run as one packed instruction, lane by lane with the same rounding as the scalar
// operation, so the results are bit for bit those of one channel after the other.
using Float4 = float __attribute__ ((vector_size (16)));
using Mask4 = std::int32_t __attribute__ ((vector_size (16)));

MORVIK_VECTOR_INLINE Float4 abs (Float4 x) noexcept { return (Float4) ((Mask4) x & 0x7fffffff); }

// Lane by lane: whenTrue where the mask is set, else whenFalse. No branch.
MORVIK_VECTOR_INLINE Float4 select (Mask4 mask, Float4 whenTrue, Float4 whenFalse) noexcept
{
    return (Float4) ((mask & (Mask4) whenTrue) | (~mask & (Mask4) whenFalse));
}

// log2 (x) for a positive, finite, normal float. Other inputs give a finite but meaningless value,
// which callers select away.
MORVIK_VECTOR_INLINE double log2 (float x) noexcept
{
    std::uint32_t bits;
    std::memcpy (&bits, &x, sizeof (bits));
    int exponent = (int) (bits >> 23) - 127;
    bits = (bits & 0x007fffffu) | 0x3f800000u;
    float mantissa;
    std::memcpy (&mantissa, &bits, sizeof (mantissa));

    // The mantissa folded into [sqrt (1/2), sqrt (2)), where the series below converges fast.
    double m = (double) mantissa;
    const bool upper = m > 1.4142135623730951;
    m = upper ? m * 0.5 : m;
    exponent = upper ? exponent + 1 : exponent;

    // ln (m) = 2 atanh (t) = 2 (t + t^3/3 + t^5/5 + ...), t = (m - 1) / (m + 1).
    const double t = (m - 1.0) / (m + 1.0);
    const double t2 = t * t;
    double series = 1.0 / 11.0;
    series = series * t2 + 1.0 / 9.0;
    series = series * t2 + 1.0 / 7.0;
    series = series * t2 + 1.0 / 5.0;
    series = series * t2 + 1.0 / 3.0;
    series = series * t2 + 1.0;

    return (double) exponent + 2.8853900817779268 * t * series; // 2 / ln 2
}

// 2^z, with z clamped to the float range [-126, 127]: results that small are zero to any audio.
// Not-a-number in gives not-a-number out.
MORVIK_VECTOR_INLINE double exp2 (double z) noexcept
{
    z = z < -126.0 ? -126.0 : z;
    z = z > 127.0 ? 127.0 : z;

    // Round to nearest by the 1.5 x 2^52 trick, which exact float arithmetic leaves intact.
    constexpr double shifter = 6755399441055744.0;
    const double n = (z + shifter) - shifter;
    const double u = (z - n) * 0.6931471805599453; // ln 2

    double p = 1.0 / 362880.0; // 1/9!
    p = p * u + 1.0 / 40320.0;
    p = p * u + 1.0 / 5040.0;
    p = p * u + 1.0 / 720.0;
    p = p * u + 1.0 / 120.0;
    p = p * u + 1.0 / 24.0;
    p = p * u + 1.0 / 6.0;
    p = p * u + 0.5;
    p = p * u + 1.0;
    p = p * u + 1.0;

    // 2^n as a float built from its exponent bits.
    const std::uint32_t scaleBits = (std::uint32_t) ((int) n + 127) << 23;
    float scale;
    std::memcpy (&scale, &scaleBits, sizeof (scale));
    return p * (double) scale;
}

// 10^(decibels / 20) as the framework's decibelsToGain with a floor of -100 dB computes it (the
// product decibels x 0.05 in float, then the power), and exactly 0 at or below the floor.
MORVIK_VECTOR_INLINE float decibelsToGain (float decibels) noexcept
{
    const float exponent = decibels * 0.05f;
    const float gain = (float) exp2 ((double) exponent * 3.3219280948873622); // log2 (10)
    return decibels > -100.0f ? gain : 0.0f;
}

// 20 log10 (x) for a positive, finite, normal float.
MORVIK_VECTOR_INLINE float gainToDecibels (float x) noexcept
{
    return (float) (log2 (x) * 6.0205999132796239); // 20 log10 (2)
}

// e^x for a float, as the C library's expf gives it within one float step.
MORVIK_VECTOR_INLINE float exp (float x) noexcept { return (float) exp2 ((double) x * 1.4426950408889634); }

// x^y for x >= 1 finite and y < 0 (pow (inf, y) = 0 and not-a-number are passed on).
MORVIK_VECTOR_INLINE float powPositive (float x, float y) noexcept
{
    const float result = (float) exp2 ((double) y * log2 (x));
    const float limit = x == x ? 0.0f : x;
    return x < 3.4028234663852886e38f ? result : limit;
}
} // namespace vmath
