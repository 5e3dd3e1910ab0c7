#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

// Byte-for-byte comparison of sample vectors, for fast paths checked against their reference.
// Answers "" when equal, else where they first differ and how.
inline std::string FirstDifference(const std::vector<double>& expected,
                                   const std::vector<double>& actual) {
    if (expected.size() != actual.size())
        return "sizes " + std::to_string(expected.size()) + " and " + std::to_string(actual.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (std::memcmp(&expected[i], &actual[i], sizeof(double)) != 0) {
            return "first difference at " + std::to_string(i) + ": " + std::to_string(expected[i]) +
                   " vs " + std::to_string(actual[i]);
        }
    }
    return "";
}

// Random samples in [-1, 1) with the awkward values sprinkled in when `awkward` is set: signed
// zeros, subnormals, infinities, NaN and values near the largest double.
inline std::vector<double> TestSamples(std::size_t n, std::uint32_t seed, bool awkward) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> x(n);
    for (double& v : x) v = uniform(random);
    if (awkward && n > 0) {
        const double values[] = {0.0,
                                 -0.0,
                                 std::numeric_limits<double>::denorm_min(),
                                 -4.9e-320,
                                 std::numeric_limits<double>::infinity(),
                                 -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::quiet_NaN(),
                                 1e308,
                                 -1e308};
        std::uniform_int_distribution<std::size_t> place(0, n - 1);
        for (std::size_t k = 0; k < n / 97 + 1; ++k)
            x[place(random)] = values[k % (sizeof values / sizeof values[0])];
    }
    return x;
}
