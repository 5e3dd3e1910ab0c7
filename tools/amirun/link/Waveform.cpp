#include "tools/amirun/link/Waveform.h"

#include <algorithm>
#include <cmath>

#include "tools/amirun/channel/Convolution.h"
#include "tools/amirun/io/Limits.h"

namespace amirun {

std::vector<int> PatternBits(int prbsOrder, long bits, int samplesPerBit) {
    if (double(bits) * double(samplesPerBit) > kMaxWaveSamples)
        throw AmiError(std::to_string(bits) + " bits of " + std::to_string(samplesPerBit) +
                       " samples are more than the " + std::to_string(long(kMaxWaveSamples)) +
                       " samples amirun handles");
    Prbs prbs(prbsOrder);
    std::vector<int> pattern(std::size_t(std::max(bits, 0L)));
    for (int& bit : pattern) bit = prbs.Next();
    return pattern;
}

std::vector<double> ThroughGetWave(const AmiLibrary& library, const TimeBase& time,
                                   const std::string& parameters, std::vector<double>& impulse,
                                   std::vector<double> wave, std::size_t block,
                                   const std::string& what, std::vector<double>* clock,
                                   std::string* message) {
    AmiSession session(library, impulse, long(impulse.size()), 0, time.dt, 1.0 / time.bitRate,
                       parameters);
    if (message != nullptr) *message = session.Message();
    if (block == 0) block = std::max<std::size_t>(wave.size(), 1);
    for (std::size_t from = 0; from < wave.size(); from += block) {
        session.GetWave(wave.data() + from, long(std::min(block, wave.size() - from)));
        if (clock == nullptr) continue;
        const std::vector<double> ticks = session.ClockTimes();
        clock->insert(clock->end(), ticks.begin(), ticks.end());
    }
    RequireFinite(wave, what);
    return wave;
}

std::vector<double> GetWaveStep(const AmiLibrary& library, const TimeBase& time,
                                const std::string& parameters, const std::vector<double>& impulse,
                                double from, double to, std::size_t settle, std::size_t length,
                                std::string* message) {
    std::vector<double> wave(settle + length, to);
    std::fill(wave.begin(), wave.begin() + long(settle), from);
    std::vector<double> matrix = impulse;
    wave = ThroughGetWave(library, time, parameters, matrix, std::move(wave), 0,
                          "the step response AMI_GetWave returned", nullptr, message);
    // The level before the step: the output for a constant `from` (0 when nothing came before).
    const double before = settle > 0 ? wave[settle - 1] : 0.0;
    std::vector<double> step(wave.begin() + long(settle), wave.end());
    for (double& v : step) v = (v - before) / (to - from);
    return step;
}

std::size_t SkippedBits(long bits) { return std::min<std::size_t>(64, std::size_t(bits) / 4); }

WaveformResult RunWaveform(const AmiLibrary& library, const TimeBase& time,
                           const std::string& parameters, const std::vector<double>& impulse,
                           const WaveformRequest& request) {
    if (!library.HasGetWave()) throw AmiError(library.Path() + " has no AMI_GetWave");
    WaveformResult result;
    result.bits = PatternBits(request.prbsOrder, request.bits, time.samplesPerBit);
    result.input = NrzWaveform(result.bits, time.samplesPerBit, request.amplitude);
    std::vector<double> matrix = impulse;
    const std::size_t block =
        std::size_t(std::min(request.blockBits, request.bits)) * std::size_t(time.samplesPerBit);
    std::vector<double> wave =
        ThroughGetWave(library, time, parameters, matrix, result.input, block,
                       "the waveform AMI_GetWave returned", nullptr, &result.message);
    result.output = request.throughChannel ? Convolve(wave, impulse, time.dt) : std::move(wave);
    RequireFinite(result.output, "the waveform after the channel");
    AddNoise(result.output, request.impairments.noiseRms);
    const std::vector<double> jitter =
        JitterOffsets(result.bits.size(), request.impairments, time.bitRate);
    result.eye =
        WaveformEye(result.output, result.bits, time.samplesPerBit, SkippedBits(request.bits),
                    request.maxLatencyBits, request.impairments.Jitter() ? &jitter : nullptr);
    return result;
}

}  // namespace amirun
