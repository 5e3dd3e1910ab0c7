#pragma once

#include <cstdint>
#include <memory>

#include "modelbuilder/CircularBuffer.h"

namespace CorvanaModelBuilder {

// A set of same-typed ports, such as the outputs of a fork.
class CircularBufferBus {
public:
    virtual void Resize(std::uint64_t count) = 0;
    virtual ~CircularBufferBus() = default;
    virtual CircularBufferBase* At(std::uint64_t index) = 0;
};

// Owns its buffers, never their storage. Resizing to the current count keeps every buffer with
// its connection; any other count gives all-new default buffers.
template <class B>
class CircularBufferBusT : public CircularBufferBus {
public:
    CircularBufferBusT() = default;
    CircularBufferBusT(const CircularBufferBusT&) = delete;
    CircularBufferBusT& operator=(const CircularBufferBusT&) = delete;
    ~CircularBufferBusT() override { delete[] Buffers; }

    std::uint64_t Count = 0;
    B* Buffers = nullptr;

    void Resize(std::uint64_t count) override {
        if (count == Count) return;
        B* fresh = count > 0 ? new B[static_cast<std::size_t>(count)] : nullptr;
        delete[] Buffers;
        Buffers = fresh;
        Count = count;
    }

    B* At(std::uint64_t index) override { return &Buffers[index]; }
};

}  // namespace CorvanaModelBuilder
