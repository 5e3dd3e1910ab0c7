// The Windows DLLs, run for real under Wine by a small Windows host, against the Linux libraries on
// the same inputs: both to the bit. The receiver uses no transcendental function; the
// transmitter's soft limiter uses our own arc tangent, built from exactly rounded operations,
// not the C library's, which differs between C libraries.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "ami/AmiExport.h"

namespace {

namespace fs = std::filesystem;

// The host's generator, to the bit: plain integer and double arithmetic.
double Next(std::uint64_t& state) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * (1.0 / 9007199254740992.0) * 2.0 - 1.0;
}

struct Outputs {
    std::map<std::string, long> results;
    std::map<std::string, std::vector<double>> values;
};

Outputs ReadHostOutputs(const fs::path& path) {
    Outputs outputs;
    std::ifstream in(path);
    for (std::string label; in >> label;) {
        long number = 0;
        in >> number;
        if (label.rfind("tx_getwave", 0) == 0 || label.rfind("rx_init", 0) == 0 ||
            label.rfind("tx_init", 0) == 0 || label.rfind("rx_close", 0) == 0 ||
            label.rfind("tx_close", 0) == 0) {
            outputs.results[label + std::to_string(outputs.results.size())] = number;
            continue;
        }
        std::vector<double>& values = outputs.values[label];
        for (long i = 0; i < number; ++i) {
            std::string hex;
            in >> hex;
            const std::uint64_t bits = std::stoull(hex, nullptr, 16);
            double value = 0.0;
            std::memcpy(&value, &bits, sizeof value);
            values.push_back(value);
        }
    }
    return outputs;
}

// The same run through the Linux libraries, written the same way.
Outputs RunLinux() {
    Outputs outputs;
    void* rx = dlopen(KT_RX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    void* tx = dlopen(KT_TX_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    EXPECT_NE(nullptr, rx);
    EXPECT_NE(nullptr, tx);
    if (rx == nullptr || tx == nullptr) return outputs;
    const auto rxInit = reinterpret_cast<AmiInitFn>(dlsym(rx, "AMI_Init"));
    const auto rxClose = reinterpret_cast<AmiCloseFn>(dlsym(rx, "AMI_Close"));
    const auto txInit = reinterpret_cast<AmiInitFn>(dlsym(tx, "AMI_Init"));
    const auto txGetWave = reinterpret_cast<AmiGetWaveFn>(dlsym(tx, "AMI_GetWave"));
    const auto txClose = reinterpret_cast<AmiCloseFn>(dlsym(tx, "AMI_Close"));

    std::vector<double> matrix(1500 * 2);
    std::vector<double> wave(5000);
    std::uint64_t state = 1;
    for (double& v : matrix) v = Next(state);
    for (double& v : wave) v = Next(state) < 0.0 ? -0.5 : 0.5;
    std::size_t n = 0;
    char rxParameters[] = "(KT7MRL40562D9_Rx (rx_samplerate 3.84e11) (EQ 9))";
    void* handle = nullptr;
    char* msg = nullptr;
    outputs.results["rx_init" + std::to_string(n++)] =
        rxInit(matrix.data(), 1500, 1, 1.0 / 3.84e11, 32e-12, rxParameters, nullptr, &handle, &msg);
    outputs.values["rx_matrix"] = matrix;
    outputs.results["rx_close" + std::to_string(n++)] = rxClose(handle);
    char txParameters[] = "(KT7MRL40562D9_Tx (tx_samplerate 3.84e11) (FG 1) (SW 0))";
    handle = nullptr;
    outputs.results["tx_init" + std::to_string(n++)] =
        txInit(nullptr, 0, 0, 1.0 / 3.84e11, 32e-12, txParameters, nullptr, &handle, &msg);
    double clock[2] = {0.0, 0.0};
    for (std::size_t from = 0; from < wave.size(); from += 1000)
        outputs.results["tx_getwave" + std::to_string(n++)] =
            txGetWave(wave.data() + from, 1000, clock, nullptr, handle);
    outputs.values["tx_wave"] = wave;
    outputs.values["tx_clock"] = {clock[0]};
    outputs.results["tx_close" + std::to_string(n++)] = txClose(handle);
    dlclose(rx);
    dlclose(tx);
    return outputs;
}

std::int64_t UlpDistance(double a, double b) {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::memcpy(&x, &a, sizeof x);
    std::memcpy(&y, &b, sizeof y);
    if (x < 0) x = INT64_MIN - x;  // one ordered line through zero
    if (y < 0) y = INT64_MIN - y;
    return x > y ? x - y : y - x;
}

TEST(WindowsDlls, GiveTheLinuxLibrariesResultsUnderWine) {
    const fs::path build(KT_WINDOWS_BUILD_DIR);
    const fs::path host = build / "tests" / "windows" / "wine_host.exe";
    const char* wine = "/usr/lib/wine/wine64";
    if (!fs::exists(host) || !fs::exists(wine))
        GTEST_SKIP() << "the windows workflow has not built the DLLs, or Wine is missing";
    const fs::path out = fs::path(::testing::TempDir()) /
                         ("wine_outputs_" + std::to_string(static_cast<long>(getpid())) + ".txt");
    const std::string command =
        "WINEDEBUG=-all DISPLAY= WINEDLLOVERRIDES=mscoree,mshtml= WINEPREFIX='" +
        (build / "wineprefix").string() + "' " + wine + " '" + host.string() + "' '" +
        (build / "ami" / "kit" / "KT7MRL40562D9_Rx_x64.dll").string() + "' '" +
        (build / "ami" / "kit" / "KT7MRL40562D9_Tx_x64.dll").string() + "' '" + out.string() +
        "' > /dev/null 2>&1";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
    const Outputs windows = ReadHostOutputs(out);
    fs::remove(out);
    const Outputs linux = RunLinux();

    EXPECT_EQ(linux.results, windows.results);
    ASSERT_EQ(3000u, windows.values.at("rx_matrix").size());
    EXPECT_EQ(0, std::memcmp(linux.values.at("rx_matrix").data(),
                             windows.values.at("rx_matrix").data(), 3000 * sizeof(double)))
        << "the receiver differs";
    const auto& a = linux.values.at("tx_wave");
    const auto& b = windows.values.at("tx_wave");
    ASSERT_EQ(a.size(), b.size());
    std::size_t differing = 0;
    std::int64_t widest = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        differing += std::memcmp(&a[i], &b[i], sizeof(double)) != 0 ? 1 : 0;
        widest = std::max(widest, UlpDistance(a[i], b[i]));
    }
    EXPECT_EQ(0u, differing) << "the transmitter differs in " << differing << " of " << a.size()
                             << " samples, by " << widest << " ulp at most";
    EXPECT_EQ(-1.0, windows.values.at("tx_clock").at(0));
}

}  // namespace
