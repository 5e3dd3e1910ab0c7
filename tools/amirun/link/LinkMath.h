#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/amirun/io/Plot.h"
#include "tools/amirun/link/Signal.h"
#include "tools/amirun/link/StatEye.h"

namespace amirun {

// The impulse response of a transmitter from its response to a step of `probe` volts through
// AMI_GetWave: the step's differences over probe and dt.
std::vector<double> ImpulseFromStep(const std::vector<double>& stepOutput, double probe, double dt);

// The worst sum each aggressor can add at the victim's sampling instant, for symbols of
// +-swing/2: swing/2 times the sum of |cursor| on the victim's sampling grid. The victim samples
// `phaseUi` unit intervals from its pulse's peak (the eye's phase convention).
std::vector<double> WorstCrosstalk(const std::vector<double>& victimPulse,
                                   const std::vector<std::vector<double>>& aggressorPulses,
                                   int samplesPerBit, double phaseUi, double swing);

// BER against sampling phase, phases ascending, log10 floored at `floorLog10`.
struct Bathtub {
    std::vector<double> phaseUi;
    std::vector<double> log10Ber;
};
Bathtub BathtubOf(const StatisticalEye& eye, double floorLog10);

// The statistical eye's probabilities as a picture of two unit intervals with the best phase in
// the middle, `rows` voltage rows, scaled by `scale` and by `swing` volts.
EyeDensity StatisticalDensity(const StatisticalEye& eye, int rows, double scale, double swing);

// The inner edges of the eye at each contour level of the statistical eye, as lines over the
// picture of StatisticalDensity (two unit intervals, the best phase at 0, 1 and 2), in volts for
// `swing`; the upper line of each level is labelled "BER 1e-12" and so on.
std::vector<Series> StatisticalContours(const StatisticalEye& eye, double swing);

// The index of the best of the values (the highest; the first among equals); 0 when empty.
std::size_t BestIndex(const std::vector<double>& values);

}  // namespace amirun
