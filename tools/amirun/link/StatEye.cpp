#include "tools/amirun/link/StatEye.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <map>

namespace amirun {

double PhaseOfOffset(int offset, int phases) {
    return double(offset - phases / 2) / double(phases);
}

double StatisticalEye::PhaseUi(int k) const { return centreUi + PhaseOfOffset(k, phases); }

double PulseAt(const std::vector<double>& pulse, double position) {
    if (!(position >= 0.0) || pulse.empty() || position > double(pulse.size() - 1)) return 0.0;
    const auto i = std::size_t(position);
    const double w = position - double(i);
    return i + 1 < pulse.size() ? pulse[i] + w * (pulse[i + 1] - pulse[i]) : pulse[i];
}

namespace {

// The eye's inner loops, also built for wider vectors and chosen when the program loads, where
// the processor has them.
#if defined(__linux__) && defined(__x86_64__) && defined(__GNUC__)
#define KT_WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define KT_WIDE_VECTORS
#endif

// Each bin of `next` over [lo, hi] gathers from the four bins of `p` that feed it.
KT_WIDE_VECTORS void Gather(const double* p, double* next, std::size_t lo, std::size_t hi,
                            std::size_t whole, double near, double far) {
    for (std::size_t i = lo; i <= hi; ++i)
        next[i] =
            near * (p[i - whole] + p[i + whole]) + far * (p[i - whole - 1] + p[i + whole + 1]);
}

// out[i] += near p[i] + far p[i - 1] for i below n.
KT_WIDE_VECTORS void MixInto(double* out, const double* p, std::size_t n, double near, double far) {
    for (std::size_t i = 0; i < n; ++i) out[i] += near * p[i] + far * p[long(i) - 1];
}

// out[k] += c taps[k] for k below width.
KT_WIDE_VECTORS void AddScaled(double* out, const double* taps, std::size_t width, double c) {
    for (std::size_t k = 0; k < width; ++k) out[k] += c * taps[k];
}

// The cursors of one sampling instant: the main one, and every other cursor of the victim and
// of each aggressor on the same unit-interval grid (zeros left out: they add nothing).
struct Cursors {
    double main = 0.0;
    std::vector<double> others;
    double worst = 0.0;  // the sum of |c| / 2: the worst pattern's interference
};

Cursors CursorsAt(const std::vector<double>& pulse,
                  const std::vector<std::vector<double>>& aggressors, double spb, double position) {
    Cursors cursors;
    cursors.main = PulseAt(pulse, position);
    const double first = position - spb * std::floor(position / spb);
    auto collect = [&](const std::vector<double>& response, bool victim) {
        for (double m = 0.0, at = first; at <= double(response.size()); at = first + ++m * spb) {
            if (victim && std::fabs(at - position) < 0.5 * spb) continue;
            const double c = PulseAt(response, at);
            if (c == 0.0) continue;
            cursors.others.push_back(c);
            cursors.worst += 0.5 * std::fabs(c);
        }
    };
    collect(pulse, true);
    for (const auto& aggressor : aggressors) collect(aggressor, false);
    return cursors;
}

// Where the eye's phases are centred, in samples: the middle of the run of positions, on the
// phases' own grid, where the worst-case opening (main cursor less every other |cursor|) is
// positive around its widest point within half a unit interval of the peak; that point itself
// when no position is open. The unit interval of phases then has its edges in the crossing, not
// inside the eye.
double EyeCentre(const std::vector<double>& pulse,
                 const std::vector<std::vector<double>>& aggressors, double spb, double peak,
                 int phases) {
    auto opening = [&](int j) {
        const Cursors c = CursorsAt(pulse, aggressors, spb, peak + double(j) / phases * spb);
        return c.main - 2.0 * c.worst;
    };
    int best = 0;
    double widest = opening(0);
    for (int j = 1; j <= phases / 2; ++j)
        for (const int at : {j, -j})
            if (const double o = opening(at); o > widest) {
                widest = o;
                best = at;
            }
    if (!(widest > 0.0)) return peak + double(best) / phases * spb;
    int left = best, right = best;
    while (left > -phases && opening(left - 1) > 0.0) --left;
    while (right < phases && opening(right + 1) > 0.0) ++right;
    const double middle = std::clamp(0.5 * (left + right), -0.5 * phases, 0.5 * phases);
    return peak + std::round(middle) / phases * spb;
}

// The distribution of a sum of independent +-c/2 terms on a grid of `step` volts. Each term's
// halves go to the two bins around their exact places, in the proportions that keep their mean.
class Distribution {
public:
    // `halfWidth`: at least twice the bins the terms reach, and a bin for each: the gathering
    // reads a term's width beyond the support.
    Distribution(std::size_t halfWidth, double step)
        : pdf_(2 * halfWidth + 1, 0.0),
          next_(pdf_.size(), 0.0),
          centre_(halfWidth),
          lo_(halfWidth),
          hi_(halfWidth),
          step_(step) {
        pdf_[centre_] = 1.0;
    }
    // Each bin of the new distribution gathers from the four it is fed by: independent updates,
    // which the compiler vectorizes (scattering each bin's halves would not).
    void Add(double c) {
        const double shift = 0.5 * std::fabs(c) / step_;
        const auto whole = std::size_t(shift);
        const double w = shift - double(whole);
        const double near = 0.5 * (1.0 - w), far = 0.5 * w;
        lo_ -= whole + 1;
        hi_ += whole + 1;
        const double* p = pdf_.data();
        double* next = next_.data();
        // Outside the old support pdf_ is zero, and next_ outside the new one too: it held the
        // distribution before last, whose support lies inside.
        Gather(p, next, lo_, hi_, whole, near, far);
        pdf_.swap(next_);
    }
    double Value(std::size_t i) const { return (double(i) - double(centre_)) * step_; }
    // P(sum < x).
    double Below(double x) const {
        double sum = 0.0;
        for (std::size_t i = lo_; i <= hi_ && Value(i) < x; ++i) sum += pdf_[i];
        return sum;
    }
    // The lowest value whose cumulative probability exceeds p.
    double Quantile(double p) const {
        double sum = 0.0;
        for (std::size_t i = lo_; i <= hi_; ++i)
            if ((sum += pdf_[i]) > p) return Value(i);
        return Value(hi_);
    }
    // Adds weight x (the sum + offset) to `target`, a grid of the same step centred on `centre`.
    void AddTo(std::vector<double>& target, std::size_t centre, double offset,
               double weight) const {
        const double shift = offset / step_;
        const double low = std::floor(shift);
        const double near = weight * (1.0 - (shift - low)), far = weight * (shift - low);
        const long base = long(centre) - long(centre_) + long(low);
        const double* p = pdf_.data() + lo_;
        double* out = target.data() + (long(lo_) + base);
        const std::size_t n = hi_ - lo_ + 2;
        MixInto(out, p, n, near, far);
    }
    // Both symbols, +-main/2 on top of the sum, gathered into rows over [low, high).
    std::vector<double> Received(double main, double low, double high, int rows) const {
        std::vector<double> gathered(std::size_t(rows), 0.0);
        const double scale = double(rows) / (high - low);
        for (std::size_t i = lo_; i <= hi_; ++i) {
            if (pdf_[i] == 0.0) continue;
            for (const double level : {0.5 * main, -0.5 * main}) {
                const double row = std::floor((Value(i) + level - low) * scale);
                gathered[std::size_t(std::clamp(row, 0.0, double(rows - 1)))] += 0.5 * pdf_[i];
            }
        }
        return gathered;
    }

private:
    std::vector<double> pdf_, next_;
    std::size_t centre_, lo_, hi_;
    double step_;
};

// The interference terms as they go onto a grid of `step` volts, and the most that moves any
// pattern's voltage (one edge): a term whose half is under one step is left out, which moves a
// pattern by that half, less than rounding it would; every other half is split between the two
// bins w steps apart around its place, which moves a pattern by at most max(w, 1 - w) steps.
// Smallest first unless told otherwise: the distribution's support, and so the work of each
// term, grows only as the large ones come last.
struct GridTerms {
    std::vector<double> kept;
    double rounding = 0.0;
};

GridTerms OnGrid(const std::vector<double>& terms, double step, TermOrder order) {
    GridTerms grid;
    for (const double c : terms) {
        const double shift = 0.5 * std::fabs(c) / step;
        if (shift < 1.0) {
            grid.rounding += 0.5 * std::fabs(c);
            continue;
        }
        const double w = shift - std::floor(shift);
        grid.rounding += std::max(w, 1.0 - w) * step;
        grid.kept.push_back(c);
    }
    if (order == TermOrder::SmallestFirst)
        std::sort(grid.kept.begin(), grid.kept.end(),
                  [](double a, double b) { return std::fabs(a) < std::fabs(b); });
    return grid;
}

// The distribution of the terms on a grid of `step`.
Distribution IsiOf(const Cursors& cursors, const GridTerms& terms, double step) {
    Distribution isi(2 * std::size_t(std::ceil(cursors.worst / step)) + terms.kept.size() + 4,
                     step);
    for (const double c : terms.kept) isi.Add(c);
    return isi;
}

struct Phase {
    double ber = 0.0;
    double opening = 0.0;  // at the target BER
    double bound = 0.0;
    std::vector<double> received;
    std::vector<double> contours;  // the one's inner edge at each contour level
};

Phase OnePhase(const Cursors& cursors, double step, double targetBer, double low, double high,
               TermOrder order) {
    const GridTerms terms = OnGrid(cursors.others, step, order);
    const Distribution isi = IsiOf(cursors, terms, step);
    Phase phase;
    const double half = 0.5 * cursors.main;
    // Open for every pattern: no error at all, whatever the grid's rounding says.
    phase.ber = half > cursors.worst ? 0.0 : isi.Below(-half);
    // Exact limits: no pattern lies below the worst one, and below a BER of 1/2 no quantile of a
    // symmetric sum lies above 0.
    auto edge = [&](double ber) {
        return half + std::clamp(isi.Quantile(ber), -cursors.worst, 0.0);
    };
    phase.opening = 2.0 * edge(targetBer);
    for (const double level : StatisticalEye::kContourLevels) phase.contours.push_back(edge(level));
    phase.bound = 2.0 * terms.rounding;
    phase.received = isi.Received(cursors.main, low, high, StatisticalEye::kRows);
    return phase;
}

// Width of the run of phases whose BER is below the target, around the best phase.
double OpenWidth(const std::vector<double>& ber, long best, double targetBer) {
    const long n = long(ber.size());
    if (!(ber[std::size_t(best)] < targetBer)) return 0.0;
    long open = 1;
    for (long k = 1; k < n && ber[std::size_t((best + k) % n)] < targetBer; ++k) ++open;
    for (long k = 1; open < n && ber[std::size_t((best - k + n) % n)] < targetBer; ++k) ++open;
    return double(open) / double(n);
}

// The received one's distribution on a grid centred on bin `centre`, mixed over the jitter's
// phases and convolved with the noise; then everything one phase of the eye needs.
// `rounding`: the most the grid has moved any pattern so far.
Phase ImpairedPhase(std::vector<double> one, std::size_t centre, double step, double noiseBins,
                    double targetBer, double low, double high, double rounding) {
    if (noiseBins > 0.0) {
        // Gathered onto a grid of 1/32 of the noise's sigma (each mass split between the two
        // bins around it), then convolved with the noise directly: sums of positive terms, exact
        // in the far tails where a transform's rounding would not be.
        const auto factor = std::max<std::size_t>(1, std::size_t(noiseBins / 32.0));
        const double sigma = noiseBins / double(factor);
        // Out to 14 sigma: the tail beyond carries less than 1e-44, far below the lowest BER a
        // run may ask for (1e-30, at 11.3 sigma), so the BER at any phase is right too.
        const auto reach = std::size_t(std::ceil(14.0 * sigma));
        const std::size_t coarseCentre = centre / factor + 2;
        std::vector<double> coarse(2 * coarseCentre + 1, 0.0);
        for (std::size_t i = 0; i < one.size(); ++i) {
            if (one[i] == 0.0) continue;
            const double at = double(coarseCentre) + (double(i) - double(centre)) / double(factor);
            const auto bin = std::size_t(at);
            coarse[bin] += one[i] * (1.0 - (at - double(bin)));
            coarse[bin + 1] += one[i] * (at - double(bin));
        }
        std::vector<double> kernel(2 * reach + 1);
        double sum = 0.0;
        for (std::size_t k = 0; k < kernel.size(); ++k) {
            const double x = (double(k) - double(reach)) / sigma;
            sum += kernel[k] = std::exp(-0.5 * x * x);
        }
        for (double& k : kernel) k /= sum;
        one.assign(coarse.size() + 2 * reach, 0.0);
        // One independent update per output bin: a loop the compiler vectorizes.
        const double* taps = kernel.data();
        const std::size_t width = kernel.size();
        for (std::size_t i = 0; i < coarse.size(); ++i) {
            const double c = coarse[i];
            if (c == 0.0) continue;
            double* out = one.data() + i;
            AddScaled(out, taps, width, c);
        }
        centre = coarseCentre + reach;
        step *= double(factor);
        rounding += step;  // the gathering's split
    }
    auto value = [&](std::size_t i) { return (double(i) - double(centre)) * step; };
    auto edge = [&](double ber) {
        double sum = 0.0;
        for (std::size_t i = 0; i < one.size(); ++i)
            if ((sum += one[i]) > ber) return value(i);
        return value(one.size() - 1);
    };
    Phase phase;
    phase.bound = 2.0 * rounding;
    // A mass on the threshold itself errs half the time.
    for (std::size_t i = 0; i < one.size() && value(i) <= 0.0; ++i)
        phase.ber += value(i) < 0.0 ? one[i] : 0.5 * one[i];
    phase.opening = 2.0 * edge(targetBer);
    for (const double level : StatisticalEye::kContourLevels) phase.contours.push_back(edge(level));
    phase.received.assign(StatisticalEye::kRows, 0.0);
    const double scale = double(StatisticalEye::kRows) / (high - low);
    for (std::size_t i = 0; i < one.size(); ++i)
        for (const double v : {value(i), -value(i)}) {
            const double row = std::floor((v - low) * scale);
            phase.received[std::size_t(std::clamp(row, 0.0, double(StatisticalEye::kRows - 1)))] +=
                0.5 * one[i];
        }
    return phase;
}

// The jitter's instants grouped by their fraction of a phase: every instant of a group is a
// whole number of phases from the others, so one distribution per phase serves them all.
struct Instants {
    double fraction = 0.0;                       // of a phase, in [0, 1)
    std::vector<std::pair<int, double>> shifts;  // whole phases and probabilities
};

std::vector<Instants> GroupedByFraction(std::vector<std::pair<double, double>> jitter, int phases) {
    if (jitter.empty()) jitter = {{0.0, 1.0}};
    // Fractions equal to a millionth of a phase share a group (one offset's rounding).
    constexpr double kResolution = 1 << 20;
    std::map<long, Instants> groups;
    for (const auto& [offset, p] : jitter) {
        // Beyond half a unit interval the sample is another bit's: left out.
        if (2.0 * std::fabs(offset) > double(phases) || !(p > 0.0)) continue;
        double whole = std::floor(offset);
        long key = std::lround((offset - whole) * kResolution);
        if (key == long(kResolution)) {
            key = 0;
            whole += 1.0;
        }
        Instants& group = groups[key];
        group.fraction = double(key) / kResolution;
        group.shifts.emplace_back(int(whole), p);
    }
    std::vector<Instants> grouped;
    for (auto& [key, group] : groups) grouped.push_back(std::move(group));
    return grouped;
}

// Every phase with noise and jitter: each jittered instant's distribution, read from the pulse
// at that instant itself, mixed into the phase it belongs to; the instants beyond the unit
// interval are computed too, since a late sample of this bit is not an early one of the next.
std::vector<Phase> ImpairedPhases(const std::vector<double>& pulse,
                                  const std::vector<std::vector<double>>& aggressors, double spb,
                                  double eyeCentre, int phases, int bins, double targetBer,
                                  const EyeImpairments& impairments, double low, double high,
                                  TermOrder order) {
    const std::vector<Instants> groups = GroupedByFraction(impairments.jitter, phases);
    auto at = [&](int q, double fraction) {
        return eyeCentre + (PhaseOfOffset(q, phases) + fraction / double(phases)) * spb;
    };
    // [group][q - first]: the cursors of each instant the phases need.
    std::vector<std::vector<Cursors>> cursors(groups.size());
    std::vector<int> first(groups.size());
    double worst = 1e-12, extent = 0.0;
    std::size_t terms = 0;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        int lowest = 0, highest = 0;
        for (const auto& [shift, p] : groups[g].shifts) {
            lowest = std::min(lowest, shift);
            highest = std::max(highest, shift);
        }
        first[g] = lowest;
        for (int q = lowest; q < phases + highest; ++q) {
            const Cursors& c = cursors[g].emplace_back(
                CursorsAt(pulse, aggressors, spb, at(q, groups[g].fraction)));
            worst = std::max(worst, c.worst);
            extent = std::max(extent, 0.5 * std::fabs(c.main) + c.worst);
            terms = std::max(terms, c.others.size());
        }
    }
    // The grid reaches from 0 V past the main cursor; with little or no interference a step set
    // by it alone would make that grid too long to hold (an ideal channel: no interference at
    // all), so the step is at least what spans the reach in 8 x bins / 2 steps.
    const double step = std::max(worst, extent / 8.0) / (0.5 * bins);
    const double noiseBins = impairments.noiseSigma / step;
    const std::size_t centre = std::size_t(std::ceil(extent / step)) + terms + 8;
    std::vector<std::vector<double>> ones(std::size_t(phases), std::vector<double>(2 * centre + 1));
    // The most any mixed instant's rounding moves a pattern, and the main cursor's own split.
    double rounding = 0.0;
    for (std::size_t g = 0; g < groups.size(); ++g)
        for (std::size_t n = 0; n < cursors[g].size(); ++n) {
            const int q = first[g] + int(n);
            const Cursors& c = cursors[g][n];
            const GridTerms grid = OnGrid(c.others, step, order);
            const Distribution isi = IsiOf(c, grid, step);
            bool used = false;
            for (const auto& [shift, p] : groups[g].shifts)
                if (q - shift >= 0 && q - shift < phases) {
                    isi.AddTo(ones[std::size_t(q - shift)], centre, 0.5 * c.main, p);
                    used = true;
                }
            if (used) rounding = std::max(rounding, grid.rounding + step);
        }
    std::vector<Phase> results;
    for (int p = 0; p < phases; ++p)
        results.push_back(ImpairedPhase(std::move(ones[std::size_t(p)]), centre, step, noiseBins,
                                        targetBer, low, high, rounding));
    return results;
}

}  // namespace

