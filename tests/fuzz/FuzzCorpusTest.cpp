// Replays a fuzz target's seed corpus through its entry function, so the target keeps compiling
// and every seed stays harmless in the ordinary builds too. Built once per target, with the
// suite named after it.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

TEST(KT_FUZZ_SUITE, EverySeedRunsCleanly) {
    int seeds = 0;
    for (const auto& file : std::filesystem::directory_iterator(KT_FUZZ_CORPUS)) {
        std::ifstream in(file.path(), std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(0, LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                            bytes.size()))
            << file.path();
        ++seeds;
    }
    EXPECT_GE(seeds, 5);
}
