// Arbitrary bytes into the parameter parser and both getters. The bytes up to the first NUL are
// the parameter string; the bytes after it, if any, are one more path to look up.
#include <cstddef>
#include <cstdint>
#include <string>

#include "amiparams/AmiParameters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::size_t nul = bytes.find('\0');
    const std::string text = bytes.substr(0, nul);
    const std::string path = nul == std::string::npos ? "Root.a" : bytes.substr(nul + 1);

    AmiParameters parameters = ParseAmiParameters(text.c_str());
    double d = 0.0;
    std::int32_t i = 0;
    for (const char* p : {"KT7MRL40562D9_Rx.rx_samplerate", "KT7MRL40562D9_Rx.EQ", path.c_str()}) {
        GetAmiDouble(parameters, d, p);
        GetAmiInt(parameters, i, p);
    }
    ReleaseAmiParameters(parameters);
    return 0;
}
