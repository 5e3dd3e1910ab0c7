#include "tools/amirun/channel/BuiltInLine.h"

#include <cmath>

namespace amirun {

namespace {

constexpr double kCorner = 2 * M_PI * 100e6;  // where DC resistance takes over from skin effect

// k of exp(-k (sqrt(s + a) - sqrt(a))) for lossDb at the Nyquist frequency.
double LineConstant(double lossDb, double bitRate) {
    const double nepers = lossDb / (20.0 * std::log10(std::exp(1.0)));
    const std::complex<double> s(kCorner, 2 * M_PI * bitRate / 2.0);
    return nepers / (std::sqrt(s).real() - std::sqrt(kCorner));
}

}  // namespace

std::complex<double> LossyLineResponse(double lossDb, double bitRate, double f) {
    const double k = LineConstant(lossDb, bitRate);
    return std::exp(-k *
                    (std::sqrt(std::complex<double>(kCorner, 2 * M_PI * f)) - std::sqrt(kCorner)));
}

std::vector<double> LossyLineImpulse(double lossDb, double bitRate, double dt, std::size_t length) {
    // The step response of exp(-k sqrt(s + a)) / s, times exp(k sqrt(a)), is 1 - Q(t) with
    // Q = (erfc(sqrt(a t) - k / 2 sqrt(t)) - exp(2 k sqrt(a)) erfc(k / 2 sqrt(t) + sqrt(a t))) / 2.
    // Differences of Q keep their precision in the tail, where the step is within 1e-16 of 1.
    const double k = LineConstant(lossDb, bitRate);
    const double grow = std::exp(2.0 * k * std::sqrt(kCorner));
    auto remaining = [&](double t) {
        if (t <= 0.0) return 1.0;
        if (k <= 0.0) return 0.0;
        const double x = k / (2.0 * std::sqrt(t)), y = std::sqrt(kCorner * t);
        return 0.5 * (std::erfc(y - x) - grow * std::erfc(x + y));
    };
    std::vector<double> h(length);
    for (std::size_t n = 0; n < length; ++n)
        h[n] = (remaining(double(n) * dt) - remaining(double(n + 1) * dt)) / dt;
    return h;
}

}  // namespace amirun
