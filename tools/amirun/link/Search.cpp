#include "tools/amirun/link/Search.h"

#include <algorithm>
#include <iostream>
#include <numeric>

#include "tools/amirun/io/Parallel.h"
#include "tools/amirun/link/Waveform.h"

namespace amirun {

JsonObject SettingsJson(const Settings& settings) {
    JsonObject json;
    for (const auto& [name, value] : settings) json.Text(name, value);
    return json;
}

std::vector<std::size_t> Ranking(const std::vector<Candidate>& runs, bool byBits) {
    std::vector<std::size_t> order(runs.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const double ha = byBits ? runs[a].bits.height : runs[a].stat.eye.height;
        const double hb = byBits ? runs[b].bits.height : runs[b].stat.eye.height;
        const double wa = byBits ? runs[a].bits.width : runs[a].stat.eye.width;
        const double wb = byBits ? runs[b].bits.width : runs[b].stat.eye.width;
        return ha != hb ? ha > hb : wa > wb;
    });
    return order;
}

LinkBitsRequest SearchBits(const Search& s, const SearchOptions& options, long bits) {
    LinkBitsRequest request;
    request.bits = bits;
    request.amplitude = options.amplitude;
    request.impairments = s.impairments;
    request.ignoreBits = options.ignoreBits;
    return request;
}

std::vector<Candidate> SearchAll(Search& s, const SearchOptions& options) {
    const FlowSettings coarse =
        MakeFlow(options.amplitude, options.targetBer, options.strict, s.impairments, 32, 1 << 14);
    const bool statistical = s.noStatisticalFlow.empty();
    if (statistical) {
        s.shapes.resize(s.txs.size());
        ParallelFor(
            s.txs.size(), options.jobs, "transmitter",
            [&](std::size_t i) {
                s.shapes[i] =
                    ShapeByTransmitter(*s.m.txLibrary, s.m.tx, ParametersWith(s.m.tx, s.txs[i]),
                                       s.time, s.channel.columns, coarse);
            },
            [&](std::size_t i) { return SettingsText(s.txs[i]); });
    }
    const std::size_t receivers = s.rxs.size();
    std::vector<Candidate> runs(s.txs.size() * receivers);
    auto label = [&](std::size_t k) {
        return SettingsText(s.txs[k / receivers]) + ", " + SettingsText(s.rxs[k % receivers]);
    };
    if (statistical)
        ParallelFor(
            runs.size(), options.jobs, "receiver",
            [&](std::size_t k) {
                runs[k].tx = k / receivers;
                runs[k].rx = k % receivers;
                runs[k].stat = StatisticalFlowAfter(*s.m.rxLibrary, s.m.rx,
                                                    ParametersWith(s.m.rx, s.rxs[k % receivers]),
                                                    s.time, s.shapes[k / receivers], coarse);
            },
            label);
    // Where the statistical eye of any pair does not apply (a transmitter that is not linear at
    // the bits' swing) or there is none, a short bit-by-bit run of every pair ranks them.
    const bool notLinear =
        std::any_of(runs.begin(), runs.end(), [](const Candidate& c) { return !c.stat.applies; });
    s.byBits = !statistical || notLinear;
    if (notLinear)
        std::cout << "the statistical eye does not apply to every pair (the transmitter is not "
                     "linear at +-"
                  << options.amplitude << " V): short bit-by-bit runs rank the settings\n";
    else if (!statistical)
        std::cout << s.noStatisticalFlow << ": short bit-by-bit runs rank the settings\n";
    if (!s.byBits) return runs;
    const LinkBitsRequest quick = SearchBits(s, options, std::max(1000L, options.bits / 10));
    ParallelFor(
        runs.size(), options.jobs, "bit by bit",
        [&](std::size_t k) {
            runs[k].tx = k / receivers;
            runs[k].rx = k % receivers;
            runs[k].bits = RunLinkBits(s.m, ParametersWith(s.m.tx, s.txs[k / receivers]),
                                       ParametersWith(s.m.rx, s.rxs[k % receivers]), s.time,
                                       s.channel.columns.front(), quick)
                               .eye;
        },
        label);
    return runs;
}

}  // namespace amirun
