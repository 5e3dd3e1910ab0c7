#pragma once

#include <vector>

namespace amirun {

// y[n] = dt * sum_k h[k] x[n - k], truncated to the length of x (a causal filter on a waveform).
// Convolve picks overlap-add FFT convolution (FFTW) from 16 taps on, where the convolution
// benchmark measured it faster than the direct sum; the two agree to rounding.
std::vector<double> Convolve(const std::vector<double>& x, const std::vector<double>& h, double dt);
std::vector<double> ConvolveDirect(const std::vector<double>& x, const std::vector<double>& h,
                                   double dt);
std::vector<double> ConvolveFft(const std::vector<double>& x, const std::vector<double>& h,
                                double dt);

}  // namespace amirun
