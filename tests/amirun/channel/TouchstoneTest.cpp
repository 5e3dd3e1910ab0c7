// Touchstone files small enough to read, against what the format says each number is.
#include "tools/amirun/channel/Touchstone.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <sstream>

#include "tools/amirun/channel/BuiltInLine.h"
#include "tools/amirun/channel/Channel.h"
#include "tools/amirun/channel/PortOrder.h"
#include "tools/amirun/link/Signal.h"

namespace amirun {
namespace {

namespace fs = std::filesystem;

// A distinct value in every slot: 1+2j, 3+4j, ... numbered by point, row and column.
Complex Slot(int point, int row, int column, int ports) {
    const int index = (point * ports + row) * ports + column;
    return {1.0 + 2.0 * index, 2.0 + 2.0 * index};
}

// One point's numbers in the order a layout lists them; `pairsPerLine` wraps the lines.
std::string Point(int point, int ports, const std::vector<std::pair<int, int>>& order,
                  std::size_t pairsPerLine) {
    std::ostringstream text;
    text << (point + 1);
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k > 0 && k % pairsPerLine == 0) text << '\n';
        const Complex z = Slot(point, order[k].first, order[k].second, ports);
        text << ' ' << z.real() << ' ' << z.imag();
    }
    return text.str() + "\n";
}

std::vector<std::pair<int, int>> RowByRow(int ports, int kind) {  // 0 full, 1 upper, 2 lower
    std::vector<std::pair<int, int>> order;
    for (int r = 0; r < ports; ++r)
        for (int c = 0; c < ports; ++c)
            if (kind == 0 || (kind == 1 && c >= r) || (kind == 2 && c <= r))
                order.push_back({r, c});
    return order;
}

TEST(Touchstone, EverySlotOfEveryLayoutLandsWhereTheFormatSays) {
    const struct {
        const char* name;
        int ports, portsOfName, kind;
        std::string header;
        std::vector<std::pair<int, int>> order;
        std::size_t pairsPerLine;
    } cases[] = {
        {"1.0 s2p", 2, 2, 0, "# GHz S RI R 50\n", {{0, 0}, {1, 0}, {0, 1}, {1, 1}}, 4},
        {"1.0 s4p", 4, 4, 0, "# GHz S RI R 50\n", RowByRow(4, 0), 4},
        {"1.0 s8p wrapped", 8, 8, 0, "# GHz S RI R 50\n", RowByRow(8, 0), 4},
        {"2.0 two-port 12_21",
         2,
         0,
         0,
         "[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 2\n[Two-Port Data Order] 12_21\n"
         "[Number of Frequencies] 2\n[Network Data]\n",
         {{0, 0}, {0, 1}, {1, 0}, {1, 1}},
         4},
        {"2.0 full", 4, 0, 0,
         "[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 4\n[Number of Frequencies] 2\n"
         "[Reference] 50 50\n50 50\n[Matrix Format] Full\n[Network Data]\n",
         RowByRow(4, 0), 3},
        {"2.0 upper", 3, 0, 1,
         "[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 3\n[Matrix Format] Upper\n"
         "[Network Data]\n",
         RowByRow(3, 1), 2},
        {"2.0 lower", 3, 0, 2,
         "[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 3\n[Matrix Format] Lower\n"
         "[Network Data]\n",
         RowByRow(3, 2), 5},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string text = "! distinct values\n" + c.header;
        for (int point = 0; point < 2; ++point)
            text += Point(point, c.ports, c.order, c.pairsPerLine);
        if (c.portsOfName == 0) text += "[Noise Data]\n1 2 3 4 5\n[End]\n";
        const Touchstone data = ParseTouchstone(text, c.portsOfName);
        ASSERT_EQ(c.ports, data.ports);
        ASSERT_EQ((std::vector<double>{1e9, 2e9}), data.frequencies);
        for (int point = 0; point < 2; ++point)
            for (int r = 0; r < c.ports; ++r)
                for (int col = 0; col < c.ports; ++col) {
                    // Upper and Lower files give one triangle; the other mirrors it.
                    const bool mirrored = (c.kind == 1 && col < r) || (c.kind == 2 && col > r);
                    const Complex expected =
                        mirrored ? Slot(point, col, r, c.ports) : Slot(point, r, col, c.ports);
                    EXPECT_EQ(expected, data.At(std::size_t(point), r, col))
                        << point << " " << r << " " << col;
                }
    }
}

