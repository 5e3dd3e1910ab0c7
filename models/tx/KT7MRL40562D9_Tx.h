#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/ConstUnTimed.h"
#include "modelbuilder/DFModel.h"
#include "modelbuilder/Fork.h"
#include "modelbuilder/Gain.h"
#include "modelbuilder/Limit.h"
#include "modelbuilder/Mux.h"
#include "modelbuilder/TimeResponseFIR.h"
#include "modelbuilder/TypeConverter.h"
#include "models/ModelGraph.h"

// Transmitter: y = HardLimit[SW][FG](SoftLimit[SW][FG](StepFir[SW][FG](10 x))), one sample in and
// one out per Run, with filter state carried from Run to Run.
//
//   Input -> InputRelay -> InputGain (x10) -> PathFork -> eight chains, one per [SW][FG]:
//       StepFir -> SoftLimit (atan, +-2L) -> HardLimit (clip, +-L)      (L = 0.45 or 0.5 by SW)
//   chains [0][0..3] -> Sw0Mux -+
//   chains [1][0..3] -> Sw1Mux -+-> SwMux -> OutputRelay -> Output
//   FgConst -> FgRound -> FgFork -> Control of Sw1Mux and Sw0Mux;  SwConst -> SwRound -> SwMux
//
// All eight chains fire on every sample and the multiplexers pass one on; an FG outside 0..3 or an
// SW outside 0..1 fails every Run. The member order below is not the order of Setup, Initialize
// and Finalize: that order, and the firing order of Run, are fixed lists in the model's source.
// The chains are independent, so the only visible effect of these orders is the order of the
// lines blocks write to stderr (both multiplexers report a bad FG, Sw1Mux first). The model owns
// its blocks, the one-element connection stores (Initialize to Finalize) and the response arrays
// it lends its filters (Setup to Finalize).
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

    // count samples through the selected chain at once, in place, when the whole graph would give
    // the same outputs; false (nothing done) when Run must fire sample by sample.
    bool RunBlock(double* samples, std::int32_t count);

    CorvanaModelBuilder::CircularBuffer<double> Input;
    CorvanaModelBuilder::CircularBuffer<double> Output;

    double tx_samplerate = 3.84e11;
    std::int32_t FG = 2;
    std::int32_t SW = 1;

    // Indexed [SW][FG].
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

    // The connections the last Initialize made; none before it and after Finalize.
    std::size_t ConnectionCount() const { return doubleStores_.Count() + controlStores_.Count(); }

private:
    void ReleaseConnections();
    void ReleaseResponses();
    bool FireChain(int sw, int fg);

    bool setUp_ = false;        // the last Setup succeeded
    bool initialized_ = false;  // and so did the Initialize after it
    ModelGraph::StorePool<double> doubleStores_;
    ModelGraph::StorePool<int> controlStores_;
    std::vector<CorvanaModelBuilder::DFModel*> blocks_;  // the order of Setup, Initialize, Finalize
};
