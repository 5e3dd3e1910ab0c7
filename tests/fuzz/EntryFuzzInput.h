#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

// What a fuzz input asks of an entry point, decoded from its bytes: a header of flags, sizes and
// times, a parameter string up to a NUL, then raw doubles as samples. Row counts are bounded so
// that one input stays fast; the sample rate in the parameter string is not.
struct EntryFuzzInput {
    bool nullMatrix = false, nullParameters = false, nullHandle = false, nullMessage = false;
    long rowSize = 0;
    long aggressors = 0;
    double sampleInterval = 0.0;
    double bitTime = 0.0;
    std::string parameters;
    std::vector<long> blocks;  // AMI_GetWave block sizes, repeated until the samples end
    std::vector<double> samples;

    EntryFuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {
        const std::uint8_t flags = Byte();
        nullMatrix = (flags & 1) != 0;
        nullParameters = (flags & 2) != 0;
        nullHandle = (flags & 4) != 0;
        nullMessage = (flags & 8) != 0;
        rowSize = static_cast<long>(Word() % 1024) - 8;  // a few negative sizes too
        aggressors = static_cast<long>(Byte() % 6) - 2;
        sampleInterval = Time();
        bitTime = Time();
        for (int k = 1 + Byte() % 4; k > 0; --k)
            blocks.push_back(static_cast<long>(Word() % 700) - 4);
        while (at_ < size_ && data_[at_] != 0)
            parameters.push_back(static_cast<char>(data_[at_++]));
        ++at_;
        while (at_ + 8 <= size_ && samples.size() < 2048) {
            double value = 0.0;
            std::memcpy(&value, data_ + at_, sizeof value);
            samples.push_back(value);
            at_ += 8;
        }
    }

private:
    std::uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
    unsigned Word() { return static_cast<unsigned>(Byte()) << 8 | Byte(); }
    // Ordinary intervals most of the time, else the awkward ones.
    double Time() {
        const std::uint8_t pick = Byte();
        const double awkward[] = {0.0, -1e-12, 1e300, 5e-324, -0.0, 1.0 / 0.0, 0.0 / 0.0};
        if (pick < 7) return awkward[pick];
        return (1 + pick % 64) * 1e-13;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};
