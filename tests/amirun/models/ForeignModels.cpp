// Test models shaped like other makers' rather than this kit's, each with a closed-form eye so
// that a host that takes the wrong impulse, ignores the receiver's clock or counts its training
// bits gives a different answer. Built once per model:
// - KT_DFE_RX: a receiver with both AMI_Init and AMI_GetWave. AMI_Init returns half the impulse
//   (an approximation that is deliberately off). AMI_GetWave scales each bit by a triangle over
//   the unit interval (1 at its middle, 0.5 at its edges), subtracts a one-tap DFE's
//   dfe_tap * d[k-1] (d: the sign of the input at the bit's middle), and returns a clock that
//   samples clock_phase UI into each bit, alternately clock_wobble UI early and late. For its
//   first train_bits bits it inverts its output, as an adaptation that has not settled.
// - KT_WAVE_RX: a receiver with AMI_GetWave only: it multiplies the waveform by gain.
// - KT_INIT_TX: a transmitter with AMI_Init only: it multiplies the impulse by gain.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "ami/AmiExport.h"

namespace {

char kMessage[] = "foreign-shaped test model";

// The value of "(name value)" in the parameter string, or `fallback`.
double Parameter(const char* text, const char* name, double fallback) {
    if (text == nullptr) return fallback;
    char key[64] = "(";
    std::strncat(key, name, sizeof key - 3);
    std::strcat(key, " ");
    const char* at = std::strstr(text, key);
    return at == nullptr ? fallback : std::strtod(at + std::strlen(key), nullptr);
}

struct State {
    double dt = 0.0, bitTime = 0.0;
    double gain = 1.0;
    double tap = 0.0, clockPhase = 0.5, wobble = 0.0;
    long trainBits = 0;
    long sample = 0;        // samples processed so far, over every AMI_GetWave call
    double decision = 0.0;  // d[k-1]
    double current = 0.0;   // d[k], once the bit's middle has passed
    long bit = -1, decided = -1;
};

}  // namespace

AMI_EXPORT long AMI_Init(double* impulse, long rows, long aggressors, double sample_interval,
                         double bit_time, char* parameters_in, char** parameters_out,
                         void** memory_handle, char** msg) {
    if (parameters_out != nullptr) *parameters_out = nullptr;
    if (msg != nullptr) *msg = kMessage;
    State* state = new (std::nothrow) State;
    if (state == nullptr || memory_handle == nullptr) {
        delete state;
        return 0;
    }
    state->dt = sample_interval;
    state->bitTime = bit_time;
    state->gain = Parameter(parameters_in, "gain", 1.0);
    state->tap = Parameter(parameters_in, "dfe_tap", 0.0);
    state->clockPhase = Parameter(parameters_in, "clock_phase", 0.5);
    state->wobble = Parameter(parameters_in, "clock_wobble", 0.0);
    state->trainBits = long(Parameter(parameters_in, "train_bits", 0.0));
    *memory_handle = state;
#if defined(KT_DFE_RX)
    const double scale = 0.5;
#elif defined(KT_INIT_TX)
    const double scale = state->gain;
#else
    const double scale = 1.0;
#endif
    if (impulse != nullptr)
        for (long i = 0; i < rows * (aggressors + 1); ++i) impulse[i] *= scale;
    return 1;
}

#if !defined(KT_INIT_TX)
AMI_EXPORT long AMI_GetWave(double* wave, long wave_size, double* clock_times,
                            char** parameters_out, void* memory_handle) {
    if (parameters_out != nullptr) *parameters_out = nullptr;
    State* s = static_cast<State*>(memory_handle);
    if (s == nullptr || wave_size < 0) return 0;
    long ticks = 0;
#if defined(KT_WAVE_RX)
    for (long i = 0; i < wave_size; ++i) wave[i] *= s->gain;
#else
    const double spb = s->bitTime / s->dt;
    for (long i = 0; i < wave_size; ++i, ++s->sample) {
        const double ui = double(s->sample) / spb;
        const long k = long(std::floor(ui + 1e-9));
        const double phase = ui - double(k);
        if (k != s->bit) {  // a new bit: the last one's decision feeds back; its clock time
            s->decision = s->current;
            s->bit = k;
            const double late = (k % 2 == 0 ? -1.0 : 1.0) * s->wobble;
            const double tick = (double(k) + s->clockPhase + late - 0.5) * s->bitTime;
            if (tick >= 0.0 && clock_times != nullptr) clock_times[ticks++] = tick;
        }
        if (phase >= 0.5 && s->decided != k) {  // the input at the bit's middle
            s->current = wave[i] > 0.0 ? 1.0 : -1.0;
            s->decided = k;
        }
        const double triangle = 1.0 - std::fabs(phase - 0.5);
        double y = wave[i] * triangle - s->tap * s->decision;
        if (k < s->trainBits) y = -y;
        wave[i] = y;
    }
#endif
    if (clock_times != nullptr) clock_times[ticks] = -1.0;
    return 1;
}
#endif

AMI_EXPORT long AMI_Close(void* memory_handle) {
    delete static_cast<State*>(memory_handle);
    return 1;
}