TEST(Touchstone, RefusesWhatItCannotReadExactly) {
    const struct {
        const char* text;
        int ports;
        const char* message;
    } cases[] = {
        {"# THz S RI R 50\n1 0 0 1 0 1 0 0 0\n", 2, "unknown option 'thz'"},
        {"# GHz Z RI R 50\n1 0 0 1 0 1 0 0 0\n", 2, "only S parameters are read, not z"},
        {"# GHz S RI\n-1 0 0 1 0 1 0 0 0\n2 0 0 1 0 1 0 0 0\n", 2, "line 2: a negative frequency"},
        {"# GHz S RI\n1 0 0 1 0 1 0 0 0\n1 0 0 1 0 1 0 0 0\n", 2,
         "line 3: frequencies must ascend"},
        {"[Version] 2.0\n# GHz S RI\n[Number of Ports] 2\n[Network Data]\n1 0 0 0 0 0 0 0 0\n", 0,
         "needs [Two-Port Data Order]"},
        {"[Version] 2.0\n# GHz S RI\n[Number of Ports] 1\n[Number of Frequencies] 3\n"
         "[Network Data]\n1 0 0\n2 0 0\n",
         0, "[Number of Frequencies] says 3 but the file holds 2"},
        {"[Version] 2.0\n# GHz S RI\n[Number of Ports] 4\n[Mixed-Mode Order] D2,1 D1,1\n", 0,
         "mixed-mode Touchstone files are not read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        try {
            ParseTouchstone(c.text, c.ports);
            ADD_FAILURE() << "accepted";
        } catch (const ChannelError& error) {
            EXPECT_NE(std::string::npos, std::string(error.what()).find(c.message)) << error.what();
        }
    }
}

// A matched 75 ohm line seen from 50 ohm: Gamma = 0.2 at each end, and the closed forms of a
// mismatched line, S11 = Gamma (1 - P^2) / (1 - Gamma^2 P^2), S21 = (1 - Gamma^2) P / (...).
TEST(Touchstone, RenormalizesA75OhmLineTo50Ohm) {
    std::ostringstream text;
    text << std::setprecision(17) << "# GHz S RI R 75\n";
    const double tau = 100e-12;
    for (int k = 1; k <= 20; ++k) {
        const double f = 0.37e9 * k;
        const Complex p = std::polar(1.0, -2 * M_PI * f * tau);
        text << f / 1e9 << " 0 0 " << p.real() << ' ' << p.imag() << ' ' << p.real() << ' '
             << p.imag() << " 0 0\n";
    }
    Touchstone data = ParseTouchstone(text.str(), 2);
    Renormalize(data, 50.0);
    const double gamma = 0.2;
    for (std::size_t k = 0; k < data.frequencies.size(); ++k) {
        const Complex p = std::polar(1.0, -2 * M_PI * data.frequencies[k] * tau);
        const Complex d = 1.0 - gamma * gamma * p * p;
        EXPECT_LT(std::abs(data.At(k, 0, 0) - gamma * (1.0 - p * p) / d), 1e-12);
        EXPECT_LT(std::abs(data.At(k, 1, 0) - (1.0 - gamma * gamma) * p / d), 1e-12);
        EXPECT_LT(std::abs(data.At(k, 1, 1) - data.At(k, 0, 0)), 1e-12);
    }
}

