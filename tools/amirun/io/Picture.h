#pragma once

#include <string>
#include <vector>

namespace amirun {

// What the plots draw, apart from how the numbers that fill them were computed.

struct Series {
    std::string label;
    std::vector<double> x;
    std::vector<double> y;
};

// Two-UI density of a folded waveform: rows of voltage bins, columns of phase samples.
struct EyeDensity {
    std::vector<std::vector<double>> counts;  // [phase][bin]
    double low = 0.0;
    double high = 0.0;
    bool probabilities = false;  // counts are probabilities: drawn as log10, not log10(1 + n)
};

}  // namespace amirun
