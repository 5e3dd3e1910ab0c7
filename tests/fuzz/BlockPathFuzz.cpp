// Differential target: the models' block paths against their per-sample graphs. The input picks
// the model, its rate and selectors, how the wave is cut, and the samples themselves (raw doubles,
// so NaN, infinities and subnormals come up). Any difference in any bit is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "models/rx/KT7MRL40562D9_Rx.h"
#include "models/tx/KT7MRL40562D9_Tx.h"
#include "tests/support/RunModel.h"

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    bool Empty() const { return at_ >= size_; }
    double Sample() {
        std::uint8_t raw[8] = {};
        for (std::uint8_t& b : raw) b = Byte();
        double value = 0.0;
        std::memcpy(&value, raw, sizeof value);
        return value;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// The same wave through a fresh cycle of each path; a block path that declines must leave the
// wave alone, and then the graph fails its first Run.
template <class Model>
void Compare(Model& model, const std::vector<double>& wave, const std::vector<long>& pattern) {
    const std::vector<double> expected = Cycle(model, wave);
    if (!model.Setup() || !model.Initialize()) __builtin_trap();
    std::vector<double> actual = wave;
    const bool taken = DriveInBlocks(model, actual, pattern);
    model.Finalize();
    if (!taken) {
        if (!expected.empty() || !wave.empty()) {
            if (expected.size() == wave.size()) __builtin_trap();  // declined a working graph
        }
        return;
    }
    if (expected.size() != actual.size() ||
        std::memcmp(expected.data(), actual.data(), actual.size() * sizeof(double)) != 0)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Bytes in(data, size);
    const bool receiver = (in.Byte() & 1) != 0;
    const double rate = 1e11 * (1 + in.Byte() % 4);  // up to 601 taps: fast enough to fuzz
    const std::uint8_t selector = in.Byte();
    const std::uint8_t second = in.Byte();
    std::vector<long> pattern;
    const int cuts = 1 + in.Byte() % 6;
    for (int k = 0; k < cuts; ++k) {
        const long cut = (in.Byte() << 8 | in.Byte()) % 1200;
        pattern.push_back(in.Byte() % 4 == 0 ? -cut : cut);
    }
    std::vector<double> wave;
    while (!in.Empty() && wave.size() < 1024) wave.push_back(in.Sample());
    if (wave.empty()) return 0;
    if (std::all_of(pattern.begin(), pattern.end(), [](long cut) { return cut == 0; }))
        pattern.push_back(1);  // a wave must move forward

    if (receiver) {
        KT7MRL40562D9_Rx model;
        model.rx_samplerate = rate;
        model.EQ = selector % 18 - 1;  // -1 and 16 are out of range
        Compare(model, wave, pattern);
    } else {
        KT7MRL40562D9_Tx model;
        model.tx_samplerate = rate;
        model.SW = selector % 4 - 1;
        model.FG = second % 6 - 1;
        Compare(model, wave, pattern);
    }
    return 0;
}
