#pragma once

#include <array>
#include <cstdint>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/ConstUnTimed.h"
#include "modelbuilder/DFModel.h"
#include "modelbuilder/Fork.h"
#include "modelbuilder/Gain.h"
#include "modelbuilder/Limit.h"
#include "modelbuilder/Mux.h"
#include "modelbuilder/TimeResponseFIR.h"
#include "modelbuilder/TypeConverter.h"

// Transmitter: y = HardLimit[SW][FG](SoftLimit[SW][FG](StepFir[SW][FG](10 x))), one sample in and
// one out per Run, with filter state carried from Run to Run. All eight settings fire on every
// sample and three multiplexers pass one on; an FG outside 0..3 or an SW outside 0..1 fails every
// Run. The model owns its blocks, the 43 one-element connection stores (Initialize to Finalize)
// and the response arrays it lends its filters (Setup to Finalize).
class KT7MRL40562D9_Tx : public CorvanaModelBuilder::DFModel {
public:
    using Rounder = CorvanaModelBuilder::ScalarToScalar<
        CorvanaModelBuilder::CircularBuffer<double>, CorvanaModelBuilder::CircularBuffer<int>,
        CorvanaModelBuilder::TypeConverterRound, CorvanaModelBuilder::DFModel>;
    using DoubleMux = CorvanaModelBuilder::Mux<CorvanaModelBuilder::CircularBuffer<double>>;

    KT7MRL40562D9_Tx();
    KT7MRL40562D9_Tx(const KT7MRL40562D9_Tx&) = delete;
    KT7MRL40562D9_Tx& operator=(const KT7MRL40562D9_Tx&) = delete;
    ~KT7MRL40562D9_Tx() override;

    bool Setup() override;
    bool Initialize() override;
    bool Run() override;
    bool Finalize() override;

    CorvanaModelBuilder::CircularBuffer<double> Input;
    CorvanaModelBuilder::CircularBuffer<double> Output;

    double tx_samplerate = 3.84e11;
    std::int32_t FG = 2;
    std::int32_t SW = 1;

    // Indexed [SW][FG]; visited in the declaration order of the transmitter's block list.
    CorvanaModelBuilder::TimeResponseFIR StepFir[2][4];
    CorvanaModelBuilder::Limit HardLimit[2][4];
    CorvanaModelBuilder::Limit SoftLimit[2][4];
    Rounder FgRound;
    Rounder SwRound;
    DoubleMux Sw1Mux;
    CorvanaModelBuilder::ConstUnTimed<double> SwConst;
    CorvanaModelBuilder::ConstUnTimed<double> FgConst;
    CorvanaModelBuilder::Fork<CorvanaModelBuilder::CircularBuffer<int>> FgFork;
    CorvanaModelBuilder::Gain<double> InputGain;
    CorvanaModelBuilder::Fork<CorvanaModelBuilder::CircularBuffer<double>> PathFork;
    DoubleMux SwMux;
    DoubleMux Sw0Mux;

    CorvanaModelBuilder::CircularBuffer<double> InputRelay;
    CorvanaModelBuilder::CircularBuffer<double> OutputRelay;

    double OutputLevel[8]{};
    double SoftLimitFactor = 0.0;

private:
    void ReleaseConnections();
    void ReleaseResponses();
    bool FireChain(int sw, int fg);

    std::array<double*, 39> doubleStores_{};
    std::array<int*, 4> controlStores_{};
    std::array<CorvanaModelBuilder::DFModel*, 34> blocks_{};
};
