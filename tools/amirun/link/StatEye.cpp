#include "tools/amirun/link/StatEye.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>

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
    Distribution(std::size_t halfWidth, double step)
        : pdf_(2 * halfWidth + 1, 0.0),
          next_(pdf_.size(), 0.0),
          centre_(halfWidth),
          lo_(halfWidth),
          hi_(halfWidth),
          step_(step) {
        pdf_[centre_] = 1.0;
    }
    void Add(double c) {
        const double shift = 0.5 * std::fabs(c) / step_;
        const auto whole = std::size_t(shift);
        const double w = shift - double(whole);
        std::fill(next_.begin() + long(lo_ - whole - 1), next_.begin() + long(hi_ + whole + 2),
                  0.0);
        for (std::size_t i = lo_; i <= hi_; ++i) {
            const double half = 0.5 * pdf_[i];
            if (half == 0.0) continue;
            next_[i + whole] += half * (1.0 - w);
            next_[i + whole + 1] += half * w;
            next_[i - whole] += half * (1.0 - w);
            next_[i - whole - 1] += half * w;
        }
        lo_ -= whole + 1;
        hi_ += whole + 1;
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
        const double w = shift - low;
        const long base = long(centre) - long(centre_) + long(low);
        for (std::size_t i = lo_; i <= hi_; ++i) {
            if (pdf_[i] == 0.0) continue;
            const auto at = std::size_t(long(i) + base);
            target[at] += weight * pdf_[i] * (1.0 - w);
            target[at + 1] += weight * pdf_[i] * w;
        }
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

// The interference terms into `isi`, smallest first unless told otherwise: the distribution's
// support, and so the work of each term, grows only as the large ones come last.
void AddAll(Distribution& isi, std::vector<double> terms, TermOrder order) {
    if (order == TermOrder::SmallestFirst)
        std::sort(terms.begin(), terms.end(),
                  [](double a, double b) { return std::fabs(a) < std::fabs(b); });
    for (double c : terms) isi.Add(c);
}

struct Phase {
    double ber = 0.0;
    double opening = 0.0;         // at the target BER
    double peakDistortion = 0.0;  // the worst pattern's opening
    double bound = 0.0;
    std::vector<double> received;
    std::vector<double> contours;  // the one's inner edge at each contour level
};

Phase OnePhase(const Cursors& cursors, double step, double targetBer, double low, double high,
               TermOrder order) {
    Distribution isi(std::size_t(std::ceil(cursors.worst / step)) + cursors.others.size() + 4,
                     step);
    AddAll(isi, cursors.others, order);
    Phase phase;
    const double half = 0.5 * cursors.main;
    phase.peakDistortion = 2.0 * (half - cursors.worst);
    // Open for every pattern: no error at all, whatever the grid's rounding says.
    phase.ber = half > cursors.worst ? 0.0 : isi.Below(-half);
    // Exact limits: no pattern lies below the worst one, and below a BER of 1/2 no quantile of a
    // symmetric sum lies above 0.
    auto edge = [&](double ber) {
        return half + std::clamp(isi.Quantile(ber), -cursors.worst, 0.0);
    };
    phase.opening = 2.0 * edge(targetBer);
    for (const double level : StatisticalEye::kContourLevels) phase.contours.push_back(edge(level));
    phase.bound = 2.0 * double(cursors.others.size()) * step;
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
Phase ImpairedPhase(std::vector<double> one, std::size_t centre, double step, double noiseBins,
                    double targetBer, double low, double high) {
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
            for (std::size_t k = 0; k < width; ++k) out[k] += c * taps[k];
        }
        centre = coarseCentre + reach;
        step *= double(factor);
    }
    auto value = [&](std::size_t i) { return (double(i) - double(centre)) * step; };
    auto edge = [&](double ber) {
        double sum = 0.0;
        for (std::size_t i = 0; i < one.size(); ++i)
            if ((sum += one[i]) > ber) return value(i);
        return value(one.size() - 1);
    };
    Phase phase;
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

// Every phase with noise and jitter: the phases the jitter reaches beyond the unit interval are
// computed too, since a late sample of this bit is not an early one of the next.
std::vector<Phase> ImpairedPhases(const std::vector<double>& pulse,
                                  const std::vector<std::vector<double>>& aggressors, double spb,
                                  double eyeCentre, int phases, int bins, double targetBer,
                                  const EyeImpairments& impairments, double low, double high,
                                  TermOrder order) {
    std::vector<std::pair<int, double>> jitter = impairments.jitter;
    if (jitter.empty()) jitter = {{0, 1.0}};
    std::vector<std::pair<double, double>> exact = impairments.exactJitter;
    if (exact.empty()) exact = {{0.0, 1.0}};
    int reach = 0;
    for (const auto& [j, w] : jitter) reach = std::max(reach, std::abs(j));
    // The instants each phase's distribution needs: grid offset q plus each exact offset.
    auto at = [&](int q, double d) {
        return eyeCentre + (PhaseOfOffset(q, phases) + d / double(phases)) * spb;
    };
    std::vector<Cursors> cursors;  // without the exact offsets: the bound and the worst pattern
    std::vector<std::vector<Cursors>> shifted(exact.size());
    double worst = 1e-12, extent = 0.0;
    std::size_t terms = 0;
    auto note = [&](const Cursors& c) {
        worst = std::max(worst, c.worst);
        extent = std::max(extent, 0.5 * std::fabs(c.main) + c.worst);
        terms = std::max(terms, c.others.size());
    };
    for (int q = -reach; q < phases + reach; ++q) {
        cursors.push_back(CursorsAt(pulse, aggressors, spb, at(q, 0.0)));
        note(cursors.back());
        for (std::size_t e = 0; e < exact.size(); ++e) {
            shifted[e].push_back(exact[e].first == 0.0
                                     ? cursors.back()
                                     : CursorsAt(pulse, aggressors, spb, at(q, exact[e].first)));
            note(shifted[e].back());
        }
    }
    // The grid reaches from 0 V past the main cursor; with little or no interference a step set
    // by it alone would make that grid too long to hold (an ideal channel: no interference at
    // all), so the step is at least what spans the reach in 8 x bins / 2 steps.
    const double step = std::max(worst, extent / 8.0) / (0.5 * bins);
    const double noiseBins = impairments.noiseSigma / step;
    const std::size_t centre = std::size_t(std::ceil(extent / step)) + terms + 8;
    std::vector<std::vector<double>> ones(std::size_t(phases), std::vector<double>(2 * centre + 1));
    for (std::size_t e = 0; e < exact.size(); ++e)
        for (int q = -reach; q < phases + reach; ++q) {
            const Cursors& c = shifted[e][std::size_t(q + reach)];
            Distribution isi(std::size_t(std::ceil(c.worst / step)) + c.others.size() + 4, step);
            AddAll(isi, c.others, order);
            for (const auto& [j, w] : jitter)
                // Beyond half a unit interval the sample is another bit's: left out, as the
                // grid's own jitter is.
                if (q - j >= 0 && q - j < phases &&
                    2.0 * std::fabs(double(j) + exact[e].first) <= double(phases))
                    isi.AddTo(ones[std::size_t(q - j)], centre, 0.5 * c.main, w * exact[e].second);
        }
    std::vector<Phase> results;
    for (int p = 0; p < phases; ++p) {
        results.push_back(ImpairedPhase(std::move(ones[std::size_t(p)]), centre, step, noiseBins,
                                        targetBer, low, high));
        const Cursors& c = cursors[std::size_t(p + reach)];
        results.back().peakDistortion = c.main - 2.0 * c.worst;
        results.back().bound = 2.0 * double(c.others.size()) * step;
    }
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
    if (impairments.noiseSigma > 0.0 || !impairments.jitter.empty() ||
        !impairments.exactJitter.empty()) {
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
    eye.peakDistortion = best.peakDistortion;
    eye.bound = best.bound;
    eye.width = OpenWidth(eye.ber, eye.bestPhase, targetBer);
    return eye;
}

}  // namespace amirun
