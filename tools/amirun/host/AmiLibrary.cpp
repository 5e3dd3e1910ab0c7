#include "tools/amirun/host/AmiLibrary.h"

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <filesystem>

namespace amirun {

void RequireFinite(const std::vector<double>& samples, const std::string& what) {
    const auto bad =
        std::count_if(samples.begin(), samples.end(), [](double v) { return !std::isfinite(v); });
    if (bad > 0)
        throw AmiError(what + " holds " + std::to_string(bad) + " samples that are not finite");
}

AmiLibrary::AmiLibrary(const std::string& path) : path_(path) {
    // An absolute path, so that the loader takes this file and never one from its search path.
    std::error_code error;
    const std::filesystem::path file = std::filesystem::absolute(path, error);
    if (error || !std::filesystem::is_regular_file(file, error))
        throw AmiError("no such library: " + path);
    handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) throw AmiError("cannot load " + path + ": " + dlerror());
    init_ = reinterpret_cast<InitFn>(dlsym(handle_, "AMI_Init"));
    getWave_ = reinterpret_cast<GetWaveFn>(dlsym(handle_, "AMI_GetWave"));
    close_ = reinterpret_cast<CloseFn>(dlsym(handle_, "AMI_Close"));
    if (init_ == nullptr || close_ == nullptr) {
        dlclose(handle_);
        throw AmiError(path + " does not export AMI_Init and AMI_Close");
    }
}

AmiLibrary::~AmiLibrary() { dlclose(handle_); }

AmiSession::AmiSession(const AmiLibrary& library, std::vector<double>& impulse, long rows,
                       long aggressors, double sampleInterval, double bitTime,
                       const std::string& parameters)
    : library_(library) {
    std::vector<char> text(parameters.begin(), parameters.end());
    text.push_back('\0');
    char* out = nullptr;
    char* msg = nullptr;
    const long result = library.init()(impulse.empty() ? nullptr : impulse.data(), rows, aggressors,
                                       sampleInterval, bitTime, text.data(), &out, &handle_, &msg);
    if (msg != nullptr) message_ = msg;
    if (result == 0) {
        std::string what = "AMI_Init of " + library.Path() + " failed";
        what += message_.empty() ? " without a message" : ": " + message_;
        if (handle_ != nullptr) library.close()(handle_);
        throw AmiError(what);
    }
}

AmiSession::~AmiSession() {
    if (handle_ != nullptr) library_.close()(handle_);
}

void AmiSession::GetWave(double* wave, long size) {
    if (!library_.HasGetWave()) throw AmiError(library_.Path() + " has no AMI_GetWave");
    // A model may write a clock time per sample and a closing -1: room for all of them.
    clock_.assign(std::size_t(std::max(size, 0L)) + 1, -1.0);
    char* out = nullptr;
    if (library_.getWave()(wave, size, clock_.data(), &out, handle_) == 0)
        throw AmiError("AMI_GetWave of " + library_.Path() +
                       " failed (the model's messages are on standard error)");
}

std::vector<double> AmiSession::ClockTimes() const {
    std::vector<double> ticks;
    for (double t : clock_) {
        if (!(t >= 0.0)) break;  // -1 closes the list; a NaN ends it as well
        ticks.push_back(t);
    }
    return ticks;
}

}  // namespace amirun
