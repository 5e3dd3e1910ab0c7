#pragma once

#include <array>
#include <cstdint>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/ConstUnTimed.h"
#include "modelbuilder/DFModel.h"
#include "modelbuilder/Fork.h"
#include "modelbuilder/Gain.h"
#include "modelbuilder/Mux.h"
#include "modelbuilder/TimeResponseFIR.h"
#include "modelbuilder/TypeConverter.h"

// Receiver equalizer: y = StepFir[EQ](10 x), one sample in and one out per Run. All sixteen
// filters run on every sample and a multiplexer fed by EQ passes one on; an EQ outside 0..15 fails
// every Run. The model owns its blocks, the 37 one-element connection stores (Initialize to
// Finalize) and the response arrays it lends its filters (Setup to Finalize).
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

    CorvanaModelBuilder::CircularBuffer<double> Input;
    CorvanaModelBuilder::CircularBuffer<double> Output;

    double rx_samplerate = 3.84e11;
    std::int32_t EQ = 15;

    // Visited in the order [3], [0], [9] to [15], [1], [2], [4] to [8].
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

private:
    void ReleaseConnections();
    void ReleaseResponses();

    std::array<double*, 36> doubleStores_{};
    std::array<int*, 1> controlStores_{};
    std::array<CorvanaModelBuilder::DFModel*, 21> blocks_{};
};
