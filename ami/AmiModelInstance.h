#pragma once

#include <cstdint>
#include <string>

#include "modelbuilder/CircularBuffer.h"

// What AMI_Init hands the host as the memory handle: the device model, its message log, and the
// one-sample stores of the model's input and output port. The entry points of both libraries
// drive the model through it.
template <class Model>
struct AmiModelInstance {
    Model model;
    std::string messageLog;
    // The text msg points at: a copy of the log taken when AMI_Init returns, never changed
    // afterwards, because hosts read that pointer late and later calls still append to the log.
    std::string reportedText;
    double inputStore = 0.0;
    double outputStore = 0.0;

    void AttachPorts() {
        CorvanaModelBuilder::AttachSingleElement(model.Input, &inputStore);
        CorvanaModelBuilder::AttachSingleElement(model.Output, &outputStore);
    }
    void DetachPorts() {
        CorvanaModelBuilder::AttachSingleElement<double>(model.Input, nullptr);
        CorvanaModelBuilder::AttachSingleElement<double>(model.Output, nullptr);
    }
    // One sample through the model; false (sample untouched) when the model's Run fails.
    bool Process(double& sample) {
        model.Input.Current() = sample;
        if (!model.Run()) return false;
        sample = model.Output.Current();
        return true;
    }
    void Log(const char* sentence) noexcept {
        try {
            messageLog += sentence;
        } catch (...) {  // out of memory: the sentence is lost, the host is not
        }
    }
};

// The four sentences an entry point logs when a lifecycle phase of its model fails.
struct AmiLifecycleLines {
    const char* setup;
    const char* initialize;
    const char* run;
    const char* finalize;
};
