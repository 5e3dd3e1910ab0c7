#include "models/rx/KT7MRL40562D9_Rx.h"

#include <cstddef>

#include "models/ModelGraph.h"
#include "models/rx/RxStepResponses.h"

namespace {

constexpr int kFilterCount = 16;
// Declaration order of the filters: the order of Setup, Initialize and Finalize.
constexpr int kFilterOrder[kFilterCount] = {3, 0, 9, 10, 11, 12, 13, 14, 15, 1, 2, 4, 5, 6, 7, 8};
// Which filter each fork output feeds; all carry the same sample.
constexpr int kForkTargets[kFilterCount] = {3, 8, 7, 6, 5, 4, 2, 1, 15, 14, 13, 12, 11, 10, 9, 0};

}  // namespace

KT7MRL40562D9_Rx::KT7MRL40562D9_Rx() {
    EqMux.BlockSize = 1;
    std::size_t next = 0;
    for (int m : kFilterOrder) blocks_[next++] = &StepFir[m];
    for (DFModel* block : {static_cast<DFModel*>(&EqRound), static_cast<DFModel*>(&EqConst),
                           static_cast<DFModel*>(&InputGain), static_cast<DFModel*>(&PathFork),
                           static_cast<DFModel*>(&EqMux)})
        blocks_[next++] = block;
}

KT7MRL40562D9_Rx::~KT7MRL40562D9_Rx() {
    ReleaseConnections();
    ReleaseResponses();
}

void KT7MRL40562D9_Rx::ReleaseConnections() {
    ModelGraph::ReleaseStores(doubleStores_);
    ModelGraph::ReleaseStores(controlStores_);
}

void KT7MRL40562D9_Rx::ReleaseResponses() {
    for (CorvanaModelBuilder::TimeResponseFIR& fir : StepFir) ModelGraph::ReclaimStepResponse(fir);
}

bool KT7MRL40562D9_Rx::Setup() {
    ReleaseResponses();
    for (int m = 0; m < kFilterCount; ++m) {
        const RxStepResponses::StepTable& table = RxStepResponses::kTables[m];
        ModelGraph::LendStepResponse(StepFir[m], table.times, table.values, table.count,
                                     rx_samplerate);
    }
    EqConst.Value = static_cast<double>(EQ);
    EqConst.InitialDelay = 0;
    InputGain.GainFactor = 10.0;
    PathFork.Outputs.Resize(kFilterCount);
    EqMux.BlockSize = 1;
    EqMux.Inputs.Resize(kFilterCount);
    const bool ok = ModelGraph::RunPhase(blocks_, &DFModel::Setup);
    ModelGraph::DeclareModelPort(Input);
    ModelGraph::DeclareModelPort(Output);
    return ok;
}

bool KT7MRL40562D9_Rx::Initialize() {
    ReleaseConnections();
    if (PathFork.Outputs.Count != kFilterCount || EqMux.Inputs.Count != kFilterCount)
        return false;  // never set up: there is no graph to wire
    std::size_t next = 0;
    ModelGraph::Connect(doubleStores_, next, InputRelay, InputGain.Input);
    ModelGraph::Connect(doubleStores_, next, InputGain.Output, PathFork.Input);
    for (int i = 0; i < kFilterCount; ++i)
        ModelGraph::Connect(doubleStores_, next, *PathFork.Outputs.At(i),
                            StepFir[kForkTargets[i]].Input);
    for (int m = 0; m < kFilterCount; ++m)
        ModelGraph::Connect(doubleStores_, next, StepFir[m].Output, *EqMux.Inputs.At(m));
    ModelGraph::Connect(doubleStores_, next, EqConst.Output, EqRound.Input);
    ModelGraph::Connect(doubleStores_, next, EqMux.Output, OutputRelay);
    std::size_t nextControl = 0;
    ModelGraph::Connect(controlStores_, nextControl, EqRound.Output, ControlRelay);
    return ModelGraph::RunPhase(blocks_, &DFModel::Initialize);
}

bool KT7MRL40562D9_Rx::Run() {
    // Without Initialize, or without the driver's port stores, there is nothing to fire on.
    if (controlStores_[0] == nullptr || Input.Data == nullptr || Output.Data == nullptr)
        return false;
    Input.CopyTo(0, InputRelay, 0, 1);
    bool ok = InputGain.Run();
    ok &= PathFork.Run();
    for (int k = kFilterCount - 1; k >= 0; --k) ok &= StepFir[kFilterOrder[k]].Run();
    ok &= EqConst.Run();
    ok &= EqRound.Run();
    EqMux.Control = ControlRelay.Data[ControlRelay.Position];
    ok &= EqMux.Run();
    OutputRelay.CopyTo(0, Output, 0, 1);
    return ok;
}

bool KT7MRL40562D9_Rx::Finalize() {
    const bool ok = ModelGraph::RunPhase(blocks_, &DFModel::Finalize);
    ReleaseConnections();
    ReleaseResponses();
    return ok;
}
