#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/ConstUnTimed.h"
#include "modelbuilder/DFModel.h"
#include "modelbuilder/Fork.h"
#include "modelbuilder/Gain.h"
#include "modelbuilder/Mux.h"
#include "modelbuilder/TimeResponseFIR.h"
#include "modelbuilder/TypeConverter.h"
#include "models/ModelGraph.h"

// Receiver equalizer: y = StepFir[EQ](10 x), one sample in and one out per Run.
//
//   Input -> InputRelay -> InputGain (x10) -> PathFork -+-> StepFir[0]  --+
//                                                       +-> ...          +-> EqMux -> OutputRelay
//                                                       +-> StepFir[15] -+     ^       -> Output
//   EqConst (EQ as double) -> EqRound (to int) -> ControlRelay ---------------+ (Control)
//
// All sixteen filters run on every sample and EqMux passes one on; an EQ outside 0..15 fails
// every Run. The orders in which the filters are declared, set up and fired are fixed, though the
// filters are independent: the only visible effect of an order is the order of the lines blocks
// write to stderr, which hosts may compare. The model owns its blocks, the one-element connection
// stores (Initialize to Finalize) and the response arrays it lends its filters (Setup to
// Finalize).
class KT7MRL40562D9_Rx : public CorvanaModelBuilder::DFModel {
public:
    KT7MRL40562D9_Rx();
    KT7MRL40562D9_Rx(const KT7MRL40562D9_Rx&) = delete;
    KT7MRL40562D9_Rx& operator=(const KT7MRL40562D9_Rx&) = delete;
    ~KT7MRL40562D9_Rx() override;

    bool Setup() override;
    bool Initialize() override;
    bool Run() override;
    bool Finalize() override;

    // count samples through the selected filter at once, in place, when the whole graph would
    // give the same outputs; false (nothing done) when Run must fire sample by sample.
    bool RunBlock(double* samples, std::int32_t count);

    CorvanaModelBuilder::CircularBuffer<double> Input;
    CorvanaModelBuilder::CircularBuffer<double> Output;

    double rx_samplerate = 3.84e11;
    std::int32_t EQ = 15;

    // Declared, so set up, initialized and finalized, in the order [3], [0], [9] to [15], [1],
    // [2], [4] to [8]; fired in the reverse of that order.
    CorvanaModelBuilder::TimeResponseFIR StepFir[16];
    CorvanaModelBuilder::ScalarToScalar<
        CorvanaModelBuilder::CircularBuffer<double>, CorvanaModelBuilder::CircularBuffer<int>,
        CorvanaModelBuilder::TypeConverterRound, CorvanaModelBuilder::DFModel>
        EqRound;
    CorvanaModelBuilder::ConstUnTimed<double> EqConst;
    CorvanaModelBuilder::Gain<double> InputGain;
    CorvanaModelBuilder::Fork<CorvanaModelBuilder::CircularBuffer<double>> PathFork;
    CorvanaModelBuilder::Mux<CorvanaModelBuilder::CircularBuffer<double>> EqMux;

    CorvanaModelBuilder::CircularBuffer<int> ControlRelay;
    CorvanaModelBuilder::CircularBuffer<double> InputRelay;
    CorvanaModelBuilder::CircularBuffer<double> OutputRelay;

    // The connections the last Initialize made; none before it and after Finalize.
    std::size_t ConnectionCount() const { return doubleStores_.Count() + controlStores_.Count(); }

private:
    void ReleaseConnections();
    void ReleaseResponses();

    bool setUp_ = false;        // the last Setup succeeded
    bool initialized_ = false;  // and so did the Initialize after it
    ModelGraph::StorePool<double> doubleStores_;
    ModelGraph::StorePool<int> controlStores_;
    std::vector<CorvanaModelBuilder::DFModel*> blocks_;  // in declaration order
};
