#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <new>
#include <vector>

namespace CorvanaModelBuilder {

// n-dimensional array whose first index runs fastest. A default matrix has two dimensions of
// length 0. Storage is replaced only when a resize needs more elements than are allocated.
template <class U>
class Matrix {
public:
    Matrix() : Lengths(2, 0), Strides(2, 1) {}
    Matrix(const Matrix& other) : Matrix() { *this = other; }
    Matrix& operator=(const Matrix& other) {
        if (this == &other) return *this;
        Resize(other.NumDimensions, other.Lengths.data());
        std::copy(other.Elements.get(), other.Elements.get() + other.Count, Elements.get());
        return *this;
    }
    Matrix(Matrix&&) noexcept = default;
    Matrix& operator=(Matrix&&) noexcept = default;
    ~Matrix() = default;

    // The old entries are not kept when the storage has to grow.
    void Resize(std::uint64_t numDimensions, const std::uint64_t* lengths) {
        std::vector<std::uint64_t> newLengths(lengths, lengths + numDimensions);
        std::vector<std::uint64_t> newStrides(numDimensions, 1);
        std::uint64_t count = numDimensions == 0 ? 0 : 1;
        for (std::uint64_t k = 0; k < numDimensions; ++k) {
            if (k > 0) newStrides[k] = SaturatingProduct(newStrides[k - 1], newLengths[k - 1]);
            count = SaturatingProduct(count, newLengths[k]);
        }
        if (count > AllocatedCount) {
            if (count > std::numeric_limits<std::size_t>::max() / sizeof(U)) throw std::bad_alloc();
            Elements.reset(new U[count]);
            AllocatedCount = count;
        }
        NumDimensions = numDimensions;
        Lengths = std::move(newLengths);
        Strides = std::move(newStrides);
        Count = count;
    }

    // Every length 0, number of dimensions kept.
    void MakeEmpty() {
        std::fill(Lengths.begin(), Lengths.end(), 0);
        std::fill(Strides.begin(), Strides.end(), 1);
        Count = 0;
    }

    void SetZero() { std::fill(Elements.get(), Elements.get() + Count, U{}); }

    std::unique_ptr<U[]> Elements;
    std::uint64_t NumDimensions = 2;
    std::vector<std::uint64_t> Lengths;
    std::uint64_t Count = 0;
    std::uint64_t AllocatedCount = 0;
    std::vector<std::uint64_t> Strides;

private:
    static std::uint64_t SaturatingProduct(std::uint64_t a, std::uint64_t b) {
        if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a)
            return std::numeric_limits<std::uint64_t>::max();
        return a * b;
    }
};

}  // namespace CorvanaModelBuilder
