#pragma once

#include <cmath>
#include <cstdint>
#include <limits>

namespace CorvanaModelBuilder {

// Truncation toward zero. A value whose truncation does not fit, an infinity and a NaN give
// INT32_MIN, the value the hardware's truncating conversion produces; the plain cast would be
// undefined behaviour.
inline std::int32_t TruncateToInt32(double value) {
    if (value > -2147483649.0 && value < 2147483648.0) return static_cast<std::int32_t>(value);
    return std::numeric_limits<std::int32_t>::min();
}

// Round half away from zero, clamp to the 32-bit range; NaN gives INT32_MIN.
inline std::int32_t RoundToInt32Clamped(double value) {
    const double x = std::round(value);
    if (x > 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (x < -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    if (std::isnan(x)) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(x);
}

}  // namespace CorvanaModelBuilder
