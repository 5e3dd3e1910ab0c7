#include "tools/amirun/link/Impairments.h"

#include <cmath>
#include <map>
#include <random>

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

}  // namespace

std::vector<std::pair<int, double>> JitterWeights(const Impairments& impairments, int phases,
                                                  double* truncated) {
    Weights total{{0, 1.0}};
    if (impairments.rjRms > 0.0) {
        Weights rj;
        const double sigma = impairments.rjRms * phases;
        const int reach = int(std::ceil(8.0 * sigma));
        double sum = 0.0;
        for (int k = -reach; k <= reach; ++k)
            sum += rj[k] = std::exp(-0.5 * k * k / (sigma * sigma));
        for (auto& [k, p] : rj) p /= sum;
        total = Convolved(total, rj);
    }
    if (impairments.djPp > 0.0) {
        Weights dj;
        Place(dj, -0.5 * impairments.djPp * phases, 0.5);
        Place(dj, 0.5 * impairments.djPp * phases, 0.5);
        total = Convolved(total, dj);
    }
    if (impairments.sjPp > 0.0) {  // the sine's values over one period, equally likely
        Weights sj;
        constexpr int kSteps = 256;
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
