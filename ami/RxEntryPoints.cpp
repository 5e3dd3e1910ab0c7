// The receiver library: all the work happens in AMI_Init, column by column of the impulse
// matrix, each column with its own Setup, Initialize, Runs and Finalize.
#include <cstdint>

#include "ami/AmiExport.h"
#include "ami/AmiInitFrame.h"
#include "ami/AmiModelInstance.h"
#include "ami/RxColumns.h"
#include "models/rx/KT7MRL40562D9_Rx.h"

namespace {

using RxInstance = AmiModelInstance<KT7MRL40562D9_Rx>;

constexpr AmiLifecycleLines kLifecycle = {
    "Error occurred in KT7MRL40562D9_Rx::Setup(). ",
    "Error occurred in KT7MRL40562D9_Rx::Initialize(). ",
    "Error occurred in KT7MRL40562D9_Rx::Run(). ",
    "Error occurred in KT7MRL40562D9_Rx::Finalize(). ",
};
constexpr const char* kNoMatrix =
    "The IBIS-AMI model, KT7MRL40562D9_Rx, received no impulse matrix to process. ";
constexpr const char* kOutOfMemory =
    "The IBIS-AMI model, KT7MRL40562D9_Rx, ran out of memory and stopped. ";

}  // namespace

AMI_EXPORT long AMI_Init(double* impulse_matrix, long row_size, long aggressors,
                         double sample_interval, double /*bit_time*/, char* AMI_parameters_in,
                         char** /*AMI_parameters_out*/, void** AMI_memory_handle, char** msg) {
    return RunAmiInit<RxInstance>(AMI_memory_handle, msg, kOutOfMemory, [&](RxInstance& instance) {
        KT7MRL40562D9_Rx& model = instance.model;
        const AmiParameterRead reads[] = {
            {"KT7MRL40562D9_Rx.rx_samplerate", &model.rx_samplerate, nullptr,
             "The IBIS-AMI model, KT7MRL40562D9_Rx, is unable to initialize the parameter "
             "rx_samplerate from the AMI_Init arguments.  The model will use the default "
             "setting. "},
            {"KT7MRL40562D9_Rx.EQ", nullptr, &model.EQ,
             "The IBIS-AMI model, KT7MRL40562D9_Rx, is unable to initialize the parameter EQ from "
             "the AMI_Init arguments.  The model will use the default setting. "},
        };
        ReadAmiParameters(instance, AMI_parameters_in, reads);
        LogTimeBase(instance, "KT7MRL40562D9_Rx", "rx_samplerate", model.rx_samplerate,
                    sample_interval);
        const std::int32_t rows = AmiLong(row_size);
        const std::int32_t columns = AmiLong(aggressors);
        if (impulse_matrix == nullptr && rows > 0 && columns >= 0) {
            instance.Log(kNoMatrix);
            return false;
        }
        // The port stores live in the instance; they are detached again before AMI_Init returns.
        instance.AttachPorts();
        const bool ok = FilterColumns(instance, impulse_matrix, rows, columns, kLifecycle);
        instance.DetachPorts();
        return ok;
    });
}

AMI_EXPORT long AMI_Close(void* AMI_memory_handle) {
    delete static_cast<RxInstance*>(AMI_memory_handle);
    return 1;
}
