#pragma once

#include <utility>
#include <vector>

namespace amirun {

// Statistical eye of a link from its pulse response (the response to one bit of +1 V lasting one
// unit interval), for random equiprobable symbols of +-1/2 V (a 1 V swing): at each sampling
// phase the inter-symbol interference of every other cursor, and the crosstalk of every cursor of
// each aggressor's pulse, add as independent +-c/2 terms.
//
// No mass is rounded away: each term's two halves are split between the grid bins on either
// side of their exact place, which keeps every term's mass and mean, and moves a pattern by at
// most max(w, 1 - w) steps for a term w steps past a bin; a term whose half is under one step is
// left out, which moves a pattern by that half, less than rounding it would. Every pattern's
// voltage then lands within `bound` (those moves summed, for each edge) of its exact value, and
// so does every quantile. Eye edges are clamped to what is exact: never inside the
// peak-distortion (worst pattern) edge and never beyond the noiseless main cursor; below the
// worst pattern's probability the eye is the peak-distortion eye.
//
// Phases: `phases` per unit interval, the pulse interpolated linearly between its samples, over
// one unit interval centred where the worst-case (peak-distortion) opening is widest within half
// a unit interval of the pulse's peak, so that an eye off the peak is not cut at its edge.
struct StatisticalEye {
    int samplesPerBit = 0;
    int phases = 0;
    double centreUi = 0.0;  // the phases' centre, unit intervals from the pulse's peak
    // Phase k's sampling instant in unit intervals from the pulse's peak.
    double PhaseUi(int k) const;
    double low = 0.0, high = 0.0;  // the picture's voltage range
    // [phase][row]: probability of each received voltage, both symbols together, in kRows rows.
    std::vector<std::vector<double>> density;
    std::vector<double> ber;      // [phase]: bit error ratio at a threshold of 0 V (the bathtub)
    int bestPhase = 0;            // lowest BER; among equals, the widest inner opening
    double height = 0.0;          // inner opening at the target BER and best phase; <= 0: closed
    double width = 0.0;           // unit intervals whose BER is below the target, around the best
    double peakDistortion = 0.0;  // the worst-pattern opening at the best phase
    double bound = 0.0;  // the most the height can be off its exact value (the noise to its grid)
    // [level][phase]: the inner edge of a received one at each BER of kContourLevels, volts for
    // a 1 V swing (a zero's edge is its mirror image).
    std::vector<std::vector<double>> contours;
    static constexpr int kRows = 256;
    static constexpr double kContourLevels[] = {1e-3, 1e-6, 1e-9, 1e-12, 1e-15};
};

// Noise and jitter for the statistical eye: Gaussian noise convolved into every phase's
// distribution, and the sampling instant's jitter as a mixture of the distributions at the
// instants it reaches, each read from the pulse at that instant itself. With either, the eye's
// edges have real tails and no exact clamp applies.
struct EyeImpairments {
    double noiseSigma = 0.0;  // volts, for the eye's 1 V swing
    // Offsets of the sampling instant in phases (fractions too) and their probabilities; empty:
    // none. An offset beyond half a unit interval samples another bit and is left out.
    std::vector<std::pair<double, double>> jitter;
};

// The order the interference terms are added to each distribution in. The distribution is the
// same either way (each term's two bins do not depend on what came before); smallest first keeps
// its support narrow until the large terms come, which is many times cheaper. The cursors' own
// order is kept for the benchmark that measures the difference.
enum class TermOrder { SmallestFirst, AsTheyCome };

StatisticalEye ComputeStatisticalEye(const std::vector<double>& pulse,
                                     const std::vector<std::vector<double>>& aggressorPulses,
                                     int samplesPerBit, double targetBer, int phases = 64,
                                     int bins = 1 << 16, const EyeImpairments& impairments = {},
                                     TermOrder order = TermOrder::SmallestFirst);

// The one phase convention of every eye, bathtub and plot: a sampling phase is measured in unit
// intervals from the pulse response's peak (the main cursor). Offset k of n phases per unit
// interval lies (k - n / 2) / n unit intervals from the centre of those phases.
double PhaseOfOffset(int offset, int phases);

// The pulse between its samples, linearly; zero outside it.
double PulseAt(const std::vector<double>& pulse, double position);

}  // namespace amirun
