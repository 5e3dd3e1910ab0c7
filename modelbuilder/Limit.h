#pragma once

#include <cstdint>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/DFModel.h"

namespace CorvanaModelBuilder {

// Gain K, then confinement to [Bottom, Top]: clipping (Characteristic 0) or an arctangent that
// approaches the edges smoothly (any other value). A zero K or an empty band is an error at the
// first Initialize and is repaired, with a warning, at every later check.
class LimitBase : public DFModel {
public:
    bool Initialize() override;
    bool Finalize() override { return true; }
    bool CheckParameters() override;
    bool Run() override = 0;

    bool CheckLimits();

    double K = 1.0;
    double Bottom = 0.0;
    double Top = 1.0;
    std::int32_t Characteristic = 0;
    double Scale = 0.0;
    double Center = 0.0;
    bool Initialized = false;
};

// One element in, one element out per firing, at the ports' Positions. Never fails.
class Limit : public LimitBase {
public:
    bool Run() override;

    CircularBuffer<double> Input;
    CircularBuffer<double> Output;
};

}  // namespace CorvanaModelBuilder