StatisticalEye ComputeStatisticalEye(const std::vector<double>& pulse,
                                     const std::vector<std::vector<double>>& aggressorPulses,
                                     int samplesPerBit, double targetBer, int phases, int bins,
                                     const EyeImpairments& impairments, TermOrder order) {
    StatisticalEye eye;
    eye.samplesPerBit = samplesPerBit;
    eye.phases = phases;
    if (pulse.empty() || samplesPerBit < 1 || phases < 1 || bins < 4) return eye;
    const double spb = samplesPerBit;
    const double peak = double(std::max_element(pulse.begin(), pulse.end()) - pulse.begin());
    const double centre = EyeCentre(pulse, aggressorPulses, spb, peak, phases);
    eye.centreUi = (centre - peak) / spb;
    std::vector<Cursors> cursors;
    double reach = 0.0, worst = 1e-12;
    for (int k = 0; k < phases; ++k) {
        cursors.push_back(
            CursorsAt(pulse, aggressorPulses, spb, centre + PhaseOfOffset(k, phases) * spb));
        reach = std::max(reach, 0.5 * std::fabs(cursors.back().main) + cursors.back().worst);
        worst = std::max(worst, cursors.back().worst);
    }
    eye.high = std::max(reach, 1e-9) * 1.05;
    eye.low = -eye.high;
    const double step = worst / (0.5 * bins);
    std::vector<Phase> results;
    if (impairments.noiseSigma > 0.0 || !impairments.jitter.empty()) {
        eye.high += 6.0 * impairments.noiseSigma;
        eye.low = -eye.high;
        results = ImpairedPhases(pulse, aggressorPulses, spb, centre, phases, bins, targetBer,
                                 impairments, eye.low, eye.high, order);
    } else {
        for (const Cursors& c : cursors)
            results.push_back(OnePhase(c, step, targetBer, eye.low, eye.high, order));
    }
    for (Phase& phase : results) {
        eye.density.push_back(std::move(phase.received));
        eye.ber.push_back(phase.ber);
    }
    eye.contours.assign(std::size(StatisticalEye::kContourLevels), {});
    for (const Phase& phase : results)
        for (std::size_t level = 0; level < eye.contours.size(); ++level)
            eye.contours[level].push_back(phase.contours[level]);
    // The best phase: the lowest BER, then the widest inner opening.
    for (int k = 1; k < phases; ++k) {
        const Phase& a = results[std::size_t(k)];
        const Phase& b = results[std::size_t(eye.bestPhase)];
        if (a.ber < b.ber || (a.ber == b.ber && a.opening > b.opening)) eye.bestPhase = k;
    }
    const Phase& best = results[std::size_t(eye.bestPhase)];
    eye.height = best.opening;
    const Cursors& atBest = cursors[std::size_t(eye.bestPhase)];
    eye.peakDistortion = atBest.main - 2.0 * atBest.worst;
    eye.bound = best.bound;
    eye.width = OpenWidth(eye.ber, eye.bestPhase, targetBer);
    return eye;
}

}  // namespace amirun
