#include "tools/amirun/channel/Channel.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iomanip>
#include <iterator>
#include <sstream>

#include "tools/amirun/channel/BuiltInLine.h"
#include "tools/amirun/channel/FrequencyResponse.h"
#include "tools/amirun/io/Input.h"
#include "tools/amirun/io/Limits.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

// Channel files beyond this are not channels (a 10 000-point 16-port file is about 100 MB).
constexpr std::streamoff kLargestFile = std::streamoff{512} << 20;

std::string Extension(const std::string& path) {
    const auto dot = path.find_last_of('.');
    return Lower(dot == std::string::npos ? "" : path.substr(dot + 1));
}

// .s2p, .s4p, ...: the port count the name promises, or 0.
int PortsOfName(const std::string& path) {
    const std::string ext = Extension(path);
    if (ext.size() < 3 || ext.size() > 5 || ext.front() != 's' || ext.back() != 'p') return 0;
    int ports = 0;
    for (std::size_t i = 1; i + 1 < ext.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(ext[i]))) return 0;
        ports = ports * 10 + (ext[i] - '0');
    }
    return ports;
}

std::string ReadText(const std::string& path) {
    const std::string text =
        ReadInputAs<ChannelError>(path, std::uintmax_t(kLargestFile), "larger than 512 MiB");
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        throw ChannelError(path + ": the file is empty");
    return text;
}

// Cuts every column to the window and fills in what the window tells.
Channel Finish(RawChannel raw, const ChannelOptions& options) {
    Channel channel;
    channel.report = std::move(raw.report);
    ChannelReport& report = channel.report;
    const std::vector<double>& through = raw.columns.front();
    if (raw.keepWhole && options.windowBits == 0) {
        channel.columns = std::move(raw.columns);
    } else {
        const Window window = ChooseWindow(through, options.dt, options.samplesPerBit,
                                           report.dcGain, options.windowBits);
        report.keptDcFraction = window.kept;
        if (window.bounded) {
            const bool memory =
                window.samples + std::size_t(options.samplesPerBit) > kMaxWindowSamples;
            std::ostringstream text;
            text << "the response has not settled within the "
                 << double(memory ? kMaxWindowSamples : through.size()) /
                        double(options.samplesPerBit)
                 << " UI "
                 << (memory ? "amirun keeps (its memory bound)"
                            : "that the file's data cover (its length or frequency "
                              "spacing)");
            report.warnings.push_back(text.str());
        }
        for (auto& column : raw.columns) column.resize(window.samples, 0.0);
        channel.columns = std::move(raw.columns);
    }
    const std::vector<double>& kept = channel.columns.front();
    report.windowUi = double(kept.size()) / double(options.samplesPerBit);
    if (std::isnan(report.lossAtNyquistDb))
        report.lossAtNyquistDb =
            20.0 * std::log10(std::max(std::abs(ResponseAt(kept, options.dt, options.bitRate / 2)),
                                       1e-300));
    // The window is to blame only for what it cuts of the causal response.
    const double causal = 1.0 - report.acausalFraction;
    if (std::isfinite(report.keptDcFraction) && report.keptDcFraction < 0.99 * causal) {
        std::ostringstream text;
        text << std::setprecision(3) << "the window of " << report.windowUi << " UI keeps only "
             << 100.0 * report.keptDcFraction << " % of the DC response; the eye is optimistic "
             << "(a longer --window-bits keeps more)";
        report.warnings.push_back(text.str());
    }
    report.inverted = report.inverted || report.dcGain < 0.0;
    if (report.inverted)
        report.warnings.push_back(
            "the through response is inverted (negative at DC): a P/N swap "
            "at one end? amirun keeps the inversion");
    return channel;
}

}  // namespace

Window ChooseWindow(const std::vector<double>& impulse, double dt, int samplesPerBit, double dcGain,
                    int windowBits) {
    const std::size_t spb = std::size_t(samplesPerBit);
    Window window;
    if (windowBits > 0) {
        window.samples = std::size_t(windowBits) * spb;
        if (window.samples > kMaxWindowSamples)
            throw ChannelError("a window of " + std::to_string(windowBits) + " unit intervals of " +
                               std::to_string(spb) + " samples is more than the " +
                               std::to_string(kMaxWindowSamples) + " samples amirun keeps");
    } else {
        // The last sample where the step response is still off its own final value by 0.1 % of
        // the DC gain (a response whose data end before it settles keeps less than its DC gain,
        // which the kept fraction says).
        double step = 0.0, scale = std::fabs(dcGain);
        std::vector<double> steps(impulse.size());
        for (std::size_t n = 0; n < impulse.size(); ++n) steps[n] = step += impulse[n] * dt;
        if (!(scale > 0.0))
            for (double s : steps) scale = std::max(scale, std::fabs(s));
        const double final = steps.empty() ? 0.0 : steps.back();
        std::size_t settled = 0;
        for (std::size_t n = steps.size(); n-- > 0;)
            if (std::fabs(steps[n] - final) > 1e-3 * scale) {
                settled = n + 1;
                break;
            }
        const std::size_t bits = (settled + spb - 1) / spb;
        window.samples = std::max(bits, std::size_t(kMinWindowBits)) * spb;
        const std::size_t bound = kMaxWindowSamples / spb * spb;
        window.bounded = settled >= impulse.size() || window.samples > bound;
        window.samples = std::min(window.samples, bound);
    }
    double kept = 0.0;
    for (std::size_t n = 0; n < std::min(window.samples, impulse.size()); ++n)
        kept += impulse[n] * dt;
    window.kept = dcGain != 0.0 ? kept / dcGain : ChannelReport::kNan;
    return window;
}

Channel ReadChannel(const std::string& path, const ChannelOptions& options) {
    const std::string text = ReadText(path);
    const int namedPorts = PortsOfName(path);
    const bool touchstone = options.format == ChannelFormat::Touchstone ||
                            (options.format == ChannelFormat::Auto && namedPorts > 0);
    try {
        if (touchstone) return Finish(ReadTouchstoneChannel(text, namedPorts, options), options);
        if (!options.ports.empty()) throw ChannelError("--ports applies to Touchstone files only");
        RawChannel raw = ReadTableChannel(path, text, options);
        if (raw.columns.front().size() > kMaxWindowSamples)
            throw ChannelError("more than " + std::to_string(kMaxWindowSamples) + " samples");
        return Finish(std::move(raw), options);
    } catch (const ChannelError& error) {
        const std::string what = error.what();
        throw ChannelError(what.rfind(path, 0) == 0 ? what : path + ": " + what);
    }
}

Channel BuiltInChannel(double lossDb, const ChannelOptions& options) {
    if (!options.ports.empty()) throw ChannelError("--ports applies to Touchstone files only");
    RawChannel raw;
    std::ostringstream source;
    source << "built-in line, " << lossDb << " dB at the Nyquist frequency";
    raw.report.source = source.str();
    raw.report.dcGain = 1.0;
    raw.report.lossAtNyquistDb = -lossDb;
    // Its tail decays within about 10 ns; 200 ns holds all of it at any bit rate.
    const double span = std::max(200e-9, double(options.windowBits) / options.bitRate);
    const auto length =
        std::size_t(std::min(std::ceil(span / options.dt), double(kMaxWindowSamples)));
    raw.columns.push_back(LossyLineImpulse(lossDb, options.bitRate, options.dt, length));
    return Finish(std::move(raw), options);
}

}  // namespace amirun
