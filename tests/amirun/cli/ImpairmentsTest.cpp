// Noise and jitter through a whole `link`, against closed forms: with pass-through models and an
// ideal channel the received eye is the transmitter's levels, so Gaussian noise of rms s closes
// the statistical eye by 2 Q^-1(BER) s, and dual-Dirac jitter of d UI peak to peak narrows both
// eyes by d.
#include <gtest/gtest.h>

#include <cmath>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/support/AmirunHarness.h"
#include "tests/support/Files.h"

namespace {

class LinkImpairments : public AmirunRun {
protected:
    // One impulse of area 1 at the models' own interval, then a window of zeros: no
    // interference at all.
    nlohmann::json Link(const std::string& options) {
        fs::create_directories(out_);
        std::string ideal = "3.84e11\n";
        for (int n = 1; n < 12 * 32; ++n) ideal += "0\n";
        WriteBytes(out_ / "ideal.txt", ideal);
        const std::string pass = "'" KT_PASS_MODELS_DIR;
        const Result r = Amirun("link " + pass + "/PassTx_x64.so' " + pass + "/PassRx_x64.so'" +
                                " --channel '" + (out_ / "ideal.txt").string() + "' --json '" +
                                (out_ / "link.json").string() + "'" + options + Out());
        EXPECT_EQ(0, r.status) << r.output;
        return nlohmann::json::parse(ReadBytes(out_ / "link.json"));
    }
};

// Q^-1(p) of the standard normal distribution, by bisection on erfc.
double InverseQ(double p) {
    double low = 0.0, high = 40.0;
    for (int i = 0; i < 200; ++i) {
        const double mid = 0.5 * (low + high);
        (0.5 * std::erfc(mid / std::sqrt(2.0)) > p ? low : high) = mid;
    }
    return low;
}

TEST_F(LinkImpairments, NoiseClosesTheEyesAsItsRmsSays) {
    const double amplitude = 0.25, rms = 0.01;
    const nlohmann::json json = Link(" --amplitude 0.25 --noise-rms 0.01");
    const double stat = json["statistical_eye"]["height_v"];
    const double bound = json["link"]["statistical"]["bound_v"];
    EXPECT_NEAR(2.0 * amplitude - 2.0 * InverseQ(1e-12) * rms, stat, bound + 1e-4);
    // Bit by bit: the lowest one and the highest zero of about 20 000 noisy bits, read between
    // samples (where two samples' noise averages) at the best of 64 phases.
    const double bits = json["bit_by_bit_eye"]["height_v"];
    EXPECT_LT(bits, 2.0 * amplitude - 2.0 * 2.0 * rms);
    EXPECT_GT(bits, 2.0 * amplitude - 2.0 * 5.0 * rms);
}

TEST_F(LinkImpairments, DualDiracJitterNarrowsBothEyesByItsPeakToPeak) {
    const nlohmann::json clean = Link("");
    const nlohmann::json jittered = Link(" --dj-pp 0.25");
    for (const char* eye : {"statistical_eye", "bit_by_bit_eye"}) {
        SCOPED_TRACE(eye);
        const double before = clean[eye]["width_ui"], after = jittered[eye]["width_ui"];
        EXPECT_NEAR(before - 0.25, after, 2.0 / 64.0);
        EXPECT_NEAR(clean[eye]["height_v"].get<double>(), jittered[eye]["height_v"].get<double>(),
                    1e-9);
    }
}

}  // namespace
