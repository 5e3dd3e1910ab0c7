// Arbitrary bytes into every amirun reader and the file checker: the first byte picks the
// reader, the rest is the file's text (a batch plan and a results file go through a file, as
// they are read). A reader may refuse the text with its own error, never
// crash, hang or run away with memory; what it accepts must give finite samples.
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "tools/amirun/batch/BatchReport.h"
#include "tools/amirun/batch/Plan.h"
#include "tools/amirun/batch/Results.h"
#include "tools/amirun/channel/Channel.h"
#include "tools/amirun/channel/Touchstone.h"
#include "tools/amirun/check/Check.h"
#include "tools/amirun/host/AmiFile.h"
#include "tools/amirun/host/IbisFile.h"

namespace {

amirun::ChannelOptions Options(std::uint8_t selector) {
    amirun::ChannelOptions options;
    options.dt = 1.0 / 3.84e11;
    options.samplesPerBit = 12;
    options.bitRate = 32e9;
    options.extrapolate = (selector & 0x10) != 0;
    options.step = (selector & 0x20) != 0;
    return options;
}

void RequireFinite(const amirun::RawChannel& raw) {
    for (const auto& column : raw.columns)
        for (double v : column)
            if (!std::isfinite(v)) __builtin_trap();
}

// The text as a file of this process, for the readers that take a path.
std::string AsFile(const std::string& text, const char* suffix) {
    const std::string path = "/tmp/amirun-fuzz-" + std::to_string(getpid()) + suffix;
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return path;
    std::fwrite(text.data(), 1, text.size(), file);
    std::fclose(file);
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t selector = data[0];
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    try {
        switch (selector % 6) {
            case 0: {  // Touchstone: a port count by name from the selector, or none (2.0)
                const int ports = (selector >> 2) % 5 * 2;
                const amirun::Touchstone parsed = amirun::ParseTouchstone(text, ports);
                if (parsed.ports <= 16 && parsed.frequencies.size() < 4096)
                    RequireFinite(amirun::ReadTouchstoneChannel(text, ports, Options(selector)));
                break;
            }
            case 1:
                RequireFinite(amirun::ReadTableChannel("fuzz.csv", text, Options(selector)));
                break;
            case 2: {  // the keyword files: the .ibs reader and the checkers of all three types
                amirun::CheckReport report;
                amirun::CheckIbisText(text, "fuzz.ibs", report);
                amirun::CheckPackageText(text, "fuzz.pkg", report);
                amirun::CheckBoardText(text, "fuzz.ebd", report);
                amirun::ParseIbisFile(text);
                break;
            }
            case 4:
                amirun::ReadPlan(AsFile(text, ".json"));
                break;
            case 5: {  // a results file, as report merges it and batch recovers it
                const std::string path = AsFile(text, ".jsonl");
                const amirun::MergedResults merged = amirun::MergeResults({path});
                amirun::ResultsHtml(merged);
                amirun::ResultsCsv(merged);
                amirun::RecoverResults(path, "p");
                break;
            }
            default: {
                amirun::CheckReport report;
                amirun::CheckAmiText(text, "fuzz.ami", {"fuzz.ami", "model", "5.0", "Rx"}, report);
                const amirun::AmiModelDescription model = amirun::ParseAmiFile(text);
                amirun::BuildParameterString(model, amirun::ResolveValues(model, {}));
                break;
            }
        }
    } catch (const std::runtime_error&) {
        // refused with a reason: what a reader should do with bad text
    }
    return 0;
}
