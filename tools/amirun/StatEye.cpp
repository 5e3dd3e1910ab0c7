#include "tools/amirun/StatEye.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace amirun {
namespace {

// Adds a term of +-c/2, each with probability 1/2, to a distribution on the grid.
void AddSymbolTerm(std::vector<double>& pdf, double c, double step) {
    const auto shift = static_cast<long>(std::lround(0.5 * c / step));
    if (shift == 0) return;
    std::vector<double> next(pdf.size(), 0.0);
    const long size = static_cast<long>(pdf.size());
    for (long i = 0; i < size; ++i) {
        if (pdf[static_cast<std::size_t>(i)] == 0.0) continue;
        const double half = 0.5 * pdf[static_cast<std::size_t>(i)];
        const long up = std::clamp(i + shift, 0L, size - 1);
        const long down = std::clamp(i - shift, 0L, size - 1);
        next[static_cast<std::size_t>(up)] += half;
        next[static_cast<std::size_t>(down)] += half;
    }
    pdf.swap(next);
}

// The largest sum of |cursor| / 2 over the cursors of one phase, victim and aggressors.
double Reach(const std::vector<double>& pulse,
             const std::vector<std::vector<double>>& aggressorPulses, long spb) {
    double reach = 0.0;
    for (long phase = 0; phase < spb; ++phase) {
        double sum = 0.0;
        for (long k = phase; k < long(pulse.size()); k += spb)
            sum += 0.5 * std::fabs(pulse[std::size_t(k)]);
        for (const auto& aggressor : aggressorPulses)
            for (long k = phase; k < long(aggressor.size()); k += spb)
                sum += 0.5 * std::fabs(aggressor[std::size_t(k)]);
        reach = std::max(reach, sum);
    }
    return reach;
}

// Width of the run of phases whose BER is below the target, around the best phase.
double OpenWidth(const std::vector<double>& ber, long best, double targetBer) {
    const long spb = long(ber.size());
    if (!(ber[std::size_t(best)] < targetBer)) return 0.0;
    long open = 1;
    for (long k = 1; k < spb && ber[std::size_t((best + k) % spb)] < targetBer; ++k) ++open;
    for (long k = 1; open < spb && ber[std::size_t((best - k + spb) % spb)] < targetBer; ++k)
        ++open;
    return double(open) / double(spb);
}

}  // namespace

StatisticalEye ComputeStatisticalEye(const std::vector<double>& pulse,
                                     const std::vector<std::vector<double>>& aggressorPulses,
                                     int samplesPerBit, double targetBer, int bins) {
    StatisticalEye eye;
    eye.samplesPerBit = samplesPerBit;
    if (pulse.empty() || samplesPerBit < 1 || bins < 3) return eye;
    const long size = static_cast<long>(pulse.size());
    const long spb = samplesPerBit;
    const long peak =
        static_cast<long>(std::max_element(pulse.begin(), pulse.end()) - pulse.begin());
    // The grid spans every voltage any pattern can reach at any phase.
    double reach = Reach(pulse, aggressorPulses, spb);
    reach = std::max(reach, 1e-9) * 1.05;
    eye.low = -reach;
    eye.high = reach;
    const double step = (eye.high - eye.low) / double(bins - 1);
    const auto zero = static_cast<std::size_t>(bins / 2);  // the bin of 0 V

    std::vector<double> lowerOne(static_cast<std::size_t>(spb), 0.0);
    std::vector<double> upperZero(static_cast<std::size_t>(spb), 0.0);
    for (long offset = 0; offset < spb; ++offset) {
        // Sampling phases from half a unit interval before the peak, as the peak-distortion eye.
        const long main = peak - spb / 2 + offset;
        std::vector<double> isi(static_cast<std::size_t>(bins), 0.0);
        isi[zero] = 1.0;
        const double c0 = main >= 0 && main < size ? pulse[static_cast<std::size_t>(main)] : 0.0;
        for (long k = ((main % spb) + spb) % spb; k < size; k += spb)
            if (k != main) AddSymbolTerm(isi, pulse[static_cast<std::size_t>(k)], step);
        for (const auto& aggressor : aggressorPulses)
            for (long k = ((main % spb) + spb) % spb; k < long(aggressor.size()); k += spb)
                AddSymbolTerm(isi, aggressor[static_cast<std::size_t>(k)], step);
        // The received voltage for a 1 is c0/2 + ISI, for a 0 it is -c0/2 + ISI.
        const long half = std::lround(0.5 * c0 / step);
        std::vector<double> received(static_cast<std::size_t>(bins), 0.0);
        double errors = 0.0;
        double below = 0.0;  // P(one <= v) as v rises
        bool foundOne = false;
        double one = 0.0;
        for (long i = 0; i < bins; ++i) {
            const double p = isi[static_cast<std::size_t>(i)];
            if (p == 0.0) continue;
            const long asOne = std::clamp(i + half, 0L, long(bins) - 1);
            const long asZero = std::clamp(i - half, 0L, long(bins) - 1);
            received[static_cast<std::size_t>(asOne)] += 0.5 * p;
            received[static_cast<std::size_t>(asZero)] += 0.5 * p;
            // A 1 below 0 V is an error; by symmetry a 0 above it is one too.
            if (asOne < long(zero)) errors += p;
            below += p;
            if (!foundOne && below > targetBer) {
                foundOne = true;
                one = eye.low + double(asOne) * step;
            }
        }
        eye.density.push_back(received);
        eye.ber.push_back(errors);
        lowerOne[static_cast<std::size_t>(offset)] = one;
        upperZero[static_cast<std::size_t>(offset)] = -one;
    }
    // The best phase: the lowest BER, then the widest inner opening.
    for (long offset = 1; offset < spb; ++offset) {
        const auto o = static_cast<std::size_t>(offset);
        const auto b = static_cast<std::size_t>(eye.bestPhase);
        if (eye.ber[o] < eye.ber[b] ||
            (eye.ber[o] == eye.ber[b] && lowerOne[o] - upperZero[o] > lowerOne[b] - upperZero[b]))
            eye.bestPhase = static_cast<int>(offset);
    }
    const auto best = static_cast<std::size_t>(eye.bestPhase);
    eye.height = lowerOne[best] - upperZero[best];
    eye.width = OpenWidth(eye.ber, eye.bestPhase, targetBer);
    return eye;
}

}  // namespace amirun
