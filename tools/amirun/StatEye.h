#pragma once

#include <vector>

namespace amirun {

// Statistical eye of a link from its pulse response (the response to one bit of +1 V lasting one
// unit interval), for random equiprobable symbols of +-1/2 V (a 1 V swing): at each sampling
// phase the inter-symbol interference of every other cursor, and the crosstalk of every cursor of
// each aggressor's pulse, add as independent +-c/2 terms. Voltages live on a grid of `bins`.
struct StatisticalEye {
    int samplesPerBit = 0;
    double low = 0.0, high = 0.0;  // the voltage grid
    // [phase][bin]: probability of each received voltage, both symbols together.
    std::vector<std::vector<double>> density;
    std::vector<double> ber;  // [phase]: bit error ratio at a threshold of 0 V (the bathtub)
    int bestPhase = 0;        // lowest BER; among equals, the widest inner opening
    double height = 0.0;      // inner opening at the target BER and best phase; <= 0: closed
    double width = 0.0;       // unit intervals whose BER is below the target, around the best
};

StatisticalEye ComputeStatisticalEye(const std::vector<double>& pulse,
                                     const std::vector<std::vector<double>>& aggressorPulses,
                                     int samplesPerBit, double targetBer, int bins = 2001);

}  // namespace amirun
