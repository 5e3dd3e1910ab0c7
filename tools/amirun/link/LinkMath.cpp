#include "tools/amirun/link/LinkMath.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace amirun {

std::vector<double> ImpulseFromStep(const std::vector<double>& stepOutput, double probe,
                                    double dt) {
    std::vector<double> impulse(stepOutput.size());
    for (std::size_t n = 0; n < stepOutput.size(); ++n)
        impulse[n] = (stepOutput[n] - (n > 0 ? stepOutput[n - 1] : 0.0)) / probe / dt;
    return impulse;
}

std::vector<double> WorstCrosstalk(const std::vector<double>& victimPulse,
                                   const std::vector<std::vector<double>>& aggressorPulses,
                                   int samplesPerBit, double phaseUi, double swing) {
    std::vector<double> worst;
    if (victimPulse.empty() || samplesPerBit < 1) return worst;
    const double spb = samplesPerBit;
    const double peak =
        double(std::max_element(victimPulse.begin(), victimPulse.end()) - victimPulse.begin());
    const double position = peak + phaseUi * spb;
    const double first = position - spb * std::floor(position / spb);
    for (const auto& aggressor : aggressorPulses) {
        double sum = 0.0;
        for (double m = 0.0, at = first; at <= double(aggressor.size()); at = first + ++m * spb)
            sum += std::fabs(PulseAt(aggressor, at));
        worst.push_back(0.5 * swing * sum);
    }
    return worst;
}

Bathtub BathtubOf(const StatisticalEye& eye, double floorLog10) {
    Bathtub tub;
    const int phases = eye.phases;
    for (int k = 0; k < phases && std::size_t(k) < eye.ber.size(); ++k) {
        tub.phaseUi.push_back(eye.PhaseUi(k));
        tub.log10Ber.push_back(
            std::max(std::log10(std::max(eye.ber[std::size_t(k)], 1e-300)), floorLog10));
    }
    return tub;
}

EyeDensity StatisticalDensity(const StatisticalEye& eye, int rows, double scale, double swing) {
    EyeDensity density;
    density.probabilities = true;
    density.low = eye.low * swing;
    density.high = eye.high * swing;
    const int phases = eye.phases;
    if (phases < 1 || rows < 1 || eye.density.size() != std::size_t(phases)) return density;
    // The best phase at 0, 1 and 2 unit intervals: one whole eye in the middle.
    for (int j = 0; j < 2 * phases; ++j) {
        const auto& column = eye.density[std::size_t((eye.bestPhase + j) % phases)];
        std::vector<double> voltages(std::size_t(rows), 0.0);
        for (std::size_t i = 0; i < column.size(); ++i)
            voltages[std::min(std::size_t(rows) - 1, i * std::size_t(rows) / column.size())] +=
                column[i] * scale;
        density.counts.push_back(voltages);
    }
    return density;
}

std::vector<Series> StatisticalContours(const StatisticalEye& eye, double swing) {
    std::vector<Series> lines;
    const int phases = eye.phases;
    for (std::size_t level = 0; level < eye.contours.size(); ++level) {
        std::ostringstream label;
        label << "BER " << StatisticalEye::kContourLevels[level];
        Series upper{label.str(), {}, {}}, lower{"", {}, {}};
        for (int j = 0; j < 2 * phases; ++j) {
            const double x = (double(j) + 0.5) / double(phases);
            const double edge = eye.contours[level][std::size_t((eye.bestPhase + j) % phases)];
            upper.x.push_back(x);
            upper.y.push_back(edge * swing);
            lower.x.push_back(x);
            lower.y.push_back(-edge * swing);
        }
        lines.push_back(std::move(upper));
        lines.push_back(std::move(lower));
    }
    return lines;
}

std::size_t BestIndex(const std::vector<double>& values) {
    std::size_t best = 0;
    for (std::size_t i = 1; i < values.size(); ++i)
        if (values[i] > values[best]) best = i;
    return best;
}

}  // namespace amirun
