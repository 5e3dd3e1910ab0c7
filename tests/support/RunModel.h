#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "modelbuilder/CircularBuffer.h"

// Drives a device model the way the entry points do: one-sample stores on its two ports, one Run
// per sample. Stops at the first failed Run; returns the outputs of the successful ones.
template <class Model>
std::vector<double> RunModel(Model& model, const std::vector<double>& input) {
    double in = 0.0;
    double out = 0.0;
    CorvanaModelBuilder::AttachSingleElement(model.Input, &in);
    CorvanaModelBuilder::AttachSingleElement(model.Output, &out);
    std::vector<double> y;
    for (double x : input) {
        in = x;
        if (!model.Run()) break;
        y.push_back(out);
    }
    CorvanaModelBuilder::AttachSingleElement<double>(model.Input, nullptr);
    CorvanaModelBuilder::AttachSingleElement<double>(model.Output, nullptr);
    return y;
}

// A whole cycle: Setup, Initialize, the samples, Finalize.
template <class Model>
std::vector<double> Cycle(Model& model, const std::vector<double>& input) {
    if (!model.Setup() || !model.Initialize()) return {};
    std::vector<double> y = RunModel(model, input);
    model.Finalize();
    return y;
}

// The model's block path on samples in place, with the driver's port stores attached as the entry
// points attach them. False when the model declined (the samples are then untouched).
template <class Model>
bool RunModelBlock(Model& model, double* samples, std::size_t count) {
    double in = 0.0;
    double out = 0.0;
    CorvanaModelBuilder::AttachSingleElement(model.Input, &in);
    CorvanaModelBuilder::AttachSingleElement(model.Output, &out);
    const bool taken = model.RunBlock(samples, static_cast<std::int32_t>(count));
    CorvanaModelBuilder::AttachSingleElement<double>(model.Input, nullptr);
    CorvanaModelBuilder::AttachSingleElement<double>(model.Output, nullptr);
    return taken;
}

// Drives an initialized model through `wave` cut as `pattern` says, repeated until the wave ends:
// a size of 0 or more is one block, a negative size that many single Runs. Answers false when a
// block was declined or a Run failed; the wave then holds what was computed so far.
template <class Model>
bool DriveInBlocks(Model& model, std::vector<double>& wave, const std::vector<long>& pattern) {
    std::size_t done = 0;
    for (std::size_t k = 0; done < wave.size(); ++k) {
        const long step = pattern[k % pattern.size()];
        const auto count = std::min(static_cast<std::size_t>(std::labs(step)), wave.size() - done);
        double* part = wave.data() + done;
        if (step >= 0) {
            if (!RunModelBlock(model, part, count)) return false;
        } else {
            const std::vector<double> y = RunModel(model, std::vector<double>(part, part + count));
            std::copy(y.begin(), y.end(), part);
            if (y.size() != count) return false;
        }
        done += count;
    }
    return true;
}
