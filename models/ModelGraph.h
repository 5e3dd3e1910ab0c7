#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iomanip>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/DFModel.h"
#include "modelbuilder/TimeResponseFIR.h"

// Pieces both device models are built from: one-element connection stores that join ports, the
// response arrays a model lends its time-response filters, and running one phase on every block.
namespace ModelGraph {

using CorvanaModelBuilder::CircularBuffer;
using CorvanaModelBuilder::DFModel;
using CorvanaModelBuilder::TimeResponseFIR;

// The one-element stores that join a model's ports, numbered in the order they are connected.
// The pool grows with each connection, so no count is kept by hand and a new connection cannot
// run out of places. Release frees them all; the ports keep dangling views until the next wiring.
template <class T>
class StorePool {
public:
    // A new store, zero so that even an element no block wrote (after a failed firing) reads as a
    // defined value, with every given port attached to it.
    template <class First, class... Rest>
    T* Connect(First& first, Rest&... rest) {
        stores_.reserve(stores_.size() + 1);
        stores_.push_back(std::make_unique<T>());
        T* store = stores_.back().get();
        CorvanaModelBuilder::AttachSingleElement(first, store);
        (CorvanaModelBuilder::AttachSingleElement(rest, store), ...);
        return store;
    }
    void Release() { stores_.clear(); }
    std::size_t Count() const { return stores_.size(); }

private:
    std::vector<std::unique_ptr<T>> stores_;
};

// Every block runs the phase, also after one has failed, so each reports its own problems.
inline bool RunPhase(const std::vector<DFModel*>& blocks, bool (DFModel::*phase)()) {
    bool ok = true;
    for (DFModel* block : blocks) ok &= (block->*phase)();
    return ok;
}

// Fresh copies of one stored step response; the filter rebases its time stamps in place.
inline void LendStepResponse(TimeResponseFIR& fir, const double* times, const double* values,
                             std::int32_t count, double sampleRate) {
    const auto size = static_cast<std::size_t>(count);
    double* timeCopy = new double[size];
    double* valueCopy = nullptr;
    try {
        valueCopy = new double[size];
        fir.ResponseFile = new char[1]{'\0'};
    } catch (...) {
        delete[] timeCopy;
        delete[] valueCopy;
        throw;
    }
    std::copy(times, times + size, timeCopy);
    std::copy(values, values + size, valueCopy);
    fir.ResponseTimeStamps = timeCopy;
    fir.ResponseCoefficients = valueCopy;
    fir.NumResponseTimeStamps = count;
    fir.NumResponseCoefficients = count;
    fir.ResponseType = TimeResponseFIR::StepResponse;
    fir.SampleRate = sampleRate;
}

inline void ReclaimStepResponse(TimeResponseFIR& fir) {
    delete[] fir.ResponseTimeStamps;
    delete[] fir.ResponseCoefficients;
    delete[] fir.ResponseFile;
    fir.ResponseTimeStamps = nullptr;
    fir.ResponseCoefficients = nullptr;
    fir.ResponseFile = nullptr;
}

// The highest sample rate a model accepts: its filters then hold about 150 000 taps each (1.2 MB),
// and one Setup stays within tens of megabytes and a fraction of a second. Above it a host's
// parameter could make one Setup take gigabytes and minutes.
constexpr double kMaxSampleRate = 1e14;

// A number as the log and stderr show it, whatever locale the host has set.
// The shortest text that reads back as the same double, so that a value and its bound never print
// alike when they differ.
inline std::string FormatNumber(double value) {
    std::string shortest;
    for (int digits = 6; digits <= 17; ++digits) {
        std::ostringstream text;
        text.imbue(std::locale::classic());
        text << std::setprecision(digits) << value;
        shortest = text.str();
        std::istringstream back(shortest);
        back.imbue(std::locale::classic());
        double read = 0.0;
        if (!std::isfinite(value) || ((back >> read) && read == value)) break;
    }
    return shortest;
}

// Only a finite rate can be above the bound; other unusable rates are left to the filters' own
// checks and messages.
inline bool AboveSampleRateBound(double rate) {
    return std::isfinite(rate) && rate > kMaxSampleRate;
}

// A rate above the bound fails the model's Setup with one line naming the parameter.
inline bool SampleRateWithinBound(DFModel& model, const char* parameter, double rate) {
    if (!AboveSampleRateBound(rate)) return true;
    model.ReportError((std::string(parameter) + " = " + FormatNumber(rate) +
                       " is above the largest supported sample rate, " +
                       FormatNumber(kMaxSampleRate) + " samples per second")
                          .c_str());
    return false;
}

// The model's own ports move one sample per firing.
inline void DeclareModelPort(CircularBuffer<double>& port) {
    port.Rate = 1;
    if (port.MinCapacity < 1) port.MinCapacity = 1;
}

}  // namespace ModelGraph
