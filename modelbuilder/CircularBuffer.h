#pragma once

#include <algorithm>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <type_traits>

#include "modelbuilder/Matrix.h"

namespace CorvanaModelBuilder {

// A port: a view on element storage that it never owns. The current element is
// Data[Position]; element k after it is Data[(Position + k) mod Capacity]. The typed classes
// below hold Data and Capacity, after these fields. No operation checks bounds: offsets stay
// below Capacity and a CopyTo destination has the same element type.
class CircularBufferBase {
public:
    explicit CircularBufferBase(std::uint64_t elementSize) : ElementSize(elementSize) {}
    CircularBufferBase(const CircularBufferBase&) = default;
    CircularBufferBase& operator=(const CircularBufferBase&) = default;

    std::uint64_t Rate = 1;
    std::uint64_t MinCapacity = 1;
    std::uint64_t ElementSize;
    std::uint64_t Position = 0;

    virtual ~CircularBufferBase() = default;
    virtual void CopyTo(std::uint64_t srcOffset, CircularBufferBase& dst, std::uint64_t dstOffset,
                        std::uint64_t count) = 0;
    virtual void CopyElements(const void* src, void* dst, std::uint64_t count) = 0;
    virtual bool ZeroFill(std::uint64_t offset, std::uint64_t count, const void* shape) = 0;
    virtual void* Allocate(std::uint64_t count) = 0;
    virtual void Release(void* array) = 0;

protected:
    // A place offset elements after the current one, reduced by one subtraction of capacity.
    static std::uint64_t Place(std::uint64_t position, std::uint64_t offset,
                               std::uint64_t capacity) {
        std::uint64_t place = position + offset;
        if (offset != 0 && place >= capacity) place -= capacity;
        return place;
    }
    // ZeroFill counts from the current element like every other operation, and wraps as often
    // as needed, so a long count never leaves the storage.
    std::uint64_t ZeroFillPlace(std::uint64_t offset, std::uint64_t k,
                                std::uint64_t capacity) const {
        return (Position % capacity + offset % capacity + k % capacity) % capacity;
    }
    // A byte size that overflows is requested as the largest size, so the allocation fails.
    static std::size_t ByteSize(std::uint64_t count, std::size_t elementSize) {
        if (count > std::numeric_limits<std::size_t>::max() / elementSize)
            return std::numeric_limits<std::size_t>::max();
        return static_cast<std::size_t>(count) * elementSize;
    }
};

// A 16-byte plain value, zero when all its bytes are zero.
struct EnvelopeSignal {
    double InPhase;
    double Quadrature;
};

template <class T>
struct ZeroedOnAllocate : std::false_type {};
template <class F>
struct ZeroedOnAllocate<std::complex<F>> : std::true_type {};
template <>
struct ZeroedOnAllocate<EnvelopeSignal> : std::true_type {};

// Buffer of plain elements: contiguous runs move as one block copy each.
template <class T>
class CircularBuffer : public CircularBufferBase {
public:
    static_assert(std::is_trivially_copyable<T>::value, "plain element types only");
    CircularBuffer() : CircularBufferBase(sizeof(T)) {}

    T* Data = nullptr;
    std::uint64_t Capacity = 0;

    ~CircularBuffer() override = default;

    // The element a one-element firing reads or writes, and the one k places after it (k below
    // Capacity). Not virtual: the layout stays that of the fields above.
    T& Current() { return Data[Position]; }
    const T& Current() const { return Data[Position]; }
    T& At(std::uint64_t k) { return Data[Place(Position, k, Capacity)]; }
    const T& At(std::uint64_t k) const { return Data[Place(Position, k, Capacity)]; }

    void CopyTo(std::uint64_t srcOffset, CircularBufferBase& dstBase, std::uint64_t dstOffset,
                std::uint64_t count) override {
        auto& dst = static_cast<CircularBuffer<T>&>(dstBase);
        std::uint64_t s = Place(Position, srcOffset, Capacity);
        std::uint64_t d = Place(dst.Position, dstOffset, dst.Capacity);
        if (count == 1) {  // one sample per firing is the common case
            dst.Data[d] = Data[s];
            return;
        }
        while (count > 0) {
            const std::uint64_t chunk = std::min({count, Capacity - s, dst.Capacity - d});
            if (chunk == 0) return;  // an unattached buffer: nothing can be copied
            std::memmove(dst.Data + d, Data + s, static_cast<std::size_t>(chunk) * sizeof(T));
            count -= chunk;
            s += chunk;
            if (s == Capacity) s = 0;
            d += chunk;
            if (d == dst.Capacity) d = 0;
        }
    }

