// A Touchstone file as a channel: renormalized to 50 ohm, the victim's through response and
// each aggressor's crosstalk, each turned into an impulse response under the band rules.
#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "tools/amirun/channel/Channel.h"
#include "tools/amirun/channel/FrequencyResponse.h"
#include "tools/amirun/channel/PortOrder.h"
#include "tools/amirun/channel/Touchstone.h"
#include "tools/amirun/io/Limits.h"

namespace amirun {
namespace {

constexpr double kReference = 50.0;

void CheckPassive(const Touchstone& data, ChannelReport& report) {
    const LargestS largest = LargestMagnitude(data);
    if (largest.magnitude > 1.05) {
        std::ostringstream text;
        text << std::setprecision(3) << "|S| reaches " << largest.magnitude << " at "
             << largest.frequency * 1e-9 << " GHz; a passive channel has |S| <= 1";
        report.warnings.push_back(text.str());
    }
}

// The port plan, found or given; a given plan far weaker than the found one is warned about.
PortPlan Plan(const Touchstone& data, const ChannelOptions& options, ChannelReport& report) {
    if (options.ports.empty()) {
        const PortPlan found = FindPortPlan(data);
        report.ports = found.Text() + " (found from |S| at the lowest frequencies)";
        // A differential line passes low frequencies nearly whole; pairs found from paths this
        // weak are guesses about a network that is probably no differential channel.
        const double through = LowFrequencyThrough(data, found.victim);
        if (through < 0.1) {
            std::ostringstream text;
            text << std::setprecision(3) << "the strongest paths pair the ports as " << found.Text()
                 << ", whose differential through response at low frequency is " << through
                 << ": the file looks like no differential channel; check it, or give --ports";
            report.warnings.push_back(text.str());
        }
        return found;
    }
    const PortPlan given = GivenPortPlan(options.ports, data.ports);
    report.ports = given.Text() + " (--ports)";
    if (data.ports % 2 == 0) {
        const PortPlan found = FindPortPlan(data);
        const double best = LowFrequencyThrough(data, found.victim);
        const double mine = LowFrequencyThrough(data, given.victim);
        if (mine < 0.5 * best) {
            std::ostringstream text;
            text << std::setprecision(3) << "--ports " << given.Text()
                 << " gives a differential through response of " << mine
                 << " at low frequency, where the order " << found.Text() << " gives " << best
                 << "; check the port order";
            report.warnings.push_back(text.str());
        }
    }
    return given;
}

using Response = std::vector<std::complex<double>>;

std::vector<Response> Responses(const Touchstone& data, const ChannelOptions& options,
                                ChannelReport& report) {
    std::vector<Response> responses;
    if (data.ports == 2) {
        if (!options.ports.empty())
            throw ChannelError("--ports picks pairs of a file of 4 or more ports, not of a 2-port");
        report.ports = "S21 (port 1 to port 2)";
        responses.emplace_back();
        for (std::size_t k = 0; k < data.s.size(); ++k)
            responses.back().push_back(data.At(k, 1, 0));
        return responses;
    }
    const PortPlan plan = Plan(data, options, report);
    auto collect = [&](const DiffPair& from, bool nearEnd) {
        responses.emplace_back();
        for (std::size_t k = 0; k < data.s.size(); ++k)
            responses.back().push_back(Sdd(data, k, plan.victim, from, nearEnd));
    };
    collect(plan.victim, false);
    for (const DiffPair& aggressor : plan.aggressors) {
        collect(aggressor, false);
        collect(aggressor, true);
    }
    if (!plan.aggressors.empty())
        report.notes.push_back(
            "crosstalk: columns 1, 2, ... are each aggressor's far-end, then "
            "near-end response at the victim's output");
    return responses;
}

double DbAt(const std::vector<double>& f, const Response& h, double at) {
    if (at < f.front() || at > f.back()) return ChannelReport::kNan;
    const auto i = std::size_t(std::upper_bound(f.begin(), f.end(), at) - f.begin());
    const std::size_t hi = std::min(i, f.size() - 1), lo = hi - 1;
    const double w = (at - f[lo]) / (f[hi] - f[lo]);
    const double m = std::abs(h[lo]) + w * (std::abs(h[hi]) - std::abs(h[lo]));
    return 20.0 * std::log10(std::max(m, 1e-300));
}

}  // namespace

RawChannel ReadTouchstoneChannel(const std::string& text, int portsOfName,
                                 const ChannelOptions& options) {
    Touchstone data = ParseTouchstone(text, portsOfName);
    RawChannel raw;
    ChannelReport& report = raw.report;
    report.source = "Touchstone, " + std::to_string(data.ports) + " ports";
    if (data.ports != 2 && (data.ports < 4 || data.ports % 2 != 0))
        throw ChannelError("a channel is a 2-port or an even number of ports, not " +
                           std::to_string(data.ports));
    bool renormalized = false;
    for (double z : data.reference) renormalized = renormalized || z != kReference;
    if (renormalized) {
        std::ostringstream note;
        note << "reference impedance: renormalized from " << data.reference.front()
             << " ohm (port 1) to 50 ohm at every port";
        Renormalize(data, kReference);
        report.notes.push_back(note.str());
    }
    CheckPassive(data, report);
    const std::vector<Response> responses = Responses(data, options, report);
    const std::size_t points =
        GridPoints(data.frequencies, options.dt,
                   2 * std::size_t(std::max(options.windowBits, kMinWindowBits)) *
                       std::size_t(options.samplesPerBit));
    if (points >= kMaxGridPoints)
        report.notes.push_back("transform grid: bounded at " + std::to_string(points) +
                               " points; the file's finer frequency spacing is interpolated");
    BandOptions band{options.dt, options.bitRate, options.extrapolate};
    for (std::size_t c = 0; c < responses.size(); ++c) {
        ChannelReport aside;  // the aggressors' band notes repeat the victim's
        raw.columns.push_back(
            ImpulseFromResponse(data.frequencies, responses[c], points, band, c ? aside : report));
    }
    report.lossAtNyquistDb = DbAt(data.frequencies, responses[0], options.bitRate / 2.0);
    return raw;
}

}  // namespace amirun
