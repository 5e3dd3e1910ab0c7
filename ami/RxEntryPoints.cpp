// The receiver library: all the work happens in AMI_Init, column by column of the impulse
// matrix, each column with its own Setup, Initialize, Runs and Finalize.
#include <cstdint>

#include "ami/AmiExport.h"
#include "ami/AmiModelInstance.h"
#include "models/rx/KT7MRL40562D9_Rx.h"

namespace {

using RxInstance = AmiModelInstance<KT7MRL40562D9_Rx>;

constexpr const char* kSetupFailed = "Error occurred in KT7MRL40562D9_Rx::Setup(). ";
constexpr const char* kInitializeFailed = "Error occurred in KT7MRL40562D9_Rx::Initialize(). ";
constexpr const char* kRunFailed = "Error occurred in KT7MRL40562D9_Rx::Run(). ";
constexpr const char* kFinalizeFailed = "Error occurred in KT7MRL40562D9_Rx::Finalize(). ";
constexpr const char* kNoMatrix =
    "The IBIS-AMI model, KT7MRL40562D9_Rx, received no impulse matrix to process. ";
constexpr const char* kOutOfMemory =
    "The IBIS-AMI model, KT7MRL40562D9_Rx, ran out of memory and stopped. ";

bool Equalize(RxInstance& instance, double* matrix, std::int32_t rows, std::int32_t aggressors) {
    KT7MRL40562D9_Rx& model = instance.model;
    bool ok = true;
    for (std::int64_t column = 0; column <= aggressors && ok; ++column) {
        if (!model.Setup()) {
            instance.Log(kSetupFailed);
            ok = false;
        } else if (!model.Initialize()) {
            instance.Log(kInitializeFailed);
            ok = false;
        } else {
            double* samples = matrix + column * rows;
            for (std::int32_t i = 0; i < rows; ++i) {
                if (!instance.Process(samples[i])) {
                    instance.Log(kRunFailed);
                    ok = false;
                    break;
                }
            }
        }
        if (!model.Finalize()) {
            instance.Log(kFinalizeFailed);
            ok = false;
        }
    }
    return ok;
}

}  // namespace

AMI_EXPORT long AMI_Init(double* impulse_matrix, long row_size, long aggressors,
                         double /*sample_interval*/, double /*bit_time*/, char* AMI_parameters_in,
                         char** /*AMI_parameters_out*/, void** AMI_memory_handle, char** msg) {
    RxInstance* instance = nullptr;
    try {
        instance = new RxInstance();
    } catch (...) {
        if (AMI_memory_handle != nullptr) *AMI_memory_handle = nullptr;
        return 0;
    }
    bool ok = true;
    try {
        KT7MRL40562D9_Rx& model = instance->model;
        const AmiParameterRead reads[] = {
            {"KT7MRL40562D9_Rx.rx_samplerate", &model.rx_samplerate, nullptr,
             "The IBIS-AMI model, KT7MRL40562D9_Rx, is unable to initialize the parameter "
             "rx_samplerate from the AMI_Init arguments.  The model will use the default "
             "setting. "},
            {"KT7MRL40562D9_Rx.EQ", nullptr, &model.EQ,
             "The IBIS-AMI model, KT7MRL40562D9_Rx, is unable to initialize the parameter EQ from "
             "the AMI_Init arguments.  The model will use the default setting. "},
        };
        ReadAmiParameters(*instance, AMI_parameters_in, reads);
        const std::int32_t rows = AmiLong(row_size);
        const std::int32_t columns = AmiLong(aggressors);
        if (impulse_matrix == nullptr && rows > 0 && columns >= 0) {
            instance->Log(kNoMatrix);
            ok = false;
        } else {
            instance->AttachPorts();
            ok = Equalize(*instance, impulse_matrix, rows, columns);
        }
    } catch (...) {
        instance->Log(kOutOfMemory);
        ok = false;
    }
    instance->DetachPorts();
    return FinishAmiInit(instance, AMI_memory_handle, msg, ok);
}

AMI_EXPORT long AMI_Close(void* AMI_memory_handle) {
    delete static_cast<RxInstance*>(AMI_memory_handle);
    return 1;
}
