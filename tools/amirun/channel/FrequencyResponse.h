#pragma once

#include <complex>
#include <cstddef>
#include <vector>

#include "tools/amirun/channel/ChannelReport.h"

namespace amirun {

// From a transfer function given at ascending frequencies to an impulse response, with the band
// rules that keep a run from reading more into a file than it holds:
//   - the file must reach the Nyquist frequency of the bit rate, unless `extrapolate`: then |H|
//     continues the dB slope and the phase continues the delay of the file's top fifth, up to the
//     model's Nyquist frequency;
//   - at least kMinPoints points up to the used band's top, and no gap wider than a tenth of the
//     bit rate's Nyquist frequency (finer structure than that cannot be interpolated);
//   - below the first point |H| holds its first value and the phase follows its first slope to
//     DC, where H is real: its sign is kept, so a P/N swap stays an inverted channel;
//   - the band's top is tapered by a raised cosine.
// Each rule's outcome goes into `report` (notes, warnings, f_max, extrapolated, inverted).
struct BandOptions {
    double dt = 0.0;       // the model's sample interval
    double bitRate = 0.0;  // for the Nyquist frequency
    bool extrapolate = false;
};
constexpr std::size_t kMinPoints = 10;

// The transform grid for the file's frequency spacing (its median), bounded by kMaxGridPoints.
std::size_t GridPoints(const std::vector<double>& frequencies, double dt, std::size_t minimum);

// The causal half of the impulse response on a grid of `points` samples (1/s, every dt).
// Throws ChannelError when a band rule refuses the file.
std::vector<double> ImpulseFromResponse(const std::vector<double>& frequencies,
                                        const std::vector<std::complex<double>>& response,
                                        std::size_t points, const BandOptions& options,
                                        ChannelReport& report);

// H(f) of an impulse response sampled every dt (1/s), by direct summation.
std::complex<double> ResponseAt(const std::vector<double>& impulse, double dt, double f);

// |H(f)| in dB of an impulse response sampled every dt (in 1/s), at frequencies up to
// `highest`, on the grid of its zero-padded transform.
void MagnitudeResponse(const std::vector<double>& impulse, double dt, double highest,
                       std::vector<double>& frequencies, std::vector<double>& decibels);

// What a datasheet says of a filter's impulse response (1/s, every dt): its DC gain, its gain at
// a quarter of the Nyquist frequency and at the Nyquist frequency (dB above DC), and the peak of
// |H| up to twice that frequency, as a frequency and as a boost in dB above DC.
struct ResponseFigures {
    double dcGain = 0.0;
    double quarterDb = 0.0;
    double nyquistDb = 0.0;
    double peakHz = 0.0;
    double peakBoostDb = 0.0;
};
ResponseFigures FiguresOf(const std::vector<double>& impulse, double dt, double nyquist);

}  // namespace amirun
