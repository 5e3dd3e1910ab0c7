#include "tools/amirun/link/Signal.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace amirun {

Prbs::Prbs(int order) : order_(order), state_(0) {
    switch (order) {
        case 7:
            tap_ = 6;
            break;
        case 15:
            tap_ = 14;
            break;
        case 23:
            tap_ = 18;
            break;
        case 31:
            tap_ = 28;
            break;
        default:
            throw std::invalid_argument("PRBS order must be 7, 15, 23 or 31");
    }
    state_ = static_cast<std::uint32_t>(Period());
}

int Prbs::Next() {
    const std::uint32_t bit = ((state_ >> (order_ - 1)) ^ (state_ >> (tap_ - 1))) & 1u;
    state_ = ((state_ << 1) | bit) & static_cast<std::uint32_t>(Period());
    return static_cast<int>(bit);
}

std::vector<double> Times(std::size_t count, double dt, double scale) {
    std::vector<double> t(count);
    for (std::size_t i = 0; i < count; ++i) t[i] = double(i) * dt * scale;
    return t;
}

std::vector<double> PulseFromImpulse(const std::vector<double>& impulse, int samplesPerBit,
                                     double dt) {
    std::vector<double> pulse(impulse.size() + static_cast<std::size_t>(samplesPerBit), 0.0);
    double running = 0.0;
    for (std::size_t n = 0; n < pulse.size(); ++n) {
        if (n < impulse.size()) running += impulse[n];
        if (n >= static_cast<std::size_t>(samplesPerBit) &&
            n - static_cast<std::size_t>(samplesPerBit) < impulse.size())
            running -= impulse[n - static_cast<std::size_t>(samplesPerBit)];
        pulse[n] = running * dt;
    }
    return pulse;
}

std::vector<double> NrzWaveform(const std::vector<int>& bits, int samplesPerBit, double amplitude) {
    std::vector<double> wave;
    wave.reserve(bits.size() * static_cast<std::size_t>(samplesPerBit));
    for (int bit : bits)
        wave.insert(wave.end(), static_cast<std::size_t>(samplesPerBit),
                    bit ? amplitude : -amplitude);
    return wave;
}

namespace {

// Width of the run of open phases around `best`, wrapping around the unit interval.
double OpenWidth(const std::vector<double>& opening, int best) {
    const int n = static_cast<int>(opening.size());
    if (n == 0 || !(opening[best] > 0.0)) return 0.0;
    int open = 1;
    for (int k = 1; k < n && opening[(best + k) % n] > 0.0; ++k) ++open;
    for (int k = 1; open < n && opening[(best - k + n) % n] > 0.0; ++k) ++open;
    return double(open) / double(n);
}

Eye BestOf(const std::vector<double>& opening) {
    Eye eye;
    eye.height = -std::numeric_limits<double>::infinity();
    for (int phase = 0; phase < int(opening.size()); ++phase)
        if (opening[phase] > eye.height) {
            eye.height = opening[phase];
            eye.bestPhase = phase;
        }
    eye.width = OpenWidth(opening, eye.bestPhase);
    return eye;
}

}  // namespace

Eye PeakDistortionEye(const std::vector<double>& pulse, int samplesPerBit) {
    if (pulse.empty() || samplesPerBit < 1) return {};
    const long size = long(pulse.size());
    const long peak = long(std::max_element(pulse.begin(), pulse.end()) - pulse.begin());
    // Sampling phases from half a unit interval before the peak to just under half after it.
    std::vector<double> opening(static_cast<std::size_t>(samplesPerBit));
    for (int offset = 0; offset < samplesPerBit; ++offset) {
        const long main = peak - samplesPerBit / 2 + offset;
        if (main < 0 || main >= size) {
            opening[std::size_t(offset)] = -std::numeric_limits<double>::infinity();
            continue;
        }
        double isi = 0.0;
        for (long k = main % samplesPerBit; k < size; k += samplesPerBit)
            if (k != main) isi += std::fabs(pulse[std::size_t(k)]);
        opening[std::size_t(offset)] = pulse[std::size_t(main)] - isi;
    }
    Eye eye = BestOf(opening);
    eye.bestPhase = int((peak - samplesPerBit / 2 + eye.bestPhase) % samplesPerBit);
    return eye;
}

