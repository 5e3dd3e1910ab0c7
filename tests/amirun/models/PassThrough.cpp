// Test models that change nothing: the receiver's AMI_Init hands the impulse matrix back as it
// came, the transmitter's AMI_GetWave the waveform. Through them a link is the channel alone, so
// its eyes have closed forms. Built once as a receiver (KT_PASS_RX) and once as a transmitter.
#include <cstddef>

#include "ami/AmiExport.h"

namespace {
char kMessage[] = "pass-through test model";
int instance = 0;
}  // namespace

AMI_EXPORT long AMI_Init(double*, long, long, double, double, char*, char** parameters_out,
                         void** memory_handle, char** msg) {
    if (parameters_out != nullptr) *parameters_out = nullptr;
    if (memory_handle != nullptr) *memory_handle = &instance;
    if (msg != nullptr) *msg = kMessage;
    return 1;
}

#if !defined(KT_PASS_RX)
AMI_EXPORT long AMI_GetWave(double*, long wave_size, double* clock_times, char** parameters_out,
                            void*) {
    if (parameters_out != nullptr) *parameters_out = nullptr;
    if (clock_times != nullptr && wave_size >= 0) clock_times[0] = -1.0;
    return 1;
}
#endif

AMI_EXPORT long AMI_Close(void*) { return 1; }
