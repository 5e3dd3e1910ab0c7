#include "tools/amirun/channel/Channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <sstream>
#include <string>
#include <vector>

#include "tools/amirun/channel/BuiltInLine.h"
#include "tools/amirun/link/Signal.h"

namespace amirun {
namespace {

namespace fs = std::filesystem;

constexpr double kDt = 1.0 / 3.84e11;
constexpr double kBitRate = 32e9;
constexpr int kSamplesPerBit = 12;
constexpr std::size_t kLength = 64 * kSamplesPerBit;

// The built-in 20 dB line, the channel every file of the table describes.
std::vector<double> Reference() { return LossyLineImpulse(20.0, kBitRate, kDt, kLength); }

ChannelOptions Options() {
    ChannelOptions options;
    options.dt = kDt;
    options.samplesPerBit = kSamplesPerBit;
    options.bitRate = kBitRate;
    options.windowBits = int(kLength) / kSamplesPerBit;
    return options;
}

double WorstDifference(const std::vector<double>& a, const std::vector<double>& b) {
    double worst = 0.0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        worst = std::max(worst, std::fabs(a[i] - b[i]));
    return worst;
}

class ChannelFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               ("kt_channels_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string Write(const std::string& name, const std::string& text) {
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary) << text;
        return path.string();
    }
    std::vector<double> Pulse(const std::string& path, bool step = false) {
        ChannelOptions options = Options();
        options.step = step;
        return PulseFromImpulse(ReadChannel(path, options).columns.front(), kSamplesPerBit, kDt);
    }
    fs::path dir_;
};

std::string Rows(const std::function<std::string(std::size_t)>& row, std::size_t count) {
    std::string text;
    for (std::size_t n = 0; n < count; ++n) text += row(n);
    return text;
}

std::string Number(double value) {
    std::ostringstream out;
    out << std::setprecision(17) << value;
    return out.str();
}

