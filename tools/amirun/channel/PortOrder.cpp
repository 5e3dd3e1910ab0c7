#include "tools/amirun/channel/PortOrder.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "tools/amirun/channel/ChannelError.h"

namespace amirun {
namespace {

// The lowest frequencies: the first few points, where a line's transmission is near 1 and
// coupling near 0.
std::size_t LowPoints(const Touchstone& data) { return std::min<std::size_t>(5, data.s.size()); }

double LowMagnitude(const Touchstone& data, int row, int column) {
    double sum = 0.0;
    for (std::size_t k = 0; k < LowPoints(data); ++k)
        sum += 0.5 * (std::abs(data.At(k, row, column)) + std::abs(data.At(k, column, row)));
    return sum / double(LowPoints(data));
}

std::string Ports(const DiffPair& pair) {
    return std::to_string(pair.inP + 1) + "," + std::to_string(pair.inN + 1) + "," +
           std::to_string(pair.outP + 1) + "," + std::to_string(pair.outN + 1);
}

}  // namespace

std::string PortPlan::Text() const {
    std::string text = Ports(victim);
    for (const DiffPair& aggressor : aggressors) text += "; aggressor " + Ports(aggressor);
    return text;
}

PortPlan FindPortPlan(const Touchstone& data) {
    const int n = data.ports;
    if (n < 4 || n % 2 != 0)
        throw ChannelError("differential pairs need an even port count of 4 or more, not " +
                           std::to_string(n));
    struct Candidate {
        double magnitude;
        int a, b;
    };
    std::vector<Candidate> candidates;
    for (int a = 0; a < n; ++a)
        for (int b = a + 1; b < n; ++b) candidates.push_back({LowMagnitude(data, a, b), a, b});
    std::stable_sort(
        candidates.begin(), candidates.end(),
        [](const Candidate& x, const Candidate& y) { return x.magnitude > y.magnitude; });
    std::vector<std::pair<int, int>> lines;  // (input, output)
    std::vector<bool> used(std::size_t(n), false);
    for (const Candidate& c : candidates) {
        if (used[std::size_t(c.a)] || used[std::size_t(c.b)]) continue;
        used[std::size_t(c.a)] = used[std::size_t(c.b)] = true;
        lines.emplace_back(c.a, c.b);
    }
    std::sort(lines.begin(), lines.end());
    PortPlan plan;
    plan.found = true;
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        const DiffPair pair{lines[i].first, lines[i + 1].first, lines[i].second,
                            lines[i + 1].second};
        if (i == 0)
            plan.victim = pair;
        else
            plan.aggressors.push_back(pair);
    }
    return plan;
}

PortPlan GivenPortPlan(const std::vector<int>& ports, int portCount) {
    if (ports.empty() || ports.size() % 4 != 0)
        throw ChannelError("--ports takes four ports (in+,in-,out+,out-) per pair, victim first");
    std::set<int> seen;
    for (int port : ports) {
        if (port < 1 || port > portCount)
            throw ChannelError("--ports: port " + std::to_string(port) + " is not one of 1 to " +
                               std::to_string(portCount));
        if (!seen.insert(port).second)
            throw ChannelError("--ports: port " + std::to_string(port) + " appears twice");
    }
    PortPlan plan;
    for (std::size_t i = 0; i < ports.size(); i += 4) {
        const DiffPair pair{ports[i] - 1, ports[i + 1] - 1, ports[i + 2] - 1, ports[i + 3] - 1};
        if (i == 0)
            plan.victim = pair;
        else
            plan.aggressors.push_back(pair);
    }
    return plan;
}

std::complex<double> Sdd(const Touchstone& data, std::size_t point, const DiffPair& to,
                         const DiffPair& from, bool nearEnd) {
    const int p = nearEnd ? from.outP : from.inP;
    const int m = nearEnd ? from.outN : from.inN;
    return 0.5 * (data.At(point, to.outP, p) - data.At(point, to.outP, m) -
                  data.At(point, to.outN, p) + data.At(point, to.outN, m));
}

double LowFrequencyThrough(const Touchstone& data, const DiffPair& pair) {
    double sum = 0.0;
    for (std::size_t k = 0; k < LowPoints(data); ++k) sum += std::abs(Sdd(data, k, pair, pair));
    return sum / double(LowPoints(data));
}

}  // namespace amirun
