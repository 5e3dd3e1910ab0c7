#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "modelbuilder/FIR.h"

namespace CorvanaModelBuilder {

// FIR whose taps come from a sampled impulse or step response. Setup resamples the response onto
// the SampleRate grid with a four-point cubic, differences a step response (or scales an impulse
// response by the sample period) and then runs the FIR checks. Every failed check writes one
// line and keeps the previous taps. The block owns its taps, never the response arrays, whose
// time stamps Setup rebases in place.
class TimeResponseFIR : public FIR<double, 0> {
public:
    static constexpr std::int32_t ImpulseResponse = 0;
    static constexpr std::int32_t StepResponse = 1;
    static constexpr std::int32_t ImpulseResponseFile = 2;
    static constexpr std::int32_t StepResponseFile = 3;

    TimeResponseFIR() = default;
    ~TimeResponseFIR() override;

    bool Setup() override;

    // Pairs of time stamp and value, whitespace separated, until the first non-number.
    bool ReadResponseFile(const char* fileName, std::vector<double>& timeStamps,
                          std::vector<double>& values);

    double* ResponseCoefficients = nullptr;
    double* ResponseTimeStamps = nullptr;
    std::int32_t NumResponseCoefficients = 0;
    std::int32_t NumResponseTimeStamps = 0;
    std::int32_t ResponseType = StepResponse;
    const char* ResponseFile = nullptr;
    double SampleRate = 1e12;

private:
    // The response Setup works on: the lent arrays, or what the response file held.
    struct Response {
        double* times = nullptr;
        const double* values = nullptr;
        std::int64_t numTimes = 0;
        std::int64_t numValues = 0;
        std::vector<double> fileTimes;
        std::vector<double> fileValues;
    };
    bool ChooseSource(Response& response);
    bool CheckResponse(const Response& response);
    bool RebaseTimeStamps(Response& response);
    bool CountTaps(const Response& response, std::int32_t& numTaps);
    std::unique_ptr<double[]> Resample(const Response& response, std::int32_t numTaps) const;
    void ToTaps(double* taps, std::int32_t numTaps) const;
};

}  // namespace CorvanaModelBuilder
