#include "models/rx/KT7MRL40562D9_Rx.h"

#include <cstddef>
#include <initializer_list>

#include "models/ModelGraph.h"
#include "models/rx/RxStepResponses.h"

namespace {

constexpr int kFilterCount = 16;
// Declaration order of the filters: the order of Setup, Initialize and Finalize; Run fires them
// in reverse.
constexpr int kFilterOrder[kFilterCount] = {3, 0, 9, 10, 11, 12, 13, 14, 15, 1, 2, 4, 5, 6, 7, 8};
// Which filter each fork output feeds; all carry the same sample.
constexpr int kForkTargets[kFilterCount] = {3, 8, 7, 6, 5, 4, 2, 1, 15, 14, 13, 12, 11, 10, 9, 0};

}  // namespace

KT7MRL40562D9_Rx::KT7MRL40562D9_Rx() {
    EqMux.BlockSize = 1;
    for (int m : kFilterOrder) blocks_.push_back(&StepFir[m]);
    blocks_.insert(blocks_.end(), std::initializer_list<DFModel*>{&EqRound, &EqConst, &InputGain,
                                                                  &PathFork, &EqMux});
}

KT7MRL40562D9_Rx::~KT7MRL40562D9_Rx() {
    ReleaseConnections();
    ReleaseResponses();
}

void KT7MRL40562D9_Rx::ReleaseConnections() {
    doubleStores_.Release();
    controlStores_.Release();
}

void KT7MRL40562D9_Rx::ReleaseResponses() {
    for (CorvanaModelBuilder::TimeResponseFIR& fir : StepFir) ModelGraph::ReclaimStepResponse(fir);
}

bool KT7MRL40562D9_Rx::Setup() {
    setUp_ = false;
    initialized_ = false;
    ReleaseResponses();
    if (!ModelGraph::SampleRateWithinBound(*this, "rx_samplerate", rx_samplerate)) {
        ModelGraph::DeclareModelPort(Input);
        ModelGraph::DeclareModelPort(Output);
        return false;  // no filter is built: that is what the bound protects
    }
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
    setUp_ = ok;
    return ok;
}

bool KT7MRL40562D9_Rx::Initialize() {
    initialized_ = false;
    ReleaseConnections();
    if (PathFork.Outputs.Count != kFilterCount || EqMux.Inputs.Count != kFilterCount)
        return false;  // never set up: there is no graph to wire
    doubleStores_.Connect(InputRelay, InputGain.Input);
    doubleStores_.Connect(InputGain.Output, PathFork.Input);
    for (int i = 0; i < kFilterCount; ++i)
        doubleStores_.Connect(*PathFork.Outputs.At(i), StepFir[kForkTargets[i]].Input);
    for (int m = 0; m < kFilterCount; ++m)
        doubleStores_.Connect(StepFir[m].Output, *EqMux.Inputs.At(m));
    doubleStores_.Connect(EqConst.Output, EqRound.Input);
    doubleStores_.Connect(EqMux.Output, OutputRelay);
    controlStores_.Connect(EqRound.Output, ControlRelay);
    const bool ok = ModelGraph::RunPhase(blocks_, &DFModel::Initialize);
    initialized_ = ok && setUp_;
    return ok;
}

bool KT7MRL40562D9_Rx::Run() {
    // Without Initialize, or without the driver's port stores, there is nothing to fire on.
    if (controlStores_.Count() == 0 || Input.Data == nullptr || Output.Data == nullptr)
        return false;
    Input.CopyTo(0, InputRelay, 0, 1);
    bool ok = InputGain.Run();
    ok &= PathFork.Run();
    for (int k = kFilterCount - 1; k >= 0; --k) ok &= StepFir[kFilterOrder[k]].Run();
    ok &= EqConst.Run();
    ok &= EqRound.Run();
    EqMux.Control = ControlRelay.Current();
    ok &= EqMux.Run();
    OutputRelay.CopyTo(0, Output, 0, 1);
    return ok;
}

// The block path computes only the selected filter. Run fires all sixteen, but the fifteen others
// feed nothing but EqMux, which drops them, and fail never: outputs, log, stderr lines and
// results are the same. A selector out of range, or a model not ready to run, keeps the
// per-sample graph with its messages.
bool KT7MRL40562D9_Rx::RunBlock(double* samples, std::int32_t count) {
    if (!initialized_ || Input.Data == nullptr || Output.Data == nullptr) return false;
    const std::int32_t selected = CorvanaModelBuilder::TypeConverterRound::Convert(EqConst.Value);
    if (selected < 0 || selected >= kFilterCount || count < 0) return false;
    CorvanaModelBuilder::TimeResponseFIR& fir = StepFir[selected];
    if (!fir.BlockReady()) return false;
    return fir.RunBlock(samples, samples, static_cast<std::size_t>(count), InputGain.GainFactor);
}

bool KT7MRL40562D9_Rx::Finalize() {
    initialized_ = false;
    const bool ok = ModelGraph::RunPhase(blocks_, &DFModel::Finalize);
    ReleaseConnections();
    ReleaseResponses();
    return ok;
}
