#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "tools/amirun/host/AmiFile.h"

namespace amirun {

// Noise and jitter of a link: Gaussian voltage noise at the receiver's output, random jitter
// (Gaussian), dual-Dirac deterministic jitter and sinusoidal jitter of the sampling instant.
struct Impairments {
    double noiseRms = 0.0;     // volts
    double rjRms = 0.0;        // unit intervals
    double djPp = 0.0;         // unit intervals, peak to peak
    double sjPp = 0.0;         // unit intervals, peak to peak
    double sjFreq = 0.0;       // hertz
    double sensitivity = 0.0;  // volts a sample must clear the threshold by to be read right
    bool Any() const { return noiseRms > 0.0 || Jitter(); }
    bool Jitter() const { return rjRms > 0.0 || djPp > 0.0 || sjPp > 0.0; }
};

// A jitter or noise term from a model's .ami file (its reserved parameters) or the command
// line, as the run applies it: `value` in `unit` as written, `applied` its share in the run's
// own terms (UI rms or peak to peak, volts).
struct ImpairmentTerm {
    std::string name;    // Tx_Rj, Rx_Noise, ..., or the option (--rj-rms)
    std::string source;  // the .ami file's root name, or "command line"
    double value = 0.0;
    std::string unit;     // "UI", "s", "V", "Hz"
    std::string applied;  // what it adds to: "rj_rms_ui", "dj_pp_ui", ...; empty: not applied
    std::string note;     // why not, or how it was read
};

// The impairments of a link: the command line's with every reserved jitter and noise parameter
// of both models added (independent sources: rms values in quadrature, peak-to-peak values and
// the sensitivity summed). The IBIS half-widths (Dj, DCD, Sj) count twice as peak to peak; a
// Float time is seconds, turned into UI at `bitRate`. Throws AmiFileError for a value that is
// no finite non-negative number, or a total beyond what the command line accepts.
Impairments LinkImpairmentsOf(const AmiModelDescription& tx, const AmiModelDescription& rx,
                              double bitRate, const Impairments& commandLine,
                              std::vector<ImpairmentTerm>* terms = nullptr);

// The jitter's distribution on a grid of `phases` per unit interval: offsets in phases with
// their probabilities, summing to 1 (random jitter out to 14 sigma). `truncated` gets the mass that
// lay beyond half a unit interval, which is left out. With `withoutDj`, the dual-Dirac part is
// left to EyeJitter, which places it exactly.
std::vector<std::pair<int, double>> JitterWeights(const Impairments& impairments, int phases,
                                                  double* truncated = nullptr,
                                                  bool withoutDj = false);

// The jitter of the statistical eye: offsets of the sampling instant in phases of `phases` per
// unit interval, with their probabilities. Random and sinusoidal jitter on a grid
// kEyeJitterSubphases times finer than the phases (each value split between the two points
// around it, keeping its mean), the dual-Dirac at its exact offsets, convolved together.
inline constexpr int kEyeJitterSubphases = 8;
std::vector<std::pair<double, double>> EyeJitter(const Impairments& impairments, int phases);

// Adds Gaussian noise of `rms` to every sample, from a fixed seed: runs repeat.
void AddNoise(std::vector<double>& wave, double rms, unsigned seed = 1);

// The sampling instant's offset of each bit, in unit intervals: random, dual-Dirac and
// sinusoidal jitter at `bitRate`, from a fixed seed.
std::vector<double> JitterOffsets(std::size_t bits, const Impairments& impairments, double bitRate,
                                  unsigned seed = 2);

}  // namespace amirun