// A 50 ohm line of 0.1 ns (less than half a wave up to 4 GHz), given as seen from 50 ohm at port 1
// and 75 ohm at port 2 (its S-parameters from its ABCD matrix, a textbook form independent of the
// reader): seen from 50 ohm at both ports it is matched, S21 its delay alone.
TEST(Touchstone, RenormalizesAFileWhoseReferencesDiffer) {
    const double z1 = 50.0, z2 = 75.0, z0 = 50.0, tau = 0.1e-9;
    std::ostringstream text;
    text << std::setprecision(17) << "[Version] 2.0\n# GHz S RI R 50\n[Number of Ports] 2\n"
         << "[Two-Port Data Order] 21_12\n[Number of Frequencies] 8\n[Reference] 50 75\n"
         << "[Network Data]\n";
    for (int k = 1; k <= 8; ++k) {
        const double f = 0.5e9 * k, theta = 2 * M_PI * f * tau;
        const Complex a = std::cos(theta), b(0.0, z0 * std::sin(theta)),
                      c(0.0, std::sin(theta) / z0), d = std::cos(theta);
        const Complex den = a * z2 + b + c * z1 * z2 + d * z1;
        const Complex s11 = (a * z2 + b - c * z1 * z2 - d * z1) / den;
        const Complex s21 = 2.0 * std::sqrt(z1 * z2) / den;
        const Complex s22 = (-a * z2 + b - c * z1 * z2 + d * z1) / den;
        text << f / 1e9;
        for (const Complex& v : {s11, s21, s21, s22}) text << ' ' << v.real() << ' ' << v.imag();
        text << '\n';
    }
    text << "[End]\n";
    Touchstone data = ParseTouchstone(text.str(), 2);
    EXPECT_NEAR(0.2, std::abs(data.At(0, 0, 0)), 0.1);  // mismatched as given
    Renormalize(data, 50.0);
    for (std::size_t k = 0; k < data.frequencies.size(); ++k) {
        const Complex delay = std::polar(1.0, -2 * M_PI * data.frequencies[k] * tau);
        EXPECT_LT(std::abs(data.At(k, 0, 0)), 1e-12);
        EXPECT_LT(std::abs(data.At(k, 1, 1)), 1e-12);
        EXPECT_LT(std::abs(data.At(k, 1, 0) - delay), 1e-12);
    }
}

// Two through lines of different strength, 1->4 weak and 2->3 strong: each line runs from its
// lower port and the lines are taken in the order of those ports, whatever their strength, so
// the victim is 1,2,4,3; in an 8-port the pair holding port 1 is the victim even when it is the
// weakest.
TEST(PortOrder, PairsLinesByTheirPortsNotTheirStrength) {
    auto make = [](int ports, const std::vector<std::pair<std::pair<int, int>, double>>& lines) {
        Touchstone data;
        data.ports = ports;
        data.frequencies = {1e7, 2e7, 3e7, 4e7, 5e7, 6e7};
        data.reference.assign(std::size_t(ports), 50.0);
        for (std::size_t k = 0; k < data.frequencies.size(); ++k) {
            std::vector<Complex> s(std::size_t(ports * ports), Complex(0.01));
            for (const auto& [line, gain] : lines) {
                s[std::size_t(line.first * ports + line.second)] = gain;
                s[std::size_t(line.second * ports + line.first)] = gain;
            }
            data.s.push_back(s);
        }
        return data;
    };
    EXPECT_EQ("1,2,4,3", FindPortPlan(make(4, {{{0, 3}, 0.5}, {{1, 2}, 0.9}})).Text());
    EXPECT_EQ(
        "1,2,5,6; aggressor 3,4,7,8",
        FindPortPlan(make(8, {{{0, 4}, 0.3}, {{1, 5}, 0.4}, {{2, 6}, 0.9}, {{3, 7}, 0.8}})).Text());
}

