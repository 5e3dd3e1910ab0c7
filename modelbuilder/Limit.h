#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/DFModel.h"

namespace CorvanaModelBuilder {

// Gain K, then confinement to [Bottom, Top]: clipping (Characteristic 0) or an arctangent that
// approaches the edges smoothly (any other value). A zero K or an empty band is an error at the
// first Initialize and is repaired, with a warning, at every later check.
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
        const double v = x * K;
        if (Characteristic == 0) return v > Top ? Top : (v < Bottom ? Bottom : v);
        const double d = v - Center;
        if (std::fabs(d) < std::numeric_limits<double>::min()) return Center;
        if (std::fabs(d) > Scale * AtanSaturation)
            return v > Center ? Center + Scale * kHalfPi : Center - Scale * kHalfPi;
        return Center + Scale * std::atan(d / Scale);
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
// atan need not be evaluated. That holds when the soft band is centred on 0, the hard gain is 1
// and the hard edges lie within 0.9 Scale of 0: for v = x K at or beyond 1.5 Scale the soft
// output is Scale atan(v / Scale) >= 0.98 Scale (atan(1.5) = 0.9828, and rounding moves it by a
// few ulp), or Scale pi/2 where it saturates, so strictly beyond the edge; likewise below
// -1.5 Scale. A NaN fails both comparisons and takes the full formula.
class LimitChain {
public:
    LimitChain(const Limit& soft, const Limit& hard) : soft_(soft), hard_(hard) {
        const double reach = 0.9 * soft.Scale;
        shortcut_ = soft.Characteristic != 0 && soft.Center == 0.0 && soft.Scale > 0.0 &&
                    hard.Characteristic == 0 && hard.K == 1.0 && hard.Top <= reach &&
                    hard.Bottom >= -reach;
        threshold_ = 1.5 * soft.Scale;
    }
    double Apply(double x) const {
        if (shortcut_) {
            const double v = x * soft_.K;
            if (v >= threshold_) return hard_.Top;
            if (v <= -threshold_) return hard_.Bottom;
        }
        return hard_.Apply(soft_.Apply(x));
    }

private:
    const Limit& soft_;
    const Limit& hard_;
    bool shortcut_ = false;
    double threshold_ = 0.0;
};

}  // namespace CorvanaModelBuilder
