// The transmitter library: AMI_Init sets the model up, every AMI_GetWave filters one block of the
// waveform with the state carried over from the previous block, AMI_Close finalizes.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "ami/AmiExport.h"
#include "ami/AmiInitFrame.h"
#include "ami/AmiModelInstance.h"
#include "modelbuilder/NumericConversion.h"
#include "models/tx/KT7MRL40562D9_Tx.h"

namespace {

struct TxInstance : AmiModelInstance<KT7MRL40562D9_Tx> {
    std::int32_t samplesPerBit = 0;
};

constexpr AmiLifecycleLines kLifecycle = {
    "Error occurred in KT7MRL40562D9_Tx::Setup(). ",
    "Error occurred in KT7MRL40562D9_Tx::Initialize(). ",
    "Error occurred in KT7MRL40562D9_Tx::Run(). ",
    "Error occurred in KT7MRL40562D9_Tx::Finalize(). ",
};
// The single clock value the model keeps: it reports no clock ticks.
constexpr double kNoClockTicks = -1.0;
constexpr const char* kOutOfMemory =
    "The IBIS-AMI model, KT7MRL40562D9_Tx, ran out of memory and stopped. ";

}  // namespace

AMI_EXPORT long AMI_Init(double* /*impulse_matrix*/, long /*row_size*/, long /*aggressors*/,
                         double sample_interval, double bit_time, char* AMI_parameters_in,
                         char** /*AMI_parameters_out*/, void** AMI_memory_handle, char** msg) {
    return RunAmiInit<TxInstance>(AMI_memory_handle, msg, kOutOfMemory, [&](TxInstance& instance) {
        KT7MRL40562D9_Tx& model = instance.model;
        // Not finite or out of range: the truncating conversion's INT32_MIN, without undefined
        // behaviour.
        instance.samplesPerBit =
            CorvanaModelBuilder::TruncateToInt32(bit_time / sample_interval + 0.5);
        const AmiParameterRead reads[] = {
            {"KT7MRL40562D9_Tx.tx_samplerate", &model.tx_samplerate, nullptr,
             "The IBIS-AMI model, KT7MRL40562D9_Tx, is unable to initialize the parameter "
             "tx_samplerate from the AMI_Init arguments.  The model will use the default "
             "setting. "},
            {"KT7MRL40562D9_Tx.FG", nullptr, &model.FG,
             "The IBIS-AMI model, KT7MRL40562D9_Tx, is unable to initialize the parameter FG from "
             "the AMI_Init arguments.  The model will use the default setting. "},
            {"KT7MRL40562D9_Tx.SW", nullptr, &model.SW,
             "The IBIS-AMI model, KT7MRL40562D9_Tx, is unable to initialize the parameter SW from "
             "the AMI_Init arguments.  The model will use the default setting. "},
        };
        ReadAmiParameters(instance, AMI_parameters_in, reads);
        LogTimeBase(instance, "KT7MRL40562D9_Tx", "tx_samplerate", model.tx_samplerate,
                    sample_interval);
        instance.AttachPorts();  // kept until AMI_Close
        if (!model.Setup()) {
            instance.Log(kLifecycle.setup);
            return false;
        }
        if (!model.Initialize()) {
            instance.Log(kLifecycle.initialize);
            return false;
        }
        return true;
    });
}

AMI_EXPORT long AMI_GetWave(double* wave, long wave_size, double* clock_times,
                            char** /*AMI_parameters_out*/, void* AMI_memory_handle) {
    if (AMI_memory_handle == nullptr) return 0;
    auto& instance = *static_cast<TxInstance*>(AMI_memory_handle);
    const std::int32_t size = AmiLong(wave_size);
    if (size < 0 || wave == nullptr || clock_times == nullptr) return 0;
    bool ok = true;
    try {  // the block path's work buffers grow with the block: running out ends this call only
        if (!instance.model.RunBlock(wave, size)) {
            for (std::int32_t i = 0; i < size; ++i) {
                if (!instance.Process(wave[i])) {
                    instance.Log(kLifecycle.run);
                    ok = false;
                    break;
                }
            }
        }
    } catch (...) {
        instance.Log(kOutOfMemory);
        ok = false;
    }
    // At most one entry is ever written: the model keeps a single clock value.
    const double bitsInBlock =
        std::floor(static_cast<double>(size) / static_cast<double>(instance.samplesPerBit));
    const std::int64_t bound =
        std::min<std::int64_t>(size, CorvanaModelBuilder::TruncateToInt32(bitsInBlock) + 101LL);
    if (bound >= 1) clock_times[0] = kNoClockTicks;
    return ok ? 1 : 0;
}

AMI_EXPORT long AMI_Close(void* AMI_memory_handle) {
    if (AMI_memory_handle == nullptr) return 1;
    auto* instance = static_cast<TxInstance*>(AMI_memory_handle);
    bool ok = false;
    try {  // nothing the model does may reach the host; the instance goes whatever happens
        ok = instance->model.Finalize();
        if (!ok) instance->Log(kLifecycle.finalize);
        instance->DetachPorts();
    } catch (...) {
        ok = false;
    }
    delete instance;
    return ok ? 1 : 0;
}