    void CopyElements(const void* src, void* dst, std::uint64_t count) override {
        if (count > 0) std::memmove(dst, src, static_cast<std::size_t>(count) * sizeof(T));
    }

    bool ZeroFill(std::uint64_t offset, std::uint64_t count, const void*) override {
        if (Capacity == 0) return true;
        for (std::uint64_t k = 0; k < count; ++k) {
            std::memset(static_cast<void*>(Data + ZeroFillPlace(offset, k, Capacity)), 0,
                        sizeof(T));
        }
        return true;
    }

    void* Allocate(std::uint64_t count) override {
        const std::size_t bytes = ByteSize(count, sizeof(T));
        void* array = ::operator new[](bytes);
        if (ZeroedOnAllocate<T>::value) std::memset(array, 0, bytes);
        return array;
    }

    void Release(void* array) override {
        if (array != nullptr) {
            ::operator delete[](array);
            return;
        }
        ::operator delete[](static_cast<void*>(Data));
        Data = nullptr;
        Position = 0;
        Capacity = 0;
    }
};

// Element-wise buffer for elements that own memory: each element is assigned, never
// byte-copied.
template <class M>
class CircularBufferE;

template <class U>
class CircularBufferE<Matrix<U>> : public CircularBufferBase {
public:
    using Element = Matrix<U>;
    CircularBufferE() : CircularBufferBase(sizeof(Element)) {}

    Element* Data = nullptr;
    std::uint64_t Capacity = 0;

    ~CircularBufferE() override = default;

    void CopyTo(std::uint64_t srcOffset, CircularBufferBase& dstBase, std::uint64_t dstOffset,
                std::uint64_t count) override {
        auto& dst = static_cast<CircularBufferE<Element>&>(dstBase);
        for (std::uint64_t k = 0; k < count; ++k) {
            std::uint64_t s = Position + srcOffset + k;
            if (s >= Capacity) s -= Capacity;
            std::uint64_t d = dst.Position + dstOffset + k;
            if (d >= dst.Capacity) d -= dst.Capacity;
            dst.Data[d] = Data[s];
        }
    }

    void CopyElements(const void* src, void* dst, std::uint64_t count) override {
        const auto* from = static_cast<const Element*>(src);
        auto* to = static_cast<Element*>(dst);
        for (std::uint64_t k = 0; k < count; ++k) to[k] = from[k];
    }

    bool ZeroFill(std::uint64_t offset, std::uint64_t count, const void* shape) override {
        const auto* model = static_cast<const Element*>(shape);
        if (Capacity == 0) return true;
        for (std::uint64_t k = 0; k < count; ++k) {
            const std::uint64_t place = ZeroFillPlace(offset, k, Capacity);
            if (model != nullptr) {
                Data[place].Resize(model->NumDimensions, model->Lengths.data());
                Data[place].SetZero();
            } else {
                Data[place].MakeEmpty();
            }
        }
        return true;
    }

    void* Allocate(std::uint64_t count) override {
        // An oversized count makes new[] throw its allocation failure before anything is built.
        return new Element[static_cast<std::size_t>(count)];
    }

    void Release(void* array) override {
        if (array != nullptr) {
            delete[] static_cast<Element*>(array);
            return;
        }
        delete[] Data;
        Data = nullptr;
        Position = 0;
        Capacity = 0;
    }
};

template <class U>
class CircularBuffer<Matrix<U>> : public CircularBufferE<Matrix<U>> {
public:
    ~CircularBuffer() override = default;
};

// Points a port at a one-element store, or at none: the shape of every connection of the device
// models and of the ports their driver feeds.
template <class T>
void AttachSingleElement(CircularBuffer<T>& port, T* store) {
    port.Data = store;
    port.Capacity = store != nullptr ? 1 : 0;
    port.Rate = 1;
    port.Position = 0;
}

// Carries three time fields that no block of this system reads.
template <class T>
class TimedCircularBuffer : public CircularBuffer<T> {
public:
    ~TimedCircularBuffer() override = default;

    double TimeOrigin = 0.0;
    double TimeStep = 0.0;
    double TimeOffset = 0.0;
};

}  // namespace CorvanaModelBuilder
