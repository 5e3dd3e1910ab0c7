#pragma once

// The IBIS-AMI entry points, the only symbols the model libraries export. On Windows a .def file
// names the exports.
#if defined(_WIN32)
#define AMI_EXPORT extern "C"
#else
#define AMI_EXPORT extern "C" __attribute__((visibility("default")))
#endif

AMI_EXPORT long AMI_Init(double* impulse_matrix, long row_size, long aggressors,
                         double sample_interval, double bit_time, char* AMI_parameters_in,
                         char** AMI_parameters_out, void** AMI_memory_handle, char** msg);
AMI_EXPORT long AMI_GetWave(double* wave, long wave_size, double* clock_times,
                            char** AMI_parameters_out, void* AMI_memory_handle);
AMI_EXPORT long AMI_Close(void* AMI_memory_handle);

// The entry points' types, for hosts and tests that look them up in a loaded library.
using AmiInitFn = decltype(&AMI_Init);
using AmiGetWaveFn = decltype(&AMI_GetWave);
using AmiCloseFn = decltype(&AMI_Close);