namespace {

// The opening of a waveform's eye when bit k is sampled at k * spb + offset samples (plus its
// jitter), between samples linearly.
double OpeningAt(const std::vector<double>& wave, const std::vector<int>& bits, std::size_t spb,
                 std::size_t skipBits, double offset, const std::vector<double>* jitter) {
    double lowestOne = std::numeric_limits<double>::infinity();
    double highestZero = -std::numeric_limits<double>::infinity();
    const double last = double(wave.size()) - 1.0;
    for (std::size_t k = skipBits; k < bits.size(); ++k) {
        const double base = double(k * spb) + offset;
        if (base > last) break;
        const double at =
            base + (jitter != nullptr && k < jitter->size() ? (*jitter)[k] * double(spb) : 0.0);
        if (!(at >= 0.0 && at <= last)) continue;
        const auto i = std::size_t(at);
        const double w = at - double(i);
        const double v = w == 0.0 ? wave[i] : wave[i] + w * (wave[i + 1] - wave[i]);
        if (bits[k] != 0)
            lowestOne = std::min(lowestOne, v);
        else
            highestZero = std::max(highestZero, v);
    }
    return std::isfinite(lowestOne) && std::isfinite(highestZero)
               ? lowestOne - highestZero
               : -std::numeric_limits<double>::infinity();
}

}  // namespace

Eye WaveformEye(const std::vector<double>& wave, const std::vector<int>& bits, int samplesPerBit,
                std::size_t skipBits, int maxLatencyBits, const std::vector<double>* jitter,
                double margin) {
    if (samplesPerBit < 1 || maxLatencyBits < 1 || wave.empty()) return {};
    const auto spb = static_cast<std::size_t>(samplesPerBit);
    auto opening = [&](double offset) {
        return OpeningAt(wave, bits, spb, skipBits, offset, jitter) - margin;
    };
    std::vector<double> whole(static_cast<std::size_t>(maxLatencyBits) * spb);
    for (std::size_t offset = 0; offset < whole.size(); ++offset)
        whole[offset] = opening(double(offset));
    Eye eye = BestOf(whole);
    // The same phase resolution as the statistical eye's, so that the two flows compare.
    const long sub = std::max(1L, (64L + long(spb) - 1) / long(spb));
    const double bestWhole = eye.bestPhase;
    double best = bestWhole;
    for (long s = 1 - sub; s < sub; ++s) {
        const double at = bestWhole + double(s) / double(sub);
        if (at < 0.0) continue;
        const double o = opening(at);
        if (o > eye.height) {
            eye.height = o;
            best = at;
        }
    }
    const long limit = long(spb) * sub;
    long open = 0;
    for (long s = 0; open < limit && opening(best + double(s) / double(sub)) > 0.0; ++s) ++open;
    for (long s = 1; open < limit && best - double(s) / double(sub) >= 0.0 &&
                     opening(best - double(s) / double(sub)) > 0.0;
         ++s)
        ++open;
    eye.width = double(open) / double(limit);
    return eye;
}

namespace {

constexpr double kTwoPi = 6.283185307179586;

double WaveAt(const std::vector<double>& wave, double at) {
    const auto i = std::size_t(at);
    const double w = at - double(i);
    return w == 0.0 || i + 1 >= wave.size() ? wave[i] : wave[i] + w * (wave[i + 1] - wave[i]);
}

}  // namespace

