#include "models/tx/KT7MRL40562D9_Tx.h"

#include <cstddef>

#include "models/ModelGraph.h"
#include "models/tx/TxStepResponses.h"

namespace {

struct Setting {
    int sw, fg;
};
// Which filter each path-fork output feeds; all carry the same sample.
constexpr Setting kForkTargets[8] = {{0, 0}, {0, 2}, {0, 3}, {1, 0},
                                     {1, 1}, {1, 2}, {1, 3}, {0, 1}};

}  // namespace

KT7MRL40562D9_Tx::KT7MRL40562D9_Tx()
    : blocks_{
          &StepFir[0][0],   &StepFir[0][2],   &StepFir[0][3],   &StepFir[1][0],   &StepFir[1][1],
          &StepFir[1][2],   &StepFir[1][3],   &HardLimit[0][1], &HardLimit[0][0], &HardLimit[1][1],
          &SoftLimit[1][1], &HardLimit[1][2], &SoftLimit[1][2], &HardLimit[1][3], &SoftLimit[1][3],
          &SoftLimit[0][1], &HardLimit[0][2], &SoftLimit[0][2], &StepFir[0][1],   &HardLimit[0][3],
          &SoftLimit[0][3], &HardLimit[1][0], &SoftLimit[1][0], &SoftLimit[0][0], &FgRound,
          &SwRound,         &Sw1Mux,          &SwConst,         &FgConst,         &FgFork,
          &InputGain,       &PathFork,        &SwMux,           &Sw0Mux} {}

KT7MRL40562D9_Tx::~KT7MRL40562D9_Tx() {
    ReleaseConnections();
    ReleaseResponses();
}

void KT7MRL40562D9_Tx::ReleaseConnections() {
    doubleStores_.Release();
    controlStores_.Release();
}

void KT7MRL40562D9_Tx::ReleaseResponses() {
    for (auto& row : StepFir)
        for (CorvanaModelBuilder::TimeResponseFIR& fir : row) ModelGraph::ReclaimStepResponse(fir);
}

bool KT7MRL40562D9_Tx::Setup() {
    setUp_ = false;
    initialized_ = false;
    ReleaseResponses();
    if (!ModelGraph::SampleRateWithinBound(*this, "tx_samplerate", tx_samplerate)) {
        ModelGraph::DeclareModelPort(Input);
        ModelGraph::DeclareModelPort(Output);
        return false;  // no filter is built: that is what the bound protects
    }
    for (int path = 0; path < 8; ++path) OutputLevel[path] = path < 4 ? 0.45 : 0.5;
    SoftLimitFactor = 2.0;
    for (int sw = 0; sw < 2; ++sw) {
        for (int fg = 0; fg < 4; ++fg) {
            const int path = 4 * sw + fg;
            ModelGraph::LendStepResponse(StepFir[sw][fg], TxStepResponses::kTimes[path],
                                         TxStepResponses::kValues[path], TxStepResponses::kPoints,
                                         tx_samplerate);
            const double level = OutputLevel[path];
            CorvanaModelBuilder::Limit& soft = SoftLimit[sw][fg];
            soft.K = 1.0;
            soft.Bottom = -(level * SoftLimitFactor);
            soft.Top = +(level * SoftLimitFactor);
            soft.Characteristic = 1;
            CorvanaModelBuilder::Limit& hard = HardLimit[sw][fg];
            hard.K = 1.0;
            hard.Bottom = -level;
            hard.Top = +level;
            hard.Characteristic = 0;
        }
    }
    for (DoubleMux* mux : {&Sw0Mux, &Sw1Mux}) {
        mux->BlockSize = 1;
        mux->Inputs.Resize(4);
    }
    SwMux.BlockSize = 1;
    SwMux.Inputs.Resize(2);
    SwConst.Value = static_cast<double>(SW);
    SwConst.InitialDelay = 0;
    FgConst.Value = static_cast<double>(FG);
    FgConst.InitialDelay = 0;
    FgFork.Outputs.Resize(2);
    InputGain.GainFactor = 10.0;
    PathFork.Outputs.Resize(8);
    const bool ok = ModelGraph::RunPhase(blocks_, &DFModel::Setup);
    ModelGraph::DeclareModelPort(Input);
    ModelGraph::DeclareModelPort(Output);
    setUp_ = ok;
    return ok;
}

