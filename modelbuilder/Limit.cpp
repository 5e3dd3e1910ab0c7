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

// In chunks: every sample through Apply, except that the arc tangents it asks for are noted and
// computed afterwards, together; then the samples that asked are finished again with theirs.
void LimitChain::ApplyBlock(double* samples, std::size_t count) const {
    constexpr std::size_t kChunk = 256;
    double inputs[kChunk];
    double atans[kChunk];
    std::uint16_t where[kChunk];
    for (std::size_t from = 0; from < count; from += kChunk) {
        const std::size_t n = std::min(kChunk, count - from);
        double* x = samples + from;
        std::size_t needed = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const double input = x[i];
            x[i] = ApplyWith(input, [&] {
                where[needed] = static_cast<std::uint16_t>(i);
                inputs[needed] = input;
                atans[needed++] = (input * soft_.K - soft_.Center) / soft_.Scale;
                return 0.0;
            });
        }
        AtanBlock(atans, atans, needed);
        for (std::size_t k = 0; k < needed; ++k)
            x[where[k]] = ApplyWith(inputs[k], [&] { return atans[k]; });
    }
}

}  // namespace CorvanaModelBuilder
