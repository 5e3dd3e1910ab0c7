#include "tools/amirun/channel/FrequencyResponse.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "tools/amirun/channel/ChannelError.h"
#include "tools/amirun/io/Fftw.h"
#include "tools/amirun/io/Limits.h"

namespace amirun {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Ghz(double hz) {
    std::ostringstream text;
    text << std::setprecision(4) << hz * 1e-9 << " GHz";
    return text.str();
}

// Magnitude in dB and unwrapped phase of each point.
struct Polar {
    std::vector<double> db, phase;
};
Polar ToPolar(const std::vector<std::complex<double>>& response) {
    Polar polar;
    for (std::size_t i = 0; i < response.size(); ++i) {
        polar.db.push_back(20.0 * std::log10(std::max(std::abs(response[i]), 1e-300)));
        double p = std::arg(response[i]);
        if (i > 0) p += 2 * kPi * std::round((polar.phase.back() - p) / (2 * kPi));
        polar.phase.push_back(p);
    }
    return polar;
}

void CheckPoints(const std::vector<double>& f, double top, const BandOptions& options) {
    const double gap = 0.1 * options.bitRate / 2.0;
    std::size_t inBand = 0;
    for (std::size_t i = 0; i < f.size() && f[i] <= top; ++i) {
        ++inBand;
        if (i > 0 && f[i] - f[i - 1] > gap)
            throw ChannelError("too sparse to describe a channel: a gap from " + Ghz(f[i - 1]) +
                               " to " + Ghz(f[i]) + " (amirun needs no gap above " + Ghz(gap) +
                               ", a tenth of the bit rate's Nyquist frequency)");
    }
    if (inBand < kMinPoints)
        throw ChannelError("too sparse to describe a channel: " + std::to_string(inBand) +
                           " points up to " + Ghz(top) + " (amirun needs at least " +
                           std::to_string(kMinPoints) + ")");
}

// The band above the file: its top fifth's dB slope (never rising) and delay, continued.
struct Continuation {
    double dbSlope = 0.0, phaseSlope = 0.0;
};
Continuation FitTop(const std::vector<double>& f, const Polar& polar) {
    const std::size_t last = f.size() - 1;
    std::size_t from = last - 1;
    while (from > 0 && f[from - 1] >= 0.8 * f[last]) --from;
    Continuation c;
    c.dbSlope = std::min(0.0, (polar.db[last] - polar.db[from]) / (f[last] - f[from]));
    c.phaseSlope = (polar.phase[last] - polar.phase[from]) / (f[last] - f[from]);
    return c;
}

void NoteBand(const std::vector<double>& f, const Polar& polar, const BandOptions& options,
              double top, ChannelReport& report) {
    const double nyquist = options.bitRate / 2.0;
    report.fMaxHz = f.back();
    if (f.back() < nyquist && !options.extrapolate)
        throw ChannelError("the file ends at " + Ghz(f.back()) +
                           ", below the bit rate's Nyquist frequency of " + Ghz(nyquist) +
                           "; give --extrapolate to continue its slope above " + Ghz(f.back()));
    if (options.extrapolate && f.back() < top) {
        const Continuation c = FitTop(f, polar);
        std::ostringstream note;  // 0 - x: a flat phase reads "0 ps", not "-0 ps"
        note << std::setprecision(3) << "band: above the file's last frequency " << Ghz(f.back())
             << " |S| continues at " << c.dbSlope * 1e9 << " dB/GHz and the phase at a delay of "
             << 0.0 - c.phaseSlope / (2 * kPi) * 1e12 << " ps, up to " << Ghz(top)
             << " (--extrapolate)";
        report.notes.push_back(note.str());
        report.extrapolated = true;
    }
    if (f.front() > 0.02 * nyquist)
        report.warnings.push_back("the file starts at " + Ghz(f.front()) +
                                  ", far from DC (above 2 % of the Nyquist frequency)");
    std::ostringstream dc;
    dc << std::setprecision(3)
       << "DC: " << (f.front() > 0.0 ? "extrapolated; |S| held at " : "|S| ") << polar.db.front()
       << " dB (its value at " << Ghz(f.front()) << "), phase along its first slope, real at DC";
    report.notes.push_back(dc.str());
}

}  // namespace

std::size_t GridPoints(const std::vector<double>& frequencies, double dt, std::size_t minimum) {
    std::vector<double> gaps;
    for (std::size_t i = 1; i < frequencies.size(); ++i)
        gaps.push_back(frequencies[i] - frequencies[i - 1]);
    std::size_t n = 1024;
    if (gaps.empty()) return n;
    std::nth_element(gaps.begin(), gaps.begin() + long(gaps.size() / 2), gaps.end());
    // Twice the time the spacing resolves, so that the causal half holds all of it.
    const double wanted = std::max(double(minimum), 2.0 / (gaps[gaps.size() / 2] * dt));
    while (n < kMaxGridPoints && double(n) < wanted) n *= 2;
    return n;
}

