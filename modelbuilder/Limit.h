#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "modelbuilder/Atan.h"
#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/DFModel.h"

namespace CorvanaModelBuilder {

// Gain K, then confinement to [Bottom, Top]: clipping (Characteristic 0) or an arctangent that
// approaches the edges smoothly (any other value; our own Atan, the same bits everywhere). A zero K
// or an empty band is an error at the first Initialize and is repaired, with a warning, at every
// later check.
class LimitBase : public DFModel {
public:
    bool Initialize() override;
    bool Finalize() override { return true; }
    bool CheckParameters() override;
    bool Run() override = 0;

    bool CheckLimits();

    // One sample through the characteristic, exactly as Run computes it; block paths call this
    // too, so both give the same bits.
    double Apply(double x) const {
        return ApplyWith(x, [&] { return Atan((x * K - Center) / Scale); });
    }
    // Apply with the arc tangent of (x K - Center) / Scale from atanOfArgument(), called only
    // where Apply needs it: the block form computes it ahead, for many samples at once.
    template <class AtanOfArgument>
    double ApplyWith(double x, AtanOfArgument atanOfArgument) const {
        const double v = x * K;
        if (Characteristic == 0) return v > Top ? Top : (v < Bottom ? Bottom : v);
        const double d = v - Center;
        if (std::fabs(d) < std::numeric_limits<double>::min()) return Center;
        if (std::fabs(d) > Scale * AtanSaturation)
            return v > Center ? Center + Scale * kHalfPi : Center - Scale * kHalfPi;
        return Center + Scale * atanOfArgument();
    }

    static constexpr double kHalfPi = 1.5707963267948966;
    // tan of the double two units in the last place below pi/2: beyond Scale times this the atan
    // is within rounding of its limit, so it is not evaluated. Computed once at load.
    static const double AtanSaturation;

    double K = 1.0;
    double Bottom = 0.0;
    double Top = 1.0;
    std::int32_t Characteristic = 0;
    double Scale = 0.0;
    double Center = 0.0;
    bool Initialized = false;
};

// One element in, one element out per firing, at the ports' Positions. Never fails.
class Limit : public LimitBase {
public:
    bool Run() override {
        Output.Current() = Apply(Input.Current());
        return true;
    }

    CircularBuffer<double> Input;
    CircularBuffer<double> Output;
};

// A soft (atan) limiter followed by a hard (clipping) one, as Run fires them. Where the soft
// output is sure to lie beyond the hard band, the hard limiter returns exactly its edge, so the
// atan need not be evaluated. The soft output is Center + Scale atan(d / Scale), d = v - Center,
// v = x K (or Center +- Scale pi/2 where it saturates), increasing in v. With Center 0, hard gain
// 1 and hard edges within kReach Scale of 0: for v at or beyond kThreshold Scale the soft output
// is at least Scale atan(1.001) = 0.785898 Scale, less a few ulp of rounding in the division,
// the atan and the product, so strictly beyond the edge, and the hard limiter returns the edge
// itself; likewise below -kThreshold Scale. A NaN fails both comparisons and takes the formula.
class LimitChain {
public:
    static constexpr double kThreshold = 1.001;
    static constexpr double kReach = 0.78565;  // pi/4 = 0.785398 < kReach < atan(1.001)

    LimitChain(const Limit& soft, const Limit& hard) : soft_(soft), hard_(hard) {
        const double reach = kReach * soft.Scale;
        shortcut_ = soft.Characteristic != 0 && soft.Center == 0.0 &&
                    soft.Scale >= std::numeric_limits<double>::min() && hard.Characteristic == 0 &&
                    hard.K == 1.0 && hard.Top <= reach && hard.Bottom >= -reach;
        threshold_ = kThreshold * soft.Scale;
    }
    // Whether the edges are returned without the atan beyond the threshold.
    bool Shortcut() const { return shortcut_; }
    double Threshold() const { return threshold_; }

    double Apply(double x) const {
        return ApplyWith(x, [&] { return Atan((x * soft_.K - soft_.Center) / soft_.Scale); });
    }
    template <class AtanOfArgument>
    double ApplyWith(double x, AtanOfArgument atanOfArgument) const {
        if (shortcut_) {
            const double v = x * soft_.K;
            if (v >= threshold_) return hard_.Top;
            if (v <= -threshold_) return hard_.Bottom;
        }
        return hard_.Apply(soft_.ApplyWith(x, atanOfArgument));
    }
    // Apply on every sample in place, the soft limiter's arc tangents four lanes at a time: the
    // same operations on every sample, so the same bits. Allocates nothing.
    void ApplyBlock(double* samples, std::size_t count) const;

private:
    const Limit& soft_;
    const Limit& hard_;
    bool shortcut_ = false;
    double threshold_ = 0.0;
};

}  // namespace CorvanaModelBuilder
