#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/DFModel.h"
#include "modelbuilder/TimeResponseFIR.h"

// Pieces both device models are built from: one-element connection stores that join ports, the
// response arrays a model lends its time-response filters, and running one phase on every block.
namespace ModelGraph {

using CorvanaModelBuilder::CircularBuffer;
using CorvanaModelBuilder::DFModel;
using CorvanaModelBuilder::TimeResponseFIR;

// Allocates the next store of `stores` and points every given port at it. The store starts at
// zero, so that even an element no block wrote (after a failed firing) reads as a defined value.
template <class T, std::size_t N, class... Ports>
void Connect(std::array<T*, N>& stores, std::size_t& next, Ports&... ports) {
    T*& store = stores.at(next++);
    store = new T();
    (CorvanaModelBuilder::AttachSingleElement(ports, store), ...);
}

template <class T, std::size_t N>
void ReleaseStores(std::array<T*, N>& stores) {
    for (T*& store : stores) {
        delete store;
        store = nullptr;
    }
}

// Every block runs the phase, also after one has failed, so each reports its own problems.
template <std::size_t N>
bool RunPhase(const std::array<DFModel*, N>& blocks, bool (DFModel::*phase)()) {
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

// The model's own ports move one sample per firing.
inline void DeclareModelPort(CircularBuffer<double>& port) {
    port.Rate = 1;
    if (port.MinCapacity < 1) port.MinCapacity = 1;
}

}  // namespace ModelGraph