ClockedEye ClockEye(const std::vector<double>& wave, const std::vector<int>& bits,
                    int samplesPerBit, double dt, const std::vector<double>& clockTimes,
                    std::size_t skipBits, int maxLatencyBits, const std::vector<double>* jitter,
                    double margin) {
    ClockedEye result;
    result.eye.height = -std::numeric_limits<double>::infinity();
    if (samplesPerBit < 1 || maxLatencyBits < 1 || wave.size() < 2 || !(dt > 0.0)) return result;
    const double spb = samplesPerBit;
    const double last = double(wave.size()) - 1.0;
    // Sampling instants in unit intervals from the first sample, those inside the waveform.
    std::vector<double> at;
    for (double t : clockTimes) {
        const double u = t / dt + 0.5 * spb;
        if (u >= 0.0 && u <= last) at.push_back(u / spb);
    }
    if (at.empty()) return result;
    double c = 0.0, s = 0.0;
    for (double a : at) {
        c += std::cos(kTwoPi * a);
        s += std::sin(kTwoPi * a);
    }
    double phase = std::atan2(s, c) / kTwoPi;
    if (phase < 0.0) phase += 1.0;
    // The slot of each instant; bounded, as every instant lies inside the waveform.
    std::vector<long> slot;
    for (double a : at) slot.push_back(std::lround(a - phase));
    auto opening = [&](long latency, double shiftUi) {
        double lowestOne = std::numeric_limits<double>::infinity();
        double highestZero = -lowestOne;
        for (std::size_t i = 0; i < at.size(); ++i) {
            const long k = slot[i] - latency;
            if (k < long(skipBits) || k >= long(bits.size())) continue;
            const double j = jitter != nullptr && std::size_t(k) < jitter->size()
                                 ? (*jitter)[std::size_t(k)]
                                 : 0.0;
            const double u = (at[i] + shiftUi + j) * spb;
            if (!(u >= 0.0 && u <= last)) continue;
            const double v = WaveAt(wave, u);
            if (bits[std::size_t(k)] != 0)
                lowestOne = std::min(lowestOne, v);
            else
                highestZero = std::max(highestZero, v);
        }
        return std::isfinite(lowestOne) && std::isfinite(highestZero)
                   ? lowestOne - highestZero - margin
                   : -std::numeric_limits<double>::infinity();
    };
    long latency = 0;
    for (long l = 0; l < maxLatencyBits; ++l) {
        const double o = opening(l, 0.0);
        if (o > result.eye.height) {
            result.eye.height = o;
            latency = l;
        }
    }
    constexpr int kSteps = 64;
    int open = 0;
    for (int k = 0; open < kSteps && opening(latency, double(k) / kSteps) > 0.0; ++k) ++open;
    for (int k = 1; open < kSteps && opening(latency, -double(k) / kSteps) > 0.0; ++k) ++open;
    result.eye.width = double(open) / kSteps;
    result.eye.bestPhase = int(std::lround(phase * spb)) % samplesPerBit;
    result.phaseUi = phase;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo, sum2 = 0.0;
    for (std::size_t i = 0; i < at.size(); ++i) {
        const long k = slot[i] - latency;
        if (k < long(skipBits) || k >= long(bits.size())) continue;
        const double r = at[i] - phase - double(slot[i]);
        lo = std::min(lo, r);
        hi = std::max(hi, r);
        sum2 += r * r;
        ++result.instants;
    }
    if (result.instants > 0) {
        result.jitterRmsUi = std::sqrt(sum2 / double(result.instants));
        result.jitterPpUi = hi - lo;
    }
    return result;
}

EyeDensity FoldedDensity(const std::vector<double>& wave, int samplesPerBit, std::size_t skipBits,
                         int bins, int center) {
    EyeDensity density;
    const auto spb = static_cast<std::size_t>(std::max(samplesPerBit, 1));
    const std::size_t start = std::min(wave.size(), skipBits * spb);
    if (start == wave.size() || bins < 1) return density;
    // Only finite samples have a place in the picture; a NaN has no bin.
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (std::size_t n = start; n < wave.size(); ++n)
        if (std::isfinite(wave[n])) {
            lo = std::min(lo, wave[n]);
            hi = std::max(hi, wave[n]);
        }
    if (!(hi >= lo)) return density;
    const double margin = 0.05 * (hi - lo) + 1e-12;
    density.low = lo - margin;
    density.high = hi + margin;
    if (!std::isfinite(density.high - density.low)) return EyeDensity{};
    density.counts.assign(2 * spb, std::vector<double>(static_cast<std::size_t>(bins), 0.0));
    for (std::size_t n = start; n < wave.size(); ++n) {
        if (!std::isfinite(wave[n])) continue;
        const double at = (wave[n] - density.low) / (density.high - density.low) * bins;
        const auto bin = static_cast<std::size_t>(std::clamp(at, 0.0, double(bins - 1)));
        const std::size_t shift = spb + 2 * spb - std::size_t(center) % (2 * spb);
        density.counts[(n + shift) % (2 * spb)][bin] += 1.0;
    }
    return density;
}

EyeDensity TraceDensity(const std::vector<double>& wave, int samplesPerBit, std::size_t skipBits,
                        int center) {
    const std::size_t spb = std::size_t(std::max(samplesPerBit, 1));
    const std::size_t up = std::max<std::size_t>(1, (96 + spb - 1) / spb);
    const std::size_t keep =
        spb * std::min<std::size_t>(4000, std::max<std::size_t>(1, 4000000 / spb));
    const std::size_t from = wave.size() > keep ? wave.size() - keep : 0;
    const std::size_t start = std::max(from, skipBits * spb);
    std::vector<double> fine;
    for (std::size_t n = start - start % spb; n + 1 < wave.size(); ++n)
        for (std::size_t k = 0; k < up; ++k)
            fine.push_back(wave[n] + (wave[n + 1] - wave[n]) * double(k) / double(up));
    return FoldedDensity(fine, int(spb * up), 0, 240, center * int(up));
}

}  // namespace amirun
