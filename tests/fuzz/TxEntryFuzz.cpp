// The transmitter library as a host drives it: AMI_Init on fuzzed times, parameter string and
// null pointers, AMI_GetWave on fuzzed samples cut into fuzzed blocks, then AMI_Close.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ami/AmiExport.h"
#include "tests/fuzz/EntryFuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EntryFuzzInput in(data, size);
    void* handle = nullptr;
    char* msg = nullptr;
    AMI_Init(nullptr, in.rowSize, in.aggressors, in.sampleInterval, in.bitTime,
             in.nullParameters ? nullptr : in.parameters.data(), nullptr,
             in.nullHandle ? nullptr : &handle, in.nullMessage ? nullptr : &msg);
    std::vector<double> wave = in.samples;
    std::vector<double> clock(2, 0.0);
    std::size_t done = 0;
    for (std::size_t k = 0; done < wave.size() && k < 4 * wave.size() + 4; ++k) {
        const long block = in.blocks[k % in.blocks.size()];
        const long count = std::min<long>(block, static_cast<long>(wave.size() - done));
        AMI_GetWave(in.nullMatrix && k == 0 ? nullptr : wave.data() + done, count, clock.data(),
                    nullptr, handle);
        if (count > 0) done += static_cast<std::size_t>(count);
    }
    AMI_Close(handle);
    return 0;
}
