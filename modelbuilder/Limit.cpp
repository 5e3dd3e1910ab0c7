#include "modelbuilder/Limit.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace CorvanaModelBuilder {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kSmallest = std::numeric_limits<double>::min();
constexpr double kEpsilon = std::numeric_limits<double>::epsilon();
}  // namespace

const double LimitBase::AtanSaturation = std::tan(1.5707963267948961);

bool LimitBase::CheckLimits() {
    if (std::fabs(K) < kSmallest) {
        if (!Initialized) {
            ReportError("K != 0.0");
            return false;
        }
        ReportWarning("K != 0.0");
        K = kSmallest;
    }
    if (!(Top > Bottom)) {
        if (!Initialized) {
            ReportError("Top must be > Bottom");
            return false;
        }
        ReportWarning("Top must be > Bottom");
        Top = Bottom + std::max(kSmallest, std::fabs(Bottom) * kEpsilon);
    }
    Scale = (Top - Bottom) / kPi;
    Center = (Bottom + Top) * 0.5;
    return true;
}

bool LimitBase::Initialize() {
    const bool ok = CheckLimits();
    Initialized = true;
    return ok;
}

bool LimitBase::CheckParameters() {
    if (Characteristic < 0) {
        ReportWarning("reset to linear");
        Characteristic = 0;
    } else if (Characteristic > 1) {
        ReportWarning("reset to atan");
        Characteristic = 1;
    }
    return CheckLimits();
}

}  // namespace CorvanaModelBuilder
