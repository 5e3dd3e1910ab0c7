#pragma once

#include <complex>
#include <string>
#include <vector>

#include "tools/amirun/channel/Touchstone.h"

namespace amirun {

// One differential pair of a multi-port file: its input and output ports, 0-based.
struct DiffPair {
    int inP = 0, inN = 0, outP = 0, outN = 0;
};

// Which pair is the victim and which pairs are aggressors.
struct PortPlan {
    DiffPair victim;
    std::vector<DiffPair> aggressors;
    bool found = false;        // from the file rather than from --ports
    std::string Text() const;  // 1-based: "1,3,2,4" then "; aggressor 5,7,6,8" ...
};

// The through lines, from |S| at the lowest frequencies: ports are matched greedily by the
// strongest transmission; each line runs from its lower-numbered port; lines sorted by that port
// form pairs in turn, the first pair is the victim. Throws ChannelError for an odd port count.
PortPlan FindPortPlan(const Touchstone& data);

// --ports: in+,in-,out+,out- of the victim, then of each aggressor, 1-based; every port at most
// once. Throws ChannelError naming what is wrong.
PortPlan GivenPortPlan(const std::vector<int>& ports, int portCount);

// Sdd from pair `from`'s input to pair `to`'s output (far end); with `nearEnd`, from `from`'s
// output, as an aggressor driven from the victim's receiving side.
std::complex<double> Sdd(const Touchstone& data, std::size_t point, const DiffPair& to,
                         const DiffPair& from, bool nearEnd = false);

// |Sdd| of the pair's through path, averaged over the lowest frequencies.
double LowFrequencyThrough(const Touchstone& data, const DiffPair& pair);

}  // namespace amirun
