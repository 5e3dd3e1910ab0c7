#pragma once

#include <stdexcept>
#include <string>

#include "tools/amirun/io/Json.h"

namespace amirun {

struct TimeBaseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The sample interval of a run. A unit interval must be a whole number of samples, or every eye
// and every PRBS bit would drift: when the model's own interval does not divide it, the interval
// becomes UI / N with N the whole number nearest the model's samples per UI, at least 16; the
// model's rate parameter is then set to match. A --sample-interval the user fixed is never
// changed: one that does not divide the UI is refused with the nearest one that does.
struct TimeBase {
    double dt = 0.0;
    int samplesPerBit = 0;
    double bitRate = 0.0;  // 1 / (samplesPerBit * dt), the rate actually run
    bool changed = false;  // dt is not the model's own interval
    std::string note;      // what was chosen and why, when changed
};

// userDt 0: none given. Throws TimeBaseError with the interval that would work.
TimeBase ChooseTimeBase(double bitRate, double modelDt, double userDt);

// bit_rate, sample_interval and samples_per_ui actually used.
void AddTimeBase(JsonObject& json, const TimeBase& base);

}  // namespace amirun
