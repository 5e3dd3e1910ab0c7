#pragma once

#include <cstdint>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/DFModel.h"

namespace CorvanaModelBuilder {

// Constant source. After Initialize the first InitialDelay firings emit zero, every later one
// emits Value at Output's Position. Initialize fails, with its message, on a negative delay.
template <class T, class OutBuffer>
class ConstUnTimedBase : public DFModel {
public:
    OutBuffer Output;
    T Value{};
    std::int32_t InitialDelay = 0;
    std::uint64_t FiringCount = 0;

    bool Initialize() override {
        FiringCount = 0;
        return CheckParameters();
    }

    bool Run() override {
        const auto delay = static_cast<std::uint64_t>(static_cast<std::int64_t>(InitialDelay));
        if (FiringCount >= delay) {
            Output.Current() = Value;
        } else {
            WriteZero();
        }
        ++FiringCount;
        return true;
    }

    bool CheckParameters() override {
        if (InitialDelay < 0) {
            ReportError("InitialDelay must be >= 0");
            return false;
        }
        return true;
    }

    virtual void WriteZero() = 0;
};

template <class T>
class ConstUnTimed;

template <>
class ConstUnTimed<double> : public ConstUnTimedBase<double, CircularBuffer<double>> {
public:
    void WriteZero() override { Output.Current() = 0.0; }
};

}  // namespace CorvanaModelBuilder