bool KT7MRL40562D9_Tx::Initialize() {
    initialized_ = false;
    ReleaseConnections();
    if (PathFork.Outputs.Count != 8 || FgFork.Outputs.Count != 2 || SwMux.Inputs.Count != 2 ||
        Sw0Mux.Inputs.Count != 4 || Sw1Mux.Inputs.Count != 4)
        return false;  // never set up: there is no graph to wire
    doubleStores_.Connect(InputRelay, InputGain.Input);
    doubleStores_.Connect(InputGain.Output, PathFork.Input);
    for (int i = 0; i < 8; ++i) {
        const Setting s = kForkTargets[i];
        doubleStores_.Connect(*PathFork.Outputs.At(i), StepFir[s.sw][s.fg].Input);
    }
    for (int sw = 0; sw < 2; ++sw) {
        DoubleMux& selector = sw == 0 ? Sw0Mux : Sw1Mux;
        for (int fg = 0; fg < 4; ++fg) {
            doubleStores_.Connect(StepFir[sw][fg].Output, SoftLimit[sw][fg].Input);
            doubleStores_.Connect(SoftLimit[sw][fg].Output, HardLimit[sw][fg].Input);
            doubleStores_.Connect(HardLimit[sw][fg].Output, *selector.Inputs.At(fg));
        }
    }
    doubleStores_.Connect(Sw0Mux.Output, *SwMux.Inputs.At(0));
    doubleStores_.Connect(Sw1Mux.Output, *SwMux.Inputs.At(1));
    doubleStores_.Connect(SwMux.Output, OutputRelay);
    doubleStores_.Connect(FgConst.Output, FgRound.Input);
    doubleStores_.Connect(SwConst.Output, SwRound.Input);
    // The multiplexers' control inputs are not ports: Run reads these stores into Control.
    controlStores_.Connect(FgRound.Output, FgFork.Input);
    controlStores_.Connect(*FgFork.Outputs.At(0));
    controlStores_.Connect(*FgFork.Outputs.At(1));
    controlStores_.Connect(SwRound.Output);
    const bool ok = ModelGraph::RunPhase(blocks_, &DFModel::Initialize);
    initialized_ = ok && setUp_;
    return ok;
}

bool KT7MRL40562D9_Tx::FireChain(int sw, int fg) {
    bool ok = StepFir[sw][fg].Run();
    ok &= SoftLimit[sw][fg].Run();
    ok &= HardLimit[sw][fg].Run();
    return ok;
}

bool KT7MRL40562D9_Tx::Run() {
    // Without Initialize, or without the driver's port stores, there is nothing to fire on.
    if (controlStores_.Count() == 0 || Input.Data == nullptr || Output.Data == nullptr)
        return false;
    Input.CopyTo(0, InputRelay, 0, 1);
    bool ok = InputGain.Run();
    ok &= PathFork.Run();
    ok &= FgConst.Run();
    ok &= FgRound.Run();
    ok &= FgFork.Run();
    for (const Setting s :
         {Setting{0, 1}, Setting{1, 3}, Setting{1, 2}, Setting{1, 1}, Setting{1, 0}})
        ok &= FireChain(s.sw, s.fg);
    Sw1Mux.Control = FgFork.Outputs.At(0)->Current();
    ok &= Sw1Mux.Run();
    for (const Setting s : {Setting{0, 3}, Setting{0, 2}, Setting{0, 0}})
        ok &= FireChain(s.sw, s.fg);
    Sw0Mux.Control = FgFork.Outputs.At(1)->Current();
    ok &= Sw0Mux.Run();
    ok &= SwConst.Run();
    ok &= SwRound.Run();
    SwMux.Control = SwRound.Output.Current();
    ok &= SwMux.Run();
    OutputRelay.CopyTo(0, Output, 0, 1);
    return ok;
}

// The block path computes only the selected chain. Run fires all eight, but the seven others feed
// nothing but the multiplexers, which drop them, and fail never: outputs, log, stderr lines,
// results and clock_times are the same. The selected filter's delay line ends as Run leaves it,
// so blocks and single firings may follow each other. A selector out of range, or a model not
// ready to run, keeps the per-sample graph with its messages.
bool KT7MRL40562D9_Tx::RunBlock(double* samples, std::int32_t count) {
    if (!initialized_ || Input.Data == nullptr || Output.Data == nullptr) return false;
    const std::int32_t sw = CorvanaModelBuilder::TypeConverterRound::Convert(SwConst.Value);
    const std::int32_t fg = CorvanaModelBuilder::TypeConverterRound::Convert(FgConst.Value);
    if (sw < 0 || sw > 1 || fg < 0 || fg > 3 || count < 0) return false;
    CorvanaModelBuilder::TimeResponseFIR& fir = StepFir[sw][fg];
    if (!fir.BlockReady()) return false;
    fir.RunBlock(samples, samples, static_cast<std::size_t>(count), InputGain.GainFactor);
    const CorvanaModelBuilder::LimitChain chain(SoftLimit[sw][fg], HardLimit[sw][fg]);
    chain.ApplyBlock(samples, static_cast<std::size_t>(count));
    return true;
}

bool KT7MRL40562D9_Tx::Finalize() {
    initialized_ = false;
    const bool ok = ModelGraph::RunPhase(blocks_, &DFModel::Finalize);
    ReleaseConnections();
    ReleaseResponses();
    return ok;
}
