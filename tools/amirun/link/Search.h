#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <thread>
#include <vector>

#include "tools/amirun/host/Session.h"
#include "tools/amirun/io/Json.h"
#include "tools/amirun/link/Flows.h"
#include "tools/amirun/link/Impairments.h"
#include "tools/amirun/link/LinkBits.h"
#include "tools/amirun/link/Signal.h"

namespace amirun {

// The search of optimize: every transmitter setting against every receiver setting.

struct SearchOptions {
    double amplitude = 0.5;
    double targetBer = 1e-12;
    bool strict = false;
    long bits = 20000;
    long ignoreBits = 0;
    Impairments impairments;  // the command line's; the search applies the link's
    int jobs = int(std::clamp(std::thread::hardware_concurrency(), 1u, 256u));
};

struct Candidate {
    std::size_t tx = 0, rx = 0;
    StatisticalResult stat;  // when the receiver has an AMI_Init impulse
    Eye bits{};              // a short bit-by-bit run, when the bits rank the settings
};

// Everything a search works on.
struct Search : LinkSetup {
    std::vector<Settings> txs, rxs;
    std::vector<TransmitterShape> shapes;  // one per transmitter setting
    // The bits rank the settings: the statistical eye does not apply to some pair (the
    // transmitter is not linear at the bits' swing), or there is none for the receiver.
    bool byBits = false;
};

// Every pair through the statistical flow, on a coarser eye (32 phases per UI, 16 384 bins) than
// the best few get afterwards; where that eye does not apply to some pair, or the receiver has
// AMI_GetWave only, a short bit-by-bit run of each.
std::vector<Candidate> SearchAll(Search& s, const SearchOptions& options);

// The order of the search: higher eyes first, then wider ones, then the order of the settings;
// the statistical eyes, or the bit-by-bit ones when the statistical flow is an approximation.
std::vector<std::size_t> Ranking(const std::vector<Candidate>& runs, bool byBits);

// The link's bit-by-bit request of a search, `bits` long.
LinkBitsRequest SearchBits(const Search& s, const SearchOptions& options, long bits);

// {"FG": "2", "SW": "1"}
JsonObject SettingsJson(const Settings& settings);

}  // namespace amirun
