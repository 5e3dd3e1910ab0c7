// Parse and look up hostile-sized parameter strings: a wide one of about 10 MB and a chain of
// 100 000 nested groups. Both must stay well under a second and linear in memory.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "amiparams/AmiParameters.h"

namespace {

std::string Wide(std::size_t bytes) {
    std::string text = "(KT7MRL40562D9_Rx";
    for (int i = 0; text.size() < bytes; ++i)
        text += " (p" + std::to_string(i) + " 1.25e-3 \"quoted (text)\" 42 True)";
    return text + " (EQ 3))";
}

std::string Deep(int depth, std::string& path) {
    std::string text;
    for (int i = 0; i < depth; ++i) {
        text += "(n ";
        path += i ? ".n" : "n";
    }
    path += ".EQ";
    return text + "(EQ 3)" + std::string(static_cast<std::size_t>(depth), ')');
}

void Lookup(benchmark::State& state, const std::string& text, const char* path) {
    for (auto _ : state) {
        AmiParameters parameters = ParseAmiParameters(text.c_str());
        std::int32_t eq = 0;
        if (!GetAmiInt(parameters, eq, path) || eq != 3) state.SkipWithError("lookup failed");
        ReleaseAmiParameters(parameters);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(text.size()));
}

void BM_ParseWide10MB(benchmark::State& state) {
    const std::string text = Wide(10u << 20);
    Lookup(state, text, "KT7MRL40562D9_Rx.EQ");
}
BENCHMARK(BM_ParseWide10MB)->Unit(benchmark::kMillisecond);

void BM_ParseDeep100k(benchmark::State& state) {
    std::string path;
    const std::string text = Deep(100000, path);
    Lookup(state, text, path.c_str());
}
BENCHMARK(BM_ParseDeep100k)->Unit(benchmark::kMillisecond);

void BM_ParseLongNumber10MB(benchmark::State& state) {
    const std::string text = "(M (EQ 3) (x 1" + std::string(10u << 20, '7') + ".5e1))";
    Lookup(state, text, "M.EQ");
}
BENCHMARK(BM_ParseLongNumber10MB)->Unit(benchmark::kMillisecond);

}  // namespace