std::vector<double> ImpulseFromResponse(const std::vector<double>& f,
                                        const std::vector<std::complex<double>>& response,
                                        std::size_t points, const BandOptions& options,
                                        ChannelReport& report) {
    const double modelNyquist = 0.5 / options.dt;
    const Polar polar = ToPolar(response);
    const double top = options.extrapolate ? modelNyquist : std::min(f.back(), modelNyquist);
    NoteBand(f, polar, options, top, report);
    CheckPoints(f, std::min(top, f.back()), options);
    const Continuation above = FitTop(f, polar);
    const double slope = (polar.phase[1] - polar.phase[0]) / (f[1] - f[0]);
    const double phaseAtDc = polar.phase[0] - slope * f[0];
    // H is real at DC; the phase shift keeps its sign, so an inverted channel stays inverted.
    const double turns = std::round(phaseAtDc / kPi);
    const double shift = phaseAtDc - kPi * turns;
    report.inverted = std::fmod(std::fabs(turns), 2.0) == 1.0;
    const double taperFrom = std::max(0.8 * top, std::min(options.bitRate / 2.0, 0.95 * top));

    const std::size_t n = points;
    const double df = 1.0 / (double(n) * options.dt);
    std::vector<std::complex<double>> bins(n / 2 + 1);
    std::vector<double> impulse(n);
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double at = double(k) * df;
        if (at >= top) break;
        double db = 0.0, p = 0.0;
        if (at <= f.front()) {
            db = polar.db.front();
            p = polar.phase.front() + slope * (at - f.front());
        } else if (at < f.back()) {
            const auto i = std::size_t(std::upper_bound(f.begin(), f.end(), at) - f.begin() - 1);
            const double w = (at - f[i]) / (f[i + 1] - f[i]);
            db = polar.db[i] + w * (polar.db[i + 1] - polar.db[i]);
            p = polar.phase[i] + w * (polar.phase[i + 1] - polar.phase[i]);
        } else {
            db = polar.db.back() + above.dbSlope * (at - f.back());
            p = polar.phase.back() + above.phaseSlope * (at - f.back());
        }
        double m = std::pow(10.0, db / 20.0);
        if (at > taperFrom) m *= 0.5 * (1.0 + std::cos(kPi * (at - taperFrom) / (top - taperFrom)));
        // Each sample is the response's average over its interval (the step's rise over it), as
        // the time forms take it, so that every form of one channel gives the same samples.
        const double half = kPi * at * options.dt;
        const double box = k == 0 ? 1.0 : std::sin(half) / half;
        bins[k] = k == 0 || k == n / 2 ? std::polar(m * box, p - shift).real()
                                       : std::polar(m * box, p - shift + half);
    }
    report.dcGain = bins[0].real();
    std::lock_guard<std::mutex> lock(FftwPlanner());
    fftw_plan plan = fftw_plan_dft_c2r_1d(int(n), reinterpret_cast<fftw_complex*>(bins.data()),
                                          impulse.data(), FFTW_ESTIMATE);
    if (plan == nullptr) throw ChannelError("FFTW could not plan a transform");
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    for (double& h : impulse) h *= df;
    // Band-limited and tapered, a measured response puts a little of itself before t = 0: the
    // transform's second half. A real channel is causal: that part is left out, and said.
    double before = 0.0;
    for (std::size_t k = n / 2; k < n; ++k) before += impulse[k] * options.dt;
    impulse.resize(n / 2);
    if (report.dcGain != 0.0) report.acausalFraction = before / report.dcGain;
    if (std::fabs(report.acausalFraction) > 1e-6) {
        std::ostringstream note;
        note << std::setprecision(3) << 100.0 * std::fabs(report.acausalFraction)
             << " % of the DC response lies before t = 0 (band-limited data are not causal); a "
                "real channel is, so amirun leaves it out";
        report.notes.push_back(note.str());
    }
    std::ostringstream taper;
    taper << "band edge: a raised-cosine taper from " << Ghz(taperFrom) << " to " << Ghz(top);
    report.notes.push_back(taper.str());
    return impulse;
}

std::complex<double> ResponseAt(const std::vector<double>& impulse, double dt, double f) {
    std::complex<double> sum = 0.0;
    for (std::size_t n = 0; n < impulse.size(); ++n)
        sum += impulse[n] * dt * std::polar(1.0, -2 * kPi * f * double(n) * dt);
    return sum;
}

void MagnitudeResponse(const std::vector<double>& impulse, double dt, double highest,
                       std::vector<double>& frequencies, std::vector<double>& decibels) {
    std::size_t n = 1024;
    while (n < 4 * impulse.size()) n *= 2;
    std::vector<double> samples(n, 0.0);
    std::vector<std::complex<double>> bins(n / 2 + 1);
    std::lock_guard<std::mutex> lock(FftwPlanner());
    fftw_plan plan = fftw_plan_dft_r2c_1d(
        int(n), samples.data(), reinterpret_cast<fftw_complex*>(bins.data()), FFTW_ESTIMATE);
    if (plan == nullptr) throw ChannelError("FFTW could not plan a transform");
    for (std::size_t i = 0; i < impulse.size(); ++i) samples[i] = impulse[i] * dt;
    fftw_execute(plan);
    fftw_destroy_plan(plan);
    frequencies.clear();
    decibels.clear();
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double f = double(k) / (double(n) * dt);
        if (f > highest) break;
        frequencies.push_back(f);
        decibels.push_back(20.0 * std::log10(std::max(std::abs(bins[k]), 1e-15)));
    }
}

ResponseFigures FiguresOf(const std::vector<double>& impulse, double dt, double nyquist) {
    ResponseFigures figures;
    for (double h : impulse) figures.dcGain += h * dt;
    const double dcDb = 20.0 * std::log10(std::max(std::fabs(figures.dcGain), 1e-300));
    auto above = [&](double f) {
        return 20.0 * std::log10(std::max(std::abs(ResponseAt(impulse, dt, f)), 1e-300)) - dcDb;
    };
    figures.quarterDb = above(0.25 * nyquist);
    figures.nyquistDb = above(nyquist);
    std::vector<double> frequencies, decibels;
    MagnitudeResponse(impulse, dt, 2.0 * nyquist, frequencies, decibels);
    const auto peak = std::max_element(decibels.begin(), decibels.end()) - decibels.begin();
    figures.peakHz = frequencies[std::size_t(peak)];
    figures.peakBoostDb = decibels[std::size_t(peak)] - dcDb;
    return figures;
}

}  // namespace amirun