class TouchstoneChannels : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(::testing::TempDir()) /
               ("kt_touchstone_" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    // A file of `ports` ports from `first` to `last` Hz every `step`, S(row, column) given.
    std::string Write(const std::string& name, int ports, double first, double last, double step,
                      const std::function<Complex(double, int, int)>& s) {
        std::ofstream out(dir_ / name);
        out << std::setprecision(12) << "# Hz S RI R 50\n";
        for (double f = first; f <= last * (1 + 1e-12); f += step) {
            out << f;
            if (ports == 2) {  // S11 S21 S12 S22 on one line
                for (const auto& [r, c] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}})
                    out << ' ' << s(f, r, c).real() << ' ' << s(f, r, c).imag();
                out << '\n';
                continue;
            }
            for (int r = 0; r < ports; ++r) {
                for (int c = 0; c < ports; ++c)
                    out << ' ' << s(f, r, c).real() << ' ' << s(f, r, c).imag();
                out << '\n';
            }
        }
        return (dir_ / name).string();
    }
    static ChannelOptions Options() {
        ChannelOptions options;
        options.dt = 1.0 / 3.84e11;
        options.samplesPerBit = 12;
        options.bitRate = 32e9;
        return options;
    }
    fs::path dir_;
};

Complex Delay(double f, double tau) { return std::polar(1.0, -2 * M_PI * f * tau); }

// An exact delay peaks at its delay; a 20 ns delay keeps its whole DC response in the window.
TEST_F(TouchstoneChannels, AnExactDelayPeaksAtItsDelayAndKeepsItsDcResponse) {
    for (const double tau : {0.5e-9, 20e-9}) {
        SCOPED_TRACE(tau);
        // S12 at half of S21: reading the wrong one halves the DC gain.
        const std::string file =
            Write("delay.s2p", 2, 10e6, 40e9, 10e6, [&](double f, int r, int c) {
                return r == c ? Complex(0.0) : (r == 1 ? 1.0 : 0.5) * Delay(f, tau);
            });
        const Channel channel = ReadChannel(file, Options());
        const auto& h = channel.columns.front();
        const auto peak = std::max_element(h.begin(), h.end()) - h.begin();
        EXPECT_NEAR(tau * 3.84e11, double(peak), 1.0);
        EXPECT_NEAR(1.0, channel.report.dcGain, 1e-9);
        EXPECT_GE(channel.report.keptDcFraction, 0.999);
        EXPECT_GE(channel.report.windowUi * 12 / 3.84e11, tau);
    }
}

// Lines 1->3 and 2->4 have the order 1,2,3,4; lines 1->2 and 3->4 the order 1,3,2,4. A P/N
// swap at one end inverts the channel, and says so.
TEST_F(TouchstoneChannels, FindsThePortOrderAndKeepsAnInversion) {
    auto lines = [](int a, int b, int c, int d) {
        return [=](double f, int r, int col) {
            // Forward (output row, input column) at 0.9, backward at 0.45: a transposed Sdd21
            // would show as half the DC gain.
            if ((r == b && col == a) || (r == d && col == c)) return 0.9 * Delay(f, 50e-12);
            if ((r == a && col == b) || (r == c && col == d)) return 0.45 * Delay(f, 50e-12);
            return Complex(r == col ? 0.05 : 0.01);
        };
    };
    ChannelOptions options = Options();
    const std::string across = Write("across.s4p", 4, 10e6, 40e9, 50e6, lines(0, 2, 1, 3));
    Channel channel = ReadChannel(across, options);
    EXPECT_EQ(0u, channel.report.ports.find("1,2,3,4 (found")) << channel.report.ports;
    EXPECT_GT(channel.report.dcGain, 0.85);
    const std::string along = Write("along.s4p", 4, 10e6, 40e9, 50e6, lines(0, 1, 2, 3));
    EXPECT_EQ(0u, ReadChannel(along, options).report.ports.find("1,3,2,4 (found"));

    options.ports = {1, 2, 4, 3};
    channel = ReadChannel(across, options);
    EXPECT_TRUE(channel.report.inverted);
    EXPECT_LT(channel.report.dcGain, -0.85);
    const auto pulse = PulseFromImpulse(channel.columns.front(), 12, options.dt);
    EXPECT_LT(*std::min_element(pulse.begin(), pulse.end()), -0.85);

    options.ports = {1, 3, 2, 4};  // the other file's order: no through path
    channel = ReadChannel(across, options);
    ASSERT_FALSE(channel.report.warnings.empty());
    EXPECT_NE(std::string::npos, channel.report.warnings.front().find("check the port order"));
}

