#include "tools/amirun/StatEye.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>

namespace amirun {

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

struct Phase {
    double ber = 0.0;
    double opening = 0.0;         // at the target BER
    double peakDistortion = 0.0;  // the worst pattern's opening
    double bound = 0.0;
    std::vector<double> received;
    std::vector<double> contours;  // the one's inner edge at each contour level
};

Phase OnePhase(const Cursors& cursors, double step, double targetBer, double low, double high) {
    Distribution isi(std::size_t(std::ceil(cursors.worst / step)) + cursors.others.size() + 4,
                     step);
    for (double c : cursors.others) isi.Add(c);
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

}  // namespace

StatisticalEye ComputeStatisticalEye(const std::vector<double>& pulse,
                                     const std::vector<std::vector<double>>& aggressorPulses,
                                     int samplesPerBit, double targetBer, int phases, int bins) {
    StatisticalEye eye;
    eye.samplesPerBit = samplesPerBit;
    eye.phases = phases;
    if (pulse.empty() || samplesPerBit < 1 || phases < 1 || bins < 4) return eye;
    const double spb = samplesPerBit;
    const double peak = double(std::max_element(pulse.begin(), pulse.end()) - pulse.begin());
    std::vector<Cursors> cursors;
    double reach = 0.0, worst = 1e-12;
    for (int k = 0; k < phases; ++k) {
        cursors.push_back(
            CursorsAt(pulse, aggressorPulses, spb, peak + double(k - phases / 2) / phases * spb));
        reach = std::max(reach, 0.5 * std::fabs(cursors.back().main) + cursors.back().worst);
        worst = std::max(worst, cursors.back().worst);
    }
    eye.high = std::max(reach, 1e-9) * 1.05;
    eye.low = -eye.high;
    const double step = worst / (0.5 * bins);
    std::vector<Phase> results;
    for (const Cursors& c : cursors) {
        results.push_back(OnePhase(c, step, targetBer, eye.low, eye.high));
        eye.density.push_back(std::move(results.back().received));
        eye.ber.push_back(results.back().ber);
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
