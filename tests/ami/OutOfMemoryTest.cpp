// Running out of memory inside an entry point ends that call with a result of 0, never with an
// exception in the host. This program's allocator fails on request, so the transmitter's
// AMI_GetWave meets it where its block path grows its work buffers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "ami/AmiExport.h"

namespace {
bool failAllocations = false;
}  // namespace

void* operator new(std::size_t size) {
    if (failAllocations) throw std::bad_alloc();
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

TEST(OutOfMemory, TheTransmittersGetWaveReturnsZeroAndTheInstanceStaysUsable) {
    char parameters[] = "(KT7MRL40562D9_Tx (tx_samplerate 3.84e11) (FG 2) (SW 1))";
    void* handle = nullptr;
    char* msg = nullptr;
    ASSERT_EQ(1, AMI_Init(nullptr, 0, 0, 1.0 / 3.84e11, 12.0 / 3.84e11, parameters, nullptr,
                          &handle, &msg));
    std::vector<double> wave(4096, 0.25), clock(4096 / 12 + 2, 0.0);
    EXPECT_EQ(1, AMI_GetWave(wave.data(), 4096, clock.data(), nullptr, handle));
    std::vector<double> longer(1 << 16, 0.25);
    std::vector<double> longerClock(longer.size() / 12 + 2, 0.0);
    failAllocations = true;
    long result = -1;
    EXPECT_NO_THROW(result = AMI_GetWave(longer.data(), long(longer.size()), longerClock.data(),
                                         nullptr, handle));
    failAllocations = false;
    EXPECT_EQ(0, result);
    // Memory back, the same instance goes on.
    EXPECT_EQ(1,
              AMI_GetWave(longer.data(), long(longer.size()), longerClock.data(), nullptr, handle));
    EXPECT_EQ(1, AMI_Close(handle));
}

}  // namespace