// Victim pair 1,3 -> 2,4 and aggressor pair 5,7 -> 6,8 of an .s8p: the aggressor's far-end and
// near-end responses become columns 1 and 2, with the DC gains of the couplings put in.
TEST_F(TouchstoneChannels, AnS8pGivesTheAggressorsFarAndNearEndColumns) {
    const std::string file = Write("pairs.s8p", 8, 10e6, 40e9, 50e6, [](double f, int r, int c) {
        const int lo = std::min(r, c), hi = std::max(r, c);
        if (hi == lo + 1 && lo % 2 == 0) return 0.9 * Delay(f, 50e-12);  // 1-2, 3-4, 5-6, 7-8
        if (lo == 1 && hi == 4) return 0.04 * Delay(f, 50e-12);          // victim out+ <- 5
        if (lo == 1 && hi == 5) return -0.02 * Delay(f, 50e-12);         // victim out+ <- 6
        return Complex(0.0);
    });
    const Channel channel = ReadChannel(file, Options());
    ASSERT_EQ(3u, channel.columns.size());
    EXPECT_EQ("1,3,2,4; aggressor 5,7,6,8 (found from |S| at the lowest frequencies)",
              channel.report.ports);
    const double dt = Options().dt;
    for (const auto& [column, expected] : {std::pair{1, 0.02}, std::pair{2, -0.01}}) {
        double dc = 0.0;
        for (double h : channel.columns[std::size_t(column)]) dc += h * dt;
        EXPECT_NEAR(expected, dc, 0.05 * std::fabs(expected)) << column;
    }
}

// A short line measured to 40 GHz in steps of 10 MHz: its band-limited, tapered response puts a
// little of itself before t = 0, which kept the window from ever settling within 0.1 % of the DC
// gain (thousands of UI). Settled against its own final value, it gets tens of UI, keeps all of
// its causal response and says how much lay before t = 0.
TEST_F(TouchstoneChannels, AShortLineGetsAWindowOfItsSettledResponse) {
    const std::string file = Write("p370.s2p", 2, 10e6, 40e9, 10e6, [](double f, int r, int c) {
        return r != c ? LossyLineResponse(2.0, 32e9, f) * Delay(f, 40e-12) : Complex(0.0);
    });
    const Channel channel = ReadChannel(file, Options());
    EXPECT_LT(channel.report.windowUi, 100.0) << channel.report.windowUi;
    EXPECT_NEAR(1.0, channel.report.keptDcFraction + channel.report.acausalFraction, 1e-3);
    EXPECT_GT(std::fabs(channel.report.acausalFraction), 1e-4);
    EXPECT_LT(std::fabs(channel.report.acausalFraction), 0.05);
    EXPECT_TRUE(channel.report.warnings.empty()) << channel.report.warnings.front();
    const auto said = std::find_if(
        channel.report.notes.begin(), channel.report.notes.end(),
        [](const std::string& note) { return note.find("before t = 0") != std::string::npos; });
    EXPECT_NE(channel.report.notes.end(), said);
}

TEST_F(TouchstoneChannels, TheBandRulesRefuseOrSayWhatTheyAssumed) {
    auto line = [](double f, int r, int c) {
        return r != c ? LossyLineResponse(10.0, 32e9, f) : Complex(0.0);
    };
    ChannelOptions options = Options();
    const std::string short10 = Write("short.s2p", 2, 10e6, 10e9, 10e6, line);
    try {
        ReadChannel(short10, options);
        ADD_FAILURE() << "accepted";
    } catch (const ChannelError& error) {
        EXPECT_NE(std::string::npos,
                  std::string(error.what())
                      .find("ends at 10 GHz, below the bit rate's Nyquist frequency of 16 GHz"))
            << error.what();
    }
    options.extrapolate = true;
    EXPECT_TRUE(ReadChannel(short10, options).report.extrapolated);
    const std::string sparse = Write("sparse.s2p", 2, 5e9, 7e9, 1e9, line);
    EXPECT_THROW(ReadChannel(sparse, options), ChannelError);
    const std::string late = Write("late.s2p", 2, 1e9, 40e9, 50e6, line);
    const Channel channel = ReadChannel(late, Options());
    ASSERT_FALSE(channel.report.warnings.empty());
    EXPECT_NE(std::string::npos, channel.report.warnings.front().find("far from DC"));
    EXPECT_NEAR(-10.0, channel.report.lossAtNyquistDb, 0.01);
}

