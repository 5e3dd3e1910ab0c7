#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace amirun {

// Noise and jitter of a link: Gaussian voltage noise at the receiver's output, random jitter
// (Gaussian), dual-Dirac deterministic jitter and sinusoidal jitter of the sampling instant.
struct Impairments {
    double noiseRms = 0.0;  // volts
    double rjRms = 0.0;     // unit intervals
    double djPp = 0.0;      // unit intervals, peak to peak
    double sjPp = 0.0;      // unit intervals, peak to peak
    double sjFreq = 0.0;    // hertz
    bool Any() const { return noiseRms > 0.0 || Jitter(); }
    bool Jitter() const { return rjRms > 0.0 || djPp > 0.0 || sjPp > 0.0; }
};

// The jitter's distribution on a grid of `phases` per unit interval: offsets in phases with
// their probabilities, summing to 1 (random jitter out to 8 sigma). `truncated` gets the mass that
// lay beyond half a unit interval, which is left out.
std::vector<std::pair<int, double>> JitterWeights(const Impairments& impairments, int phases,
                                                  double* truncated = nullptr);

// Adds Gaussian noise of `rms` to every sample, from a fixed seed: runs repeat.
void AddNoise(std::vector<double>& wave, double rms, unsigned seed = 1);

// The sampling instant's offset of each bit, in unit intervals: random, dual-Dirac and
// sinusoidal jitter at `bitRate`, from a fixed seed.
std::vector<double> JitterOffsets(std::size_t bits, const Impairments& impairments, double bitRate,
                                  unsigned seed = 2);

}  // namespace amirun
