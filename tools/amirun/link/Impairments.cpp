#include "tools/amirun/link/Impairments.h"

#include <cmath>
#include <cstdlib>
#include <map>
#include <random>
#include <sstream>

#include "tools/amirun/host/RunConfig.h"

namespace amirun {
namespace {

constexpr double kPi = 3.14159265358979323846;

using Weights = std::map<int, double>;

// A probability at a fractional offset, split between the two phases around it.
void Place(Weights& weights, double offset, double p) {
    const double low = std::floor(offset);
    weights[int(low)] += p * (1.0 - (offset - low));
    weights[int(low) + 1] += p * (offset - low);
}

Weights Convolved(const Weights& a, const Weights& b) {
    Weights c;
    for (const auto& [i, p] : a)
        for (const auto& [j, q] : b) c[i + j] += p * q;
    return c;
}

// How a reserved parameter enters the impairments.
// Dj, Sj and DCD are the IBIS half-widths.
enum class Kind { Rms, Dj, Sj, Dcd, Volts, VoltsRms, Hertz, Unsupported };
struct Reserved {
    const char* name;
    Kind kind;
};
constexpr Reserved kReserved[] = {
    {"Tx_Rj", Kind::Rms},
    {"Tx_Dj", Kind::Dj},
    {"Tx_Sj", Kind::Sj},
    {"Tx_DCD", Kind::Dcd},
    {"Tx_Sj_Frequency", Kind::Hertz},
    {"Rx_Rj", Kind::Rms},
    {"Rx_Dj", Kind::Dj},
    {"Rx_Sj", Kind::Sj},
    {"Rx_DCD", Kind::Dcd},
    {"Rx_Sj_Frequency", Kind::Hertz},
    {"Rx_Noise", Kind::VoltsRms},
    {"Rx_Receiver_Sensitivity", Kind::Volts},
    {"Rx_Clock_PDF", Kind::Unsupported},
};

void CheckTotal(double value, NumberRange range, const char* what) {
    if (value > range.high) {
        std::ostringstream text;
        text << "the link's " << what << " comes to " << value << " with the models' reserved "
             << "parameters, more than the " << range.high << " amirun takes";
        throw AmiFileError(text.str());
    }
}

}  // namespace

Impairments LinkImpairmentsOf(const AmiModelDescription& tx, const AmiModelDescription& rx,
                              double bitRate, const Impairments& commandLine,
                              std::vector<ImpairmentTerm>* terms) {
    double rj2 = commandLine.rjRms * commandLine.rjRms;
    double noise2 = commandLine.noiseRms * commandLine.noiseRms;
    Impairments total = commandLine;
    std::vector<ImpairmentTerm> found;
    auto fromCommandLine = [&](const char* option, double value, const char* unit,
                               const char* applied) {
        if (value > 0.0) found.push_back({option, "command line", value, unit, applied, ""});
    };
    fromCommandLine("--noise-rms", commandLine.noiseRms, "V", "noise_rms_v");
    fromCommandLine("--rj-rms", commandLine.rjRms, "UI", "rj_rms_ui");
    fromCommandLine("--dj-pp", commandLine.djPp, "UI", "dj_pp_ui");
    fromCommandLine("--sj-pp", commandLine.sjPp, "UI", "sj_pp_ui");
    fromCommandLine("--sj-freq", commandLine.sjFreq, "Hz", "sj_freq_hz");
    for (const AmiModelDescription* model : {&tx, &rx}) {
        for (const Reserved& r : kReserved) {
            const AmiParameterSpec* p = model->Find(r.name);
            if (p == nullptr || !p->reserved) continue;
            if (r.kind == Kind::Unsupported) {
                found.push_back({r.name, model->root, 0.0, "", "",
                                 "a clock PDF table; amirun does not apply it"});
                continue;
            }
            char* end = nullptr;
            const double value = std::strtod(p->defaultValue.c_str(), &end);
            if (p->defaultValue.empty() || *end != '\0' || !std::isfinite(value) || value < 0.0)
                throw AmiFileError(model->root + ": " + r.name + " is '" + p->defaultValue +
                                   "', not a finite non-negative number");
            ImpairmentTerm term{r.name, model->root, value, "", "", ""};
            const bool ui = p->type == "UI";
            const bool jitter = r.kind == Kind::Rms || r.kind == Kind::Dj || r.kind == Kind::Sj ||
                                r.kind == Kind::Dcd;
            if (jitter) {
                if (!ui && p->type != "Float")
                    throw AmiFileError(model->root + ": " + r.name + " is of Type " + p->type +
                                       "; a jitter is of Type UI or Float (seconds)");
                term.unit = ui ? "UI" : "s";
            } else {
                term.unit = r.kind == Kind::Hertz ? "Hz" : "V";
            }
            const double inUi = ui ? value : value * bitRate;
            switch (r.kind) {
                case Kind::Rms:
                    rj2 += inUi * inUi;
                    term.applied = "rj_rms_ui";
                    break;
                case Kind::Sj:
                    total.sjPp += 2.0 * inUi;
                    term.applied = "sj_pp_ui";
                    break;
                case Kind::Dcd:
                    term.note = "duty-cycle distortion, taken as dual-Dirac jitter";
                    [[fallthrough]];
                case Kind::Dj:
                    total.djPp += 2.0 * inUi;
                    term.applied = "dj_pp_ui";
                    break;
                case Kind::VoltsRms:
                    noise2 += value * value;
                    term.applied = "noise_rms_v";
                    break;
                case Kind::Volts:
                    total.sensitivity += value;
                    term.applied = "sensitivity_v";
                    break;
                case Kind::Hertz:
                    // One sinusoid: the first frequency given sets it.
                    if (total.sjFreq == 0.0) {
                        total.sjFreq = value;
                        term.applied = "sj_freq_hz";
                    } else {
                        term.note = "a second sinusoidal jitter frequency; the first one applies";
                    }
                    break;
                case Kind::Unsupported:
                    break;
            }
            found.push_back(term);
        }
    }
    total.rjRms = std::sqrt(rj2);
    total.noiseRms = std::sqrt(noise2);
    CheckTotal(total.rjRms, kRjRmsRange, "random jitter (UI rms)");
    CheckTotal(total.djPp, kDjPpRange, "deterministic jitter (UI peak to peak)");
    CheckTotal(total.sjPp, kSjPpRange, "sinusoidal jitter (UI peak to peak)");
    CheckTotal(total.noiseRms, kNoiseRmsRange, "noise (V rms)");
    if (terms != nullptr) *terms = std::move(found);
    return total;
}

std::vector<std::pair<int, double>> JitterWeights(const Impairments& impairments, int phases,
                                                  double* truncated, bool withoutDj) {
    Weights total{{0, 1.0}};
    if (impairments.rjRms > 0.0) {
        Weights rj;
        const double sigma = impairments.rjRms * phases;
        // Out to 14 sigma, as the noise: the tail beyond is below 1e-44, far under the lowest
        // BER a run may ask for.
        const int reach = int(std::ceil(14.0 * sigma));
        double sum = 0.0;
        for (int k = -reach; k <= reach; ++k)
            sum += rj[k] = std::exp(-0.5 * k * k / (sigma * sigma));
        for (auto& [k, p] : rj) p /= sum;
        total = Convolved(total, rj);
    }
    if (impairments.djPp > 0.0 && !withoutDj) {
        Weights dj;
        Place(dj, -0.5 * impairments.djPp * phases, 0.5);
        Place(dj, 0.5 * impairments.djPp * phases, 0.5);
        total = Convolved(total, dj);
    }
    if (impairments.sjPp > 0.0) {  // the sine's values over one period, equally likely
        Weights sj;
        constexpr int kSteps = 4096;
        for (int n = 0; n < kSteps; ++n)
            Place(sj, 0.5 * impairments.sjPp * phases * std::sin(2 * kPi * (n + 0.5) / kSteps),
                  1.0 / kSteps);
        total = Convolved(total, sj);
    }
    std::vector<std::pair<int, double>> weights;
    double left = 0.0;
    for (const auto& [k, p] : total) {
        if (2 * std::abs(k) > phases) {
            left += p;
        } else if (p > 0.0) {
            weights.emplace_back(k, p);
        }
    }
    if (truncated != nullptr) *truncated = left;
    return weights;
}

std::vector<std::pair<double, double>> EyeJitter(const Impairments& impairments, int phases) {
    if (!impairments.Jitter()) return {};
    const int fine = phases * kEyeJitterSubphases;
    const std::vector<std::pair<int, double>> smooth =
        JitterWeights(impairments, fine, nullptr, true);
    std::vector<std::pair<double, double>> dirac{{0.0, 1.0}};
    if (impairments.djPp > 0.0) {
        const double half = 0.5 * impairments.djPp * phases;
        dirac = {{-half, 0.5}, {half, 0.5}};
    }
    std::vector<std::pair<double, double>> jitter;
    for (const auto& [d, q] : dirac)
        for (const auto& [k, p] : smooth)
            jitter.emplace_back(d + double(k) / kEyeJitterSubphases, p * q);
    return jitter;
}

void AddNoise(std::vector<double>& wave, double rms, unsigned seed) {
    if (!(rms > 0.0)) return;
    std::mt19937_64 random(seed);
    std::normal_distribution<double> noise(0.0, rms);
    for (double& v : wave) v += noise(random);
}

std::vector<double> JitterOffsets(std::size_t bits, const Impairments& impairments, double bitRate,
                                  unsigned seed) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> rj(0.0, impairments.rjRms > 0.0 ? impairments.rjRms : 1.0);
    std::bernoulli_distribution dj(0.5);
    std::vector<double> offsets(bits, 0.0);
    for (std::size_t k = 0; k < bits; ++k) {
        if (impairments.rjRms > 0.0) offsets[k] += rj(random);
        if (impairments.djPp > 0.0) offsets[k] += (dj(random) ? 0.5 : -0.5) * impairments.djPp;
        if (impairments.sjPp > 0.0)
            offsets[k] += 0.5 * impairments.sjPp *
                          std::sin(2 * kPi * impairments.sjFreq * double(k) / bitRate);
    }
    return offsets;
}

}  // namespace amirun