// A single-ended band-pass 1->3 whose ports 2 and 4 reflect is no differential channel: the
// pairs found from its weak paths are said to be a guess, not taken silently.
TEST_F(TouchstoneChannels, ANetworkThatIsNoDifferentialChannelIsSaidToBeOne) {
    auto bandPass = [](double f, int r, int c) {
        if ((r == 0 && c == 2) || (r == 2 && c == 0))
            return Complex(0.006 * std::min(1.0, f / 1e9)) * Delay(f, 0.2e-9);
        if ((r == 1 && c == 1) || (r == 3 && c == 3)) return Complex(0.95);
        return Complex(0.0);
    };
    const Channel odd = ReadChannel(Write("odd.s4p", 4, 10e6, 40e9, 10e6, bandPass), Options());
    const auto said = [](const Channel& c) {
        return std::any_of(c.report.warnings.begin(), c.report.warnings.end(),
                           [](const std::string& w) {
                               return w.find("no differential channel") != std::string::npos;
                           });
    };
    EXPECT_TRUE(said(odd));
    auto pair = [](double f, int r, int c) {
        const bool through =
            (r == 0 && c == 2) || (r == 2 && c == 0) || (r == 1 && c == 3) || (r == 3 && c == 1);
        return through ? Delay(f, 0.2e-9) : Complex(0.0);
    };
    EXPECT_FALSE(said(ReadChannel(Write("pair.s4p", 4, 10e6, 40e9, 10e6, pair), Options())));
}

// An exact delay known to 10 GHz, continued by --extrapolate to the models' Nyquist frequency,
// gives the response of the same delay known to 200 GHz: the continued phase keeps the file's
// delay.
TEST_F(TouchstoneChannels, ExtrapolationContinuesThePhaseForwards) {
    const double tau = 0.5e-9;
    auto delay = [&](double f, int r, int c) { return r == c ? Complex(0.0) : Delay(f, tau); };
    ChannelOptions options = Options();
    options.windowBits = 64;
    const Channel known = ReadChannel(Write("long.s2p", 2, 10e6, 200e9, 10e6, delay), options);
    options.extrapolate = true;
    const Channel continued = ReadChannel(Write("short.s2p", 2, 10e6, 10e9, 10e6, delay), options);
    ASSERT_TRUE(continued.report.extrapolated);
    const auto& a = known.columns.front();
    const auto& b = continued.columns.front();
    ASSERT_EQ(a.size(), b.size());
    const double peak = *std::max_element(a.begin(), a.end());
    EXPECT_NEAR(tau * 3.84e11, double(std::max_element(a.begin(), a.end()) - a.begin()), 1.0);
    for (std::size_t n = 0; n < a.size(); ++n) ASSERT_NEAR(a[n], b[n], 1e-3 * peak) << n;
}

// The demo's line keeps at least 99.9 % of its DC response in the window chosen for it.
TEST(BuiltInChannel, KeepsItsDcResponse) {
    ChannelOptions options;
    options.dt = 1.0 / 3.84e11;
    options.samplesPerBit = 12;
    options.bitRate = 32e9;
    const Channel channel = BuiltInChannel(20.0, options);
    EXPECT_GE(channel.report.keptDcFraction, 0.999);
    EXPECT_TRUE(channel.report.warnings.empty());
}

}  // namespace
}  // namespace amirun