// One table: every form of the same channel gives the same pulse response, within what its
// resampling costs.
TEST_F(ChannelFiles, EveryFormOfTheBuiltInChannelGivesItsPulseResponse) {
    const std::vector<double> h = Reference();
    std::vector<double> step(h.size() + 1, 0.0);
    for (std::size_t n = 0; n < h.size(); ++n) step[n + 1] = step[n] + h[n] * kDt;
    const std::vector<double> expected = PulseFromImpulse(h, kSamplesPerBit, kDt);
    double peak = 0.0;
    for (double v : expected) peak = std::max(peak, v);

    // The step at irregular instants, finely enough for its linear interpolation.
    std::string irregular = "t,v\n";
    for (double t = 0.0; t < double(kLength) * kDt;
         t += kDt * (0.15 + 0.1 * std::fabs(std::sin(t * 1e11)))) {
        const double at = t / kDt;
        const auto n = static_cast<std::size_t>(at);
        const double v = step[n] + (at - double(n)) * (step[n + 1] - step[n]);
        irregular += Number(t) + "," + Number(v) + "\n";
    }
    const struct {
        const char* name;
        std::string text;
        bool step;
        double tolerance;  // of the peak
    } cases[] = {
        {"values.txt", Rows([&](std::size_t n) { return Number(h[n]) + "\n"; }, h.size()), false,
         1e-12},
        {"time_impulse.csv",
         "time_s,impulse\n" +
             Rows(
                 [&](std::size_t n) { return Number(double(n) * kDt) + "," + Number(h[n]) + "\n"; },
                 h.size()),
         false, 1e-9},
        {"time_step.csv",
         Rows([&](std::size_t n) { return Number(double(n) * kDt) + "," + Number(step[n]) + "\n"; },
              step.size()),
         false, 1e-9},
        {"semicolons_ns.csv",
         "t [ns];v\r\n" + Rows(
                              [&](std::size_t n) {
                                  return Number(double(n) * kDt * 1e9) + ";" + Number(h[n]) +
                                         "\r\n";
                              },
                              h.size()),
         false, 1e-9},
        {"tabs_ps.txt",
         "time_ps\tstep\n" + Rows(
                                 [&](std::size_t n) {
                                     return Number(double(n) * kDt * 1e12) + "\t" +
                                            Number(step[n]) + "\n";
                                 },
                                 step.size()),
         true, 1e-9},
        {"irregular.csv", irregular, false, 5e-3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<double> pulse = Pulse(Write(c.name, c.text), c.step);
        EXPECT_LE(WorstDifference(expected, pulse), c.tolerance * peak);
    }
}

// The same line as a 4-port Touchstone file in each number format: Sdd21 is the built-in line's
// transfer function, on thru pairs 1-2 and 3-4.
TEST_F(ChannelFiles, TouchstoneOfTheLineGivesItsPulseResponseInEveryFormat) {
    const std::vector<double> expected = PulseFromImpulse(Reference(), kSamplesPerBit, kDt);
    double peak = 0.0;
    for (double v : expected) peak = std::max(peak, v);
    for (const char* format : {"RI", "MA", "DB"}) {
        SCOPED_TRACE(format);
        std::ostringstream text;
        text << std::setprecision(12) << "! the built-in line\n# GHz S " << format << " R 50\n";
        for (int k = 1; k <= 3000; ++k) {
            const double f = 0.05e9 * k;
            const std::complex<double> h = LossyLineResponse(20.0, kBitRate, f);
            auto pair = [&](std::complex<double> z) {
                std::ostringstream p;
                p << std::setprecision(12);
                if (std::string(format) == "RI") p << z.real() << ' ' << z.imag();
                if (std::string(format) == "MA")
                    p << std::abs(z) << ' ' << std::arg(z) * 180 / M_PI;
                if (std::string(format) == "DB")
                    p << 20 * std::log10(std::max(std::abs(z), 1e-300)) << ' '
                      << std::arg(z) * 180 / M_PI;
                return p.str();
            };
            // Rows of the matrix, one line each: S(row, column), thru 1->2 and 3->4.
            text << f / 1e9;
            for (int row = 1; row <= 4; ++row) {
                for (int column = 1; column <= 4; ++column) {
                    const bool thru = (row == 2 && column == 1) || (row == 1 && column == 2) ||
                                      (row == 4 && column == 3) || (row == 3 && column == 4);
                    text << ' ' << pair(thru ? h : std::complex<double>(0.0, 0.0));
                }
                text << '\n';
            }
        }
        const std::vector<double> pulse =
            Pulse(Write(std::string("line_") + format + ".s4p", text.str()));
        EXPECT_LE(WorstDifference(expected, pulse), 0.03 * peak);
    }
}

TEST_F(ChannelFiles, BrokenFilesAreRefusedWithTheirReason) {
    const struct {
        const char* name;
        const char* text;
        const char* message;
    } cases[] = {
        {"ragged.csv", "0,1\n1e-12,2\n2e-12\n",
         "ragged.csv:3: 1 values where the rows before have 2"},
        {"nan.csv", "0,1\n1e-12,nan\n", "nan.csv:2: 'nan' is not a finite number"},
        {"empty.csv", "  \n\n", "the file is empty"},
        {"backwards.csv", "time_s,v\n0,1\n2e-12,1\n1e-12,1\n3e-12,1\n",
         "backwards.csv:4: the time stamps must ascend"},
        {"short.s2p", "# GHz S RI R 50\n1 0 0 1 0 1 0 0 0\n2 0 0 1 0 1 0\n",
         "a frequency point does not hold the 8 numbers of 2 ports"},
        {"two_ports.s4p", "# GHz S RI R 50\n1 0 0 1 0 1 0 0 0\n2 0 0 1 0 1 0 0 0\n",
         "a frequency point does not hold the 32 numbers of 4 ports"},
        {"missing.s4p",
         "# GHz S MA R 50\n1 0 0 1 0 0 0 0 0\n0 0 0 0 0 0 1 0\n0 0 0 0 0 0 1 0\n0 0 1 0 0 0 0 0\n"
         "2 0 0 1 0 0 0 0 0\n0 0 0 0 0 0 1 0\n0 0 1 0 0 0 0 0\n",
         "a frequency point does not hold the 32 numbers of 4 ports"},
        {"three.s3p",
         "# GHz S RI\n1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n"
         "2 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0\n",
         "a 2-port or an even number of ports, not 3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            Pulse(Write(c.name, c.text));
            ADD_FAILURE() << "accepted";
        } catch (const ChannelError& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find(c.message)) << error.what();
        }
    }
}

}  // namespace
}  // namespace amirun
