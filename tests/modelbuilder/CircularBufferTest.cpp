#include "modelbuilder/CircularBuffer.h"

#include <gtest/gtest.h>

#include <complex>
#include <cstdint>
#include <limits>
#include <new>
#include <numeric>
#include <vector>

#include "modelbuilder/CircularBufferBus.h"
#include "modelbuilder/Matrix.h"
#include "tests/support/Drive.h"

namespace CorvanaModelBuilder {
namespace {

TEST(CircularBufferCopyTo, WrapsBothBuffersInThreeRuns) {
    std::vector<int> src{10, 11, 12, 13};
    std::vector<int> dst(8, -1);
    CircularBuffer<int> from;
    CircularBuffer<int> to;
    Attach(from, src);
    Attach(to, dst);
    from.Position = 3;
    to.Position = 6;
    from.CopyTo(0, to, 0, 4);
    EXPECT_EQ((std::vector<int>{11, 12, -1, -1, -1, -1, 13, 10}), dst);
}

TEST(CircularBufferCopyTo, OffsetsWrapOnceAndZeroCountCopiesNothing) {
    std::vector<double> src{1, 2, 3, 4, 5};
    std::vector<double> dst(3, 0.0);
    CircularBuffer<double> from;
    CircularBuffer<double> to;
    Attach(from, src);
    Attach(to, dst);
    from.Position = 4;
    to.Position = 2;
    from.CopyTo(2, to, 2, 0);
    EXPECT_EQ((std::vector<double>{0, 0, 0}), dst);
    from.CopyTo(2, to, 2, 1);  // source place 6 - 5 = 1, destination place 4 - 3 = 1
    EXPECT_EQ((std::vector<double>{0, 2, 0}), dst);
    from.CopyTo(1, to, 0, 3);  // source places 0, 1, 2 to destination places 2, 0, 1
    EXPECT_EQ((std::vector<double>{2, 3, 1}), dst);
}

TEST(CircularBufferCopyTo, UnattachedBufferEndsInsteadOfLooping) {
    CircularBuffer<double> from;
    CircularBuffer<double> to;
    from.CopyTo(0, to, 0, 5);
    EXPECT_EQ(nullptr, to.Data);
}

TEST(CircularBufferAccess, CurrentAndLaterElementsWrapAtCapacity) {
    std::vector<double> storage{10, 11, 12, 13, 14};
    CircularBuffer<double> buffer;
    buffer.Data = storage.data();
    buffer.Capacity = 5;
    buffer.Position = 3;
    EXPECT_EQ(13, buffer.Current());
    EXPECT_EQ(14, buffer.At(1));
    EXPECT_EQ(10, buffer.At(2));  // place 5 wraps to 0
    EXPECT_EQ(12, buffer.At(4));
    buffer.At(3) = -1;
    EXPECT_EQ((std::vector<double>{10, -1, 12, 13, 14}), storage);
}

TEST(CircularBufferAttach, SingleElementStoreAndDetachResetThePort) {
    double store = 4.25;
    CircularBuffer<double> port;
    port.Rate = 3;
    port.Position = 2;
    AttachSingleElement(port, &store);
    EXPECT_EQ(1u, port.Capacity);
    EXPECT_EQ(1u, port.Rate);
    EXPECT_EQ(0u, port.Position);
    EXPECT_EQ(4.25, port.Current());
    AttachSingleElement<double>(port, nullptr);
    EXPECT_EQ(nullptr, port.Data);
    EXPECT_EQ(0u, port.Capacity);
}

TEST(CircularBufferRelease, WithNoneAndNoStorageLeavesAnEmptyBuffer) {
    CircularBuffer<double> buffer;
    buffer.Release(nullptr);
    EXPECT_EQ(nullptr, buffer.Data);
    EXPECT_EQ(0u, buffer.Position);
    EXPECT_EQ(0u, buffer.Capacity);

    buffer.Data = static_cast<double*>(buffer.Allocate(4));
    buffer.Capacity = 4;
    buffer.Position = 3;
    buffer.Release(nullptr);  // frees its own storage and forgets it
    EXPECT_EQ(nullptr, buffer.Data);
    EXPECT_EQ(0u, buffer.Position);
    EXPECT_EQ(0u, buffer.Capacity);
}

TEST(CircularBufferAllocate, ZeroesComplexAndEnvelopeElements) {
    CircularBuffer<std::complex<double>> complexBuffer;
    auto* values = static_cast<std::complex<double>*>(complexBuffer.Allocate(5));
    for (int k = 0; k < 5; ++k) EXPECT_EQ(std::complex<double>(0.0, 0.0), values[k]);
    complexBuffer.Release(values);

    CircularBuffer<EnvelopeSignal> envelopes;
    auto* signals = static_cast<EnvelopeSignal*>(envelopes.Allocate(3));
    for (int k = 0; k < 3; ++k) EXPECT_EQ(0.0, signals[k].InPhase + signals[k].Quadrature);
    envelopes.Release(signals);
}

TEST(CircularBufferAllocate, ElementSizesFollowTheElementType) {
    EXPECT_EQ(8u, CircularBuffer<double>().ElementSize);
    EXPECT_EQ(4u, CircularBuffer<int>().ElementSize);
    EXPECT_EQ(16u, CircularBuffer<std::complex<double>>().ElementSize);
    EXPECT_EQ(1u, CircularBuffer<bool>().ElementSize);
    EXPECT_EQ(8u, CircularBuffer<std::complex<float>>().ElementSize);
    EXPECT_EQ(16u, CircularBuffer<EnvelopeSignal>().ElementSize);
    EXPECT_EQ(sizeof(Matrix<float>), CircularBuffer<Matrix<float>>().ElementSize);
}

#ifndef KT_SANITIZE  // the sanitizer runtime aborts on an impossible size instead of throwing
TEST(CircularBufferAllocate, OverflowingByteSizeFailsAsAnAllocation) {
    CircularBuffer<double> buffer;
    const std::uint64_t tooMany = std::numeric_limits<std::uint64_t>::max() / 4;
    EXPECT_THROW(buffer.Allocate(tooMany), std::bad_alloc);
    CircularBuffer<Matrix<double>> matrices;
    EXPECT_THROW(matrices.Allocate(tooMany), std::bad_alloc);
}
#endif

TEST(CircularBufferMatrix, ZeroFillWithAndWithoutShape) {
    CircularBuffer<Matrix<double>> buffer;
    auto* elements = static_cast<Matrix<double>*>(buffer.Allocate(3));
    buffer.Data = elements;
    buffer.Capacity = 3;
    buffer.Position = 2;

    Matrix<double> shape;
    const std::uint64_t lengths[3] = {2, 3, 2};
    shape.Resize(3, lengths);
    EXPECT_EQ(12u, shape.Count);
    EXPECT_EQ((std::vector<std::uint64_t>{1, 2, 6}), shape.Strides);

    EXPECT_TRUE(buffer.ZeroFill(1, 2, &shape));  // places 0 and 1 after the wrap
    for (int place : {0, 1}) {
        EXPECT_EQ(3u, elements[place].NumDimensions);
        ASSERT_EQ(12u, elements[place].Count);
        for (std::uint64_t k = 0; k < 12; ++k) EXPECT_EQ(0.0, elements[place].Elements[k]);
    }
    EXPECT_EQ(0u, elements[2].Count);
    EXPECT_EQ(2u, elements[2].NumDimensions);

    EXPECT_TRUE(buffer.ZeroFill(0, 3, nullptr));
    for (int place : {0, 1, 2}) {
        EXPECT_EQ(0u, elements[place].Count);
        EXPECT_EQ(place == 2 ? 2u : 3u, elements[place].NumDimensions);
    }
    buffer.Release(nullptr);
    EXPECT_EQ(nullptr, buffer.Data);
}

TEST(CircularBufferMatrix, CopyToAssignsShapeAndEntries) {
    CircularBuffer<Matrix<int>> from;
    CircularBuffer<Matrix<int>> to;
    from.Data = static_cast<Matrix<int>*>(from.Allocate(2));
    from.Capacity = 2;
    to.Data = static_cast<Matrix<int>*>(to.Allocate(2));
    to.Capacity = 2;
    const std::uint64_t lengths[2] = {2, 2};
    from.Data[1].Resize(2, lengths);
    std::iota(from.Data[1].Elements.get(), from.Data[1].Elements.get() + 4, 7);
    from.Position = 1;
    to.Position = 1;
    from.CopyTo(0, to, 1, 1);  // destination place 2 wraps to 0
    ASSERT_EQ(4u, to.Data[0].Count);
    EXPECT_EQ(10, to.Data[0].Elements[3]);
    from.Data[1].Elements[3] = 0;  // a deep copy, not a shared array
    EXPECT_EQ(10, to.Data[0].Elements[3]);
    from.Release(nullptr);
    to.Release(nullptr);
}

TEST(CircularBufferBus, ResizeToTheSameCountKeepsConnectionsAndToAnotherStartsAfresh) {
    CircularBufferBusT<CircularBuffer<double>> bus;
    EXPECT_EQ(0u, bus.Count);
    bus.Resize(3);
    std::vector<double> store(2, 0.0);
    Attach(*bus.At(1), store);
    bus.At(1)->Position = 1;
    bus.Resize(3);
    EXPECT_EQ(store.data(), bus.At(1)->Data);
    EXPECT_EQ(1u, bus.At(1)->Position);
    EXPECT_EQ(2u, bus.At(1)->Capacity);

    bus.Resize(2);
    ASSERT_EQ(2u, bus.Count);
    for (std::uint64_t i = 0; i < 2; ++i) {
        EXPECT_EQ(nullptr, bus.At(i)->Data);
        EXPECT_EQ(0u, bus.At(i)->Position);
        EXPECT_EQ(1u, bus.At(i)->Rate);
    }
    bus.Resize(0);
    EXPECT_EQ(nullptr, bus.Buffers);
}

}  // namespace
}  // namespace CorvanaModelBuilder
