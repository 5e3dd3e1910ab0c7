#pragma once

#include <complex>
#include <cstddef>
#include <vector>

namespace amirun {

// A causal lossy line, H(s) = exp(-k (sqrt(s + a) - sqrt(a))): skin-effect loss above its
// corner a = 2 pi 100 MHz, its DC resistance below, a DC gain of 1, and k chosen for `lossDb` at
// the Nyquist frequency of the bit rate.
std::complex<double> LossyLineResponse(double lossDb, double bitRate, double f);

// Its impulse response sampled every dt: each sample is the closed-form step response's rise
// over the interval divided by dt, so the samples times dt sum to the step at the window's end.
std::vector<double> LossyLineImpulse(double lossDb, double bitRate, double dt, std::size_t length);

}  // namespace amirun
