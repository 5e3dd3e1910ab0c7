// The receiver library as a host drives it: AMI_Init on a fuzzed matrix, sizes, times, parameter
// string and null pointers, then AMI_Close. Crashes, sanitizer reports, leaks, timeouts and
// memory beyond the run's limit are findings.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ami/AmiExport.h"
#include "tests/fuzz/EntryFuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    EntryFuzzInput in(data, size);
    // The matrix the sizes describe, as far as there are samples; a host never passes less.
    const long columns = in.aggressors + 1;
    std::vector<double> matrix = in.samples;
    if (in.rowSize > 0 && columns > 0)
        matrix.resize(static_cast<std::size_t>(in.rowSize * columns), 0.0);
    void* handle = nullptr;
    char* msg = nullptr;
    AMI_Init(in.nullMatrix ? nullptr : matrix.data(), in.rowSize, in.aggressors, in.sampleInterval,
             in.bitTime, in.nullParameters ? nullptr : in.parameters.data(), nullptr,
             in.nullHandle ? nullptr : &handle, in.nullMessage ? nullptr : &msg);
    AMI_Close(handle);
    return 0;
}
