#pragma once

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
