#pragma once

#include <cstddef>

namespace amirun {

// The bounds that keep every command within memory and time, whatever the files and options.
// Samples of one waveform (bits times samples per unit interval): 400 MB of doubles.
constexpr double kMaxWaveSamples = 5e7;
// Points of the transform grid that turns a frequency response into an impulse response.
constexpr std::size_t kMaxGridPoints = std::size_t{1} << 22;
// Samples of one impulse-response window (a channel column): 16 MB of doubles.
constexpr std::size_t kMaxWindowSamples = std::size_t{1} << 21;
// The shortest window taken from a channel, in unit intervals.
constexpr int kMinWindowBits = 32;
// Samples per unit interval amirun works with.
constexpr int kMinSamplesPerBit = 2;
constexpr int kMaxSamplesPerBit = 4096;
// Interference and crosstalk terms of one sampling instant of the statistical eye (unit
// intervals of the window times channel columns). Its work grows with their square: at this
// bound one eye of 64 phases takes about a minute.
constexpr std::size_t kMaxEyeTerms = 8192;

}  // namespace amirun
