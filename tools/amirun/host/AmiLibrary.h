#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "ami/AmiExport.h"

namespace amirun {

struct AmiError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Samples a model returned that no plot or eye can hold: throws AmiError saying how many.
void RequireFinite(const std::vector<double>& samples, const std::string& what);

// Any IBIS-AMI model library, loaded with dlopen. AMI_GetWave is optional.
class AmiLibrary {
public:
    explicit AmiLibrary(const std::string& path);  // throws AmiError
    ~AmiLibrary();
    AmiLibrary(const AmiLibrary&) = delete;
    AmiLibrary& operator=(const AmiLibrary&) = delete;

    bool HasGetWave() const { return getWave_ != nullptr; }
    const std::string& Path() const { return path_; }

    using InitFn = AmiInitFn;
    using GetWaveFn = AmiGetWaveFn;
    using CloseFn = AmiCloseFn;
    InitFn init() const { return init_; }
    GetWaveFn getWave() const { return getWave_; }
    CloseFn close() const { return close_; }

private:
    std::string path_;
    void* handle_ = nullptr;
    InitFn init_ = nullptr;
    GetWaveFn getWave_ = nullptr;
    CloseFn close_ = nullptr;
};

// One model instance: AMI_Init in the constructor, AMI_Close in the destructor. A result of 0
// from the library throws AmiError with the model's message text.
class AmiSession {
public:
    AmiSession(const AmiLibrary& library, std::vector<double>& impulse, long rows, long aggressors,
               double sampleInterval, double bitTime, const std::string& parameters);
    ~AmiSession();
    AmiSession(const AmiSession&) = delete;
    AmiSession& operator=(const AmiSession&) = delete;

    const std::string& Message() const { return message_; }
    // Filters wave[0 .. size) in place; throws AmiError on a result of 0. clock_times has room
    // for size + 1 values, as a host must give it.
    void GetWave(double* wave, long size);
    // The clock times the last AMI_GetWave call returned, in seconds from the first call's first
    // sample: those before its closing -1 (or all it had room for).
    std::vector<double> ClockTimes() const;

private:
    const AmiLibrary& library_;
    std::vector<double> clock_;  // clock_times of the last AMI_GetWave call
    void* handle_ = nullptr;
    std::string message_;
};

}  // namespace amirun
