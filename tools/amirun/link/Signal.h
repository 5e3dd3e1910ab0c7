#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/amirun/io/Picture.h"

namespace amirun {

// Fibonacci LFSR of the ITU patterns PRBS7 (x^7+x^6+1), PRBS15 (x^15+x^14+1), PRBS23
// (x^23+x^18+1) and PRBS31 (x^31+x^28+1), started from all ones.
class Prbs {
public:
    explicit Prbs(int order);  // throws std::invalid_argument for other orders
    int Next();
    std::uint64_t Period() const { return (std::uint64_t{1} << order_) - 1; }

private:
    int order_;
    int tap_;
    std::uint32_t state_;
};

// Response to one bit of amplitude 1 lasting samplesPerBit samples: dt times the running sum of
// the impulse response over the bit.
std::vector<double> PulseFromImpulse(const std::vector<double>& impulse, int samplesPerBit,
                                     double dt);

// Sample times n * dt * scale for n below `count`.
std::vector<double> Times(std::size_t count, double dt, double scale = 1.0);

// NRZ waveform of +-amplitude levels, samplesPerBit samples a bit.
std::vector<double> NrzWaveform(const std::vector<int>& bits, int samplesPerBit, double amplitude);

struct Eye {
    double height = 0.0;  // volts, at the best phase; negative when closed
    double width = 0.0;   // unit intervals with an open eye
    int bestPhase = 0;    // sample within the unit interval
};

// Peak-distortion analysis of a pulse response for symbols +-1/2 (a 1 V swing): at each phase the
// worst-case inner eye is c0 - sum |c_k| over the other cursors; the main cursor is the pulse's
// peak. Width counts the phases with an open eye, contiguous around the best one.
Eye PeakDistortionEye(const std::vector<double>& pulse, int samplesPerBit);

// Measured eye of a waveform that carries `bits` with some latency: bit k is sampled at
// k * samplesPerBit + offset for offsets up to maxLatencyBits unit intervals. At each offset the
// opening is the lowest sample of a 1 minus the highest sample of a 0 (negative when closed);
// bits before skipBits are left out. bestPhase is the best whole offset in samples. Between
// samples, linearly, at 64 phases per unit interval or finer: the height is the best of them
// within a sample of bestPhase, the width counts them. With `jitter`, bit k is sampled jitter[k]
// unit intervals late. A sample must clear the threshold by `margin` / 2 either way (a
// receiver's sensitivity): the opening is less by `margin`.
Eye WaveformEye(const std::vector<double>& wave, const std::vector<int>& bits, int samplesPerBit,
                std::size_t skipBits, int maxLatencyBits,
                const std::vector<double>* jitter = nullptr, double margin = 0.0);

// The eye at a receiver's own sampling instants: half a unit interval after each of its clock
// times (seconds from the waveform's first sample, `dt` apart). Each instant belongs to the bit
// whose slot it falls in at the clock's mean phase, less a latency of whole bits chosen as the
// one that opens the eye most. The height is the opening at the instants themselves; the width
// counts the shifts of all of them (1/64 UI apart) that keep the eye open. The clock's jitter is
// the spread of its instants about an ideal clock of the bit rate at that mean phase.
struct ClockedEye {
    Eye eye;                   // bestPhase: the clock's mean phase, in samples
    std::size_t instants = 0;  // clock times that sampled a counted bit
    double phaseUi = 0.0;      // mean phase of the sampling instants within a unit interval
    double jitterRmsUi = 0.0, jitterPpUi = 0.0;
};
ClockedEye ClockEye(const std::vector<double>& wave, const std::vector<int>& bits,
                    int samplesPerBit, double dt, const std::vector<double>& clockTimes,
                    std::size_t skipBits, int maxLatencyBits,
                    const std::vector<double>* jitter = nullptr, double margin = 0.0);

// The fold puts sample offset `center` (a sampling point) in the middle of the two unit intervals.
EyeDensity FoldedDensity(const std::vector<double>& wave, int samplesPerBit, std::size_t skipBits,
                         int bins, int center);

// The density of a waveform's traces, for an eye picture: upsampled by linear interpolation
// between its samples (so that traces are drawn as segments, not dots) to about 96 points per
// unit interval, then folded with sample `center` in the middle; the last 4000 bits at most.
EyeDensity TraceDensity(const std::vector<double>& wave, int samplesPerBit, std::size_t skipBits,
                        int center);

}  // namespace amirun
