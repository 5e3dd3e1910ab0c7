#pragma once

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/DFModel.h"

namespace CorvanaModelBuilder {

// Output = Input * GainFactor, one element per firing. The owner always assigns GainFactor.
template <class T>
class Gain : public DFModel {
public:
    T GainFactor{};
    CircularBuffer<T> Input;
    CircularBuffer<T> Output;

    bool Run() override {
        Output.Current() = Input.Current() * GainFactor;
        return true;
    }
};

}  // namespace CorvanaModelBuilder
