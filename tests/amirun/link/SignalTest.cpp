#include "tools/amirun/link/Signal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "tools/amirun/channel/BuiltInLine.h"
#include "tools/amirun/channel/Convolution.h"
#include "tools/amirun/link/StatEye.h"

namespace amirun {
namespace {

std::vector<int> Bits(Prbs& prbs, std::size_t n) {
    std::vector<int> bits(n);
    for (int& bit : bits) bit = prbs.Next();
    return bits;
}

TEST(Prbs, Prbs7StartsWithTheStandardPatternAndRepeatsEvery127Bits) {
    Prbs prbs(7);
    const std::vector<int> bits = Bits(prbs, 3 * 127);
    std::string start;
    for (int i = 0; i < 14; ++i) start += char('0' + bits[std::size_t(i)]);
    EXPECT_EQ("00000010000011", start);
    int ones = 0;
    for (std::size_t i = 0; i < 127; ++i) {
        ones += bits[i];
        EXPECT_EQ(bits[i], bits[i + 127]);
    }
    EXPECT_EQ(64, ones);
    for (std::size_t period = 1; period < 127; ++period) {
        bool repeats = true;
        for (std::size_t i = 0; i < 127 && repeats; ++i) repeats = bits[i] == bits[i + period];
        EXPECT_FALSE(repeats) << period;
    }
}

TEST(Prbs, LongerPatternsHaveTheirFullPeriods) {
    for (int order : {15, 23, 31}) {
        Prbs prbs(order);
        EXPECT_EQ((std::uint64_t{1} << order) - 1, prbs.Period());
    }
    Prbs prbs15(15);
    const std::vector<int> bits = Bits(prbs15, 2 * 32767);
    int ones = 0;
    for (std::size_t i = 0; i < 32767; ++i) ones += bits[i];
    EXPECT_EQ(16384, ones);
    EXPECT_TRUE(std::equal(bits.begin(), bits.begin() + 32767, bits.begin() + 32767));
    EXPECT_FALSE(std::equal(bits.begin(), bits.begin() + 1000, bits.begin() + 16000));
    EXPECT_THROW(Prbs(9), std::invalid_argument);
}

TEST(PeakDistortionEye, MatchesAHandWorkedPulse) {
    // Two samples a bit, peak 1.0 at index 2. Phase of the peak: cursors 0, 0.2, 0 besides it,
    // so 1.0 - 0.2 = 0.8. The other phase: 0.1 against 0.8 + 0.05, closed.
    const std::vector<double> pulse{0.0, 0.1, 1.0, 0.8, 0.2, 0.05, 0.0};
    const Eye eye = PeakDistortionEye(pulse, 2);
    EXPECT_DOUBLE_EQ(0.8, eye.height);
    EXPECT_DOUBLE_EQ(0.5, eye.width);
    EXPECT_EQ(0, eye.bestPhase);

    const std::vector<double> clean{0.0, 0.0, 0.0, 0.5, 1.0, 0.5, 0.0, 0.0, 0.0};
    const Eye open = PeakDistortionEye(clean, 4);  // phases 2..5: 0.5, 1.0, 0.5, 0 against no ISI
    EXPECT_DOUBLE_EQ(1.0, open.height);
    EXPECT_DOUBLE_EQ(0.75, open.width);
}

TEST(WaveformEye, FindsTheLatencyAndOpeningOfADelayedWaveform) {
    Prbs prbs(7);
    const std::vector<int> bits = Bits(prbs, 400);
    std::vector<double> wave = NrzWaveform(bits, 8, 0.5);
    wave.insert(wave.begin(), 13, 0.0);  // a latency of 13 samples
    wave.resize(bits.size() * 8);
    const Eye eye = WaveformEye(wave, bits, 8, 4, 4);
    EXPECT_DOUBLE_EQ(1.0, eye.height);
    // Sampled between samples at 64 phases per UI, the eye is open at every phase but the
    // crossing itself, half-way between one bit's last sample and the next one's first.
    EXPECT_DOUBLE_EQ(63.0 / 64.0, eye.width);
    EXPECT_GE(eye.bestPhase, 13);
    EXPECT_LT(eye.bestPhase, 21);

    std::vector<double> inverted(wave);
    for (double& v : inverted) v = -v;  // every bit wrong: the eye is closed
    EXPECT_LT(WaveformEye(inverted, bits, 8, 4, 4).height, 0.0);
}

// A linear link's waveform against its pulse: PRBS7 holds every pattern of a pulse three unit
// intervals long, so the measured eye is the peak-distortion eye, and both interpolate linearly
// on the same lattice (a 16th of a sample, 64 phases per UI). The statistical eye below the
// worst pattern's probability gives it from the pulse alone: widths equal to a phase, heights
// within rounding.
TEST(WaveformEye, ResolvesPhasesBetweenSamplesAsThePulseDoes) {
    const std::vector<double> pulse{0.0,   0.013, 0.05,  0.113, 0.201, 0.314,
                                    0.452, 0.615, 0.798, 0.686, 0.589, 0.506};
    Prbs prbs(7);
    const std::vector<int> bits = Bits(prbs, 600);
    std::vector<double> wave(bits.size() * 4 + pulse.size(), 0.0);
    for (std::size_t k = 0; k < bits.size(); ++k)
        for (std::size_t n = 0; n < pulse.size(); ++n)
            wave[k * 4 + n] += (bits[k] ? 0.5 : -0.5) * pulse[n];
    wave.resize(bits.size() * 4);
    const Eye measured = WaveformEye(wave, bits, 4, 8, 4);
    const StatisticalEye fromPulse = ComputeStatisticalEye(pulse, {}, 4, 1e-30, 64);
    EXPECT_NEAR(fromPulse.width, measured.width, 1.0 / 64 + 1e-12);
    EXPECT_NE(0.0, std::fmod(measured.width * 4.0, 1.0)) << measured.width;  // between samples
    EXPECT_NEAR(fromPulse.height, measured.height, 1e-9);
}

// Two closed forms of one line: the step response in time (erfc terms) against H(s) in
// frequency. The samples' transform must be H(f), with its settled area and the requested loss.
TEST(LossyLineImpulse, MatchesItsTransferFunctionAndSettles) {
    const double dt = 1.0 / 3.84e11;
    const double bitRate = 32e9;
    const std::vector<double> h = LossyLineImpulse(12.0, bitRate, dt, 1 << 16);
    double area = 0.0;
    for (double v : h) area += v * dt;
    EXPECT_GE(*std::min_element(h.begin(), h.end()), 0.0);
    EXPECT_NEAR(1.0, area, 1e-6);  // 170 ns: long past its DC-resistance corner
    for (double f : {0.2e9, 2e9, 8e9, 16e9, 30e9}) {
        SCOPED_TRACE(f);
        std::complex<double> sum(0.0, 0.0);
        // Each sample is the step's rise over an interval: centred half a sample later, and a
        // box of one interval, whose sinc the closed form lacks.
        for (std::size_t n = 0; n < h.size(); ++n)
            sum += h[n] * dt * std::polar(1.0, -2 * M_PI * f * (double(n) + 0.5) * dt);
        const double sinc = std::sin(M_PI * f * dt) / (M_PI * f * dt);
        const std::complex<double> expected = LossyLineResponse(12.0, bitRate, f) * sinc;
        EXPECT_LT(std::abs(sum - expected), 2e-3 * std::abs(expected) + 1e-6);
    }
    EXPECT_NEAR(-12.0, 20.0 * std::log10(std::abs(LossyLineResponse(12.0, bitRate, 16e9))), 1e-9);
    const std::vector<double> lossless = LossyLineImpulse(0.0, bitRate, dt, 4);
    EXPECT_EQ((std::vector<double>{1.0 / dt, 0.0, 0.0, 0.0}), lossless);
}

TEST(PulseFromImpulse, IsTheRunningAreaOverOneBit) {
    const std::vector<double> pulse = PulseFromImpulse({2.0, 4.0, 6.0}, 2, 0.5);
    EXPECT_EQ((std::vector<double>{1.0, 3.0, 5.0, 3.0, 0.0}), pulse);
    EXPECT_EQ((std::vector<double>{0.5, 0.75, 1.25}),
              Convolve({1.0, 1.0, 1.0}, {1.0, 0.5, 1.0}, 0.5));
}

}  // namespace
}  // namespace amirun
