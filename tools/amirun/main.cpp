// amirun: a command-line IBIS-AMI host. Loads any model library with dlopen, builds its
// parameter string from its .ami file, and runs AMI_Init on a channel, AMI_GetWave on a PRBS
// waveform, or AMI_Init over every value of one List parameter. Writes CSV files and PNG plots.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <sstream>
#include <thread>

#include "tools/amirun/AmiFile.h"
#include "tools/amirun/AmiLibrary.h"
#include "tools/amirun/Channel.h"
#include "tools/amirun/IbisFile.h"
#include "tools/amirun/Output.h"
#include "tools/amirun/Plot.h"
#include "tools/amirun/Signal.h"
#include "tools/amirun/StatEye.h"

namespace fs = std::filesystem;
using namespace amirun;

namespace {

// More samples than this in one waveform would take gigabytes.
constexpr double kMaxWaveSamples = 5e7;

struct Common {
    std::string library;
    std::string amiFile;
    std::string ibsFile;
    std::string ibsModel;
    std::vector<std::string> sets;
    double sampleInterval = 0.0;
    double bitRate = 32e9;
    double lossDb = 20.0;
    int channelBits = 64;
    std::string outDir = "out";
    std::string prefix;
    std::string channelFile;
    std::string channelFormat = "auto";
    bool step = false;
    std::string ports = "1,3,2,4";
    bool strict = false;
    std::string json;
};

// Raised by --strict when the model fell back to a default; its own exit status.
struct StrictFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};
constexpr int kStrictExit = 3;

// The model's message about parameters it could not read. A model that names itself other than
// the .ami file's root was given the wrong .ami file: an error. A default it fell back to is
// warned of, and an error with --strict.
void CheckMessage(const Common& common, const std::string& message, const std::string& root) {
    const std::string intro = "The IBIS-AMI model, ";
    const auto named = message.find(intro);
    if (named != std::string::npos) {
        const auto from = named + intro.size();
        const std::string model = message.substr(from, message.find(',', from) - from);
        if (model != root)
            throw AmiFileError("the .ami file describes " + root + ", but the library is " + model +
                               ": " + message);
    }
    if (message.find("use the default setting") == std::string::npos) return;
    if (common.strict)
        throw StrictFailure("the model used a default setting (--strict): " + message);
    std::cerr << "warning: the model used a default setting: " << message << '\n';
}

// Everything a run needs, resolved before the library is loaded.
struct Run {
    AmiModelDescription model;
    std::map<std::string, std::string> values;
    double dt = 0.0;
    int samplesPerBit = 0;
    double unitInterval = 0.0;
    std::string prefix;
};

// A bar on standard error, only when it is a terminal.
class Progress {
public:
    Progress(std::string label, std::size_t total)
        : label_(std::move(label)), total_(total), shown_(isatty(2) != 0 && total > 0) {}
    ~Progress() {
        if (shown_) std::cerr << "\r\033[K" << std::flush;
    }
    void Update(std::size_t done) {
        if (!shown_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        const std::size_t width = 40;
        done = std::min(done, total_);
        const std::size_t filled = width * done / total_;
        std::cerr << '\r' << label_ << " [" << std::string(filled, '#')
                  << std::string(width - filled, ' ') << "] " << 100 * done / total_ << '%'
                  << std::flush;
    }

private:
    std::string label_;
    std::size_t total_;
    bool shown_;
    std::mutex mutex_;
};

std::string DefaultAmiFile(const std::string& library) {
    fs::path path(library);
    std::string stem = path.filename().string();
    for (const std::string suffix : {".so", "_x64", "_x86", "_64"})
        if (stem.size() > suffix.size() &&
            stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0)
            stem.erase(stem.size() - suffix.size());
    return (path.parent_path() / (stem + ".ami")).string();
}

// The library and .ami file: given, or found through the .ibs file for this platform.
void ResolveModel(Common& common) {
    if (!common.ibsFile.empty()) {
        if (common.ibsModel.empty()) throw AmiFileError("--ibs needs --model NAME");
        if (!common.library.empty()) throw AmiFileError("give either a library or --ibs, not both");
        const IbisExecutable found = FindExecutable(ReadIbisFile(common.ibsFile), common.ibsFile,
                                                    common.ibsModel, HostPlatform());
        common.library = found.library;
        if (common.amiFile.empty()) common.amiFile = found.amiFile;
    }
    if (common.library.empty()) throw AmiFileError("no model library: give one, or --ibs");
    if (!fs::is_regular_file(common.library))
        throw AmiFileError("no such library: " + common.library);
}

Run Prepare(Common& common) {
    ResolveModel(common);
    Run run;
    run.model =
        ReadAmiFile(common.amiFile.empty() ? DefaultAmiFile(common.library) : common.amiFile);
    std::vector<std::pair<std::string, std::string>> overrides;
    for (const std::string& set : common.sets) {
        const auto equals = set.find('=');
        if (equals == std::string::npos || equals == 0)
            throw AmiFileError("--set takes NAME=VALUE, not '" + set + "'");
        overrides.emplace_back(set.substr(0, equals), set.substr(equals + 1));
    }
    // The model must filter at the simulation's rate: a --sample-interval sets its rate
    // parameter, unless --set gives that itself.
    const AmiParameterSpec* rateParameter = run.model.SampleRateParameter();
    if (rateParameter != nullptr && common.sampleInterval > 0.0 &&
        std::none_of(overrides.begin(), overrides.end(),
                     [&](const auto& o) { return o.first == rateParameter->name; })) {
        std::ostringstream rate;
        rate.imbue(std::locale::classic());
        rate << std::setprecision(17) << 1.0 / common.sampleInterval;
        overrides.emplace_back(rateParameter->name, rate.str());
    }
    run.values = ResolveValues(run.model, overrides);
    const AmiParameterSpec* rate = run.model.SampleRateParameter();
    double modelRate = 0.0;
    if (rate != nullptr && run.values.count(rate->name))
        modelRate = std::atof(run.values[rate->name].c_str());
    run.dt = common.sampleInterval > 0.0 ? common.sampleInterval
                                         : (modelRate > 0.0 ? 1.0 / modelRate : 1.0 / 3.84e11);
    if (rate != nullptr && modelRate > 0.0 && std::fabs(run.dt * modelRate - 1.0) > 1e-9)
        std::cerr << "warning: the sample interval " << run.dt << " s differs from the model's "
                  << rate->name << " (" << modelRate << " samples/s, an interval of "
                  << 1.0 / modelRate << " s); the model filters at its own rate\n";
    run.unitInterval = 1.0 / common.bitRate;
    // Both are range-checked, so the ratio is finite; the bound keeps the waveforms in memory.
    const double perBit = run.unitInterval / run.dt;
    if (!(perBit >= 2.0 && perBit <= 4096.0)) {
        std::ostringstream why;
        why << "a unit interval of " << run.unitInterval << " s holds " << perBit
            << " sample intervals of " << run.dt << " s; amirun needs 2 to 4096";
        throw AmiError(why.str());
    }
    run.samplesPerBit = int(std::lround(perBit));
    if (std::fabs(perBit - run.samplesPerBit) > 1e-6 * perBit)
        std::cerr << "warning: a unit interval holds " << perBit
                  << " samples, not a whole number; amirun uses " << run.samplesPerBit
                  << " samples per unit interval\n";
    // Settings in the file names, so that runs with other --set values do not overwrite them.
    run.prefix = common.prefix;
    if (run.prefix.empty()) {
        run.prefix = run.model.root;
        for (const std::string& set : common.sets) {
            run.prefix += '_';
            for (char c : set) {
                if (c == '=') continue;  // EQ=9 becomes _EQ9
                run.prefix +=
                    std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
            }
        }
    }
    fs::create_directories(common.outDir);
    return run;
}

void WriteCsv(const std::string& path, const std::vector<std::string>& header,
              const std::vector<const std::vector<double>*>& columns, std::size_t step = 1) {
    AtomicFile file(path);
    std::ostream& out = file.Text();
    out << std::setprecision(10);
    for (std::size_t c = 0; c < header.size(); ++c) out << (c ? "," : "") << header[c];
    out << '\n';
    std::size_t rows = 0;
    for (const auto* column : columns) rows = std::max(rows, column->size());
    for (std::size_t r = 0; r < rows && out; r += step) {
        for (std::size_t c = 0; c < columns.size(); ++c)
            out << (c ? "," : "") << (r < columns[c]->size() ? (*columns[c])[r] : 0.0);
        out << '\n';
    }
    file.Commit();
}

// Samples a model returned that no plot or eye can hold.
void RequireFinite(const std::vector<double>& samples, const std::string& what) {
    const auto bad =
        std::count_if(samples.begin(), samples.end(), [](double v) { return !std::isfinite(v); });
    if (bad > 0)
        throw AmiError(what + " holds " + std::to_string(bad) + " samples that are not finite");
}

std::vector<double> Times(std::size_t n, double dt, double scale = 1.0) {
    std::vector<double> t(n);
    for (std::size_t i = 0; i < n; ++i) t[i] = double(i) * dt * scale;
    return t;
}

std::string EyeText(const Eye& eye, double unitInterval) {
    if (!(eye.height > 0.0)) return "closed";
    std::ostringstream text;
    text << std::fixed << std::setprecision(4) << "height " << eye.height << " V, width "
         << std::setprecision(3) << eye.width << " UI (" << std::setprecision(1)
         << eye.width * unitInterval * 1e12 << " ps)";
    return text.str();
}

// The channel's impulse responses at the model's interval: from --channel, or the built-in line.
std::vector<std::vector<double>> ChannelColumns(const Common& common, const Run& run) {
    const std::size_t length = std::size_t(common.channelBits) * std::size_t(run.samplesPerBit);
    if (common.channelFile.empty())
        return {LossyLineImpulse(common.lossDb, common.bitRate, run.dt, length)};
    ChannelOptions options;
    const std::map<std::string, ChannelFormat> formats{{"auto", ChannelFormat::Auto},
                                                       {"values", ChannelFormat::Values},
                                                       {"time", ChannelFormat::Time},
                                                       {"touchstone", ChannelFormat::Touchstone}};
    options.format = formats.at(common.channelFormat);
    options.step = common.step;
    options.dt = run.dt;
    options.length = length;
    options.ports.clear();
    std::istringstream ports(common.ports);
    for (std::string port; std::getline(ports, port, ',');)
        options.ports.push_back(std::atoi(port.c_str()));
    std::vector<int> sorted = options.ports;
    std::sort(sorted.begin(), sorted.end());
    if (sorted != std::vector<int>{1, 2, 3, 4})
        throw AmiFileError("--ports takes the four ports in+, in-, out+, out-, such as 1,3,2,4");
    return ReadChannel(common.channelFile, options);
}

std::vector<double> Channel(const Common& common, const Run& run) {
    return ChannelColumns(common, run).front();
}

// The summary of a run for scripts: numbers, settings and files, as one JSON object.
class Summary {
public:
    void Number(const std::string& key, double value) {
        std::ostringstream text;
        text.imbue(std::locale::classic());
        text << std::setprecision(10) << value;
        Add(key, std::isfinite(value) ? text.str() : "null");
    }
    void Text(const std::string& key, const std::string& value) { Add(key, Quoted(value)); }
    void Object(const std::string& key, const Summary& inner) { Add(key, inner.Json()); }
    std::string Json() const { return "{" + body_ + "}"; }
    void Write(const std::string& path) const {
        if (path.empty()) return;
        AtomicFile file(path);
        file.Text() << Json() << '\n';
        file.Commit();
    }

private:
    static std::string Quoted(const std::string& value) {
        std::string out = "\"";
        for (char c : value) {
            if (c == '"' || c == '\\') out += '\\';
            if (static_cast<unsigned char>(c) < 0x20) continue;
            out += c;
        }
        return out + "\"";
    }
    void Add(const std::string& key, const std::string& json) {
        body_ += (body_.empty() ? "" : ",") + Quoted(key) + ":" + json;
    }
    std::string body_;
};

Summary EyeSummary(const Eye& eye, double unitInterval) {
    Summary summary;
    summary.Number("height_V", eye.height);
    summary.Number("width_UI", eye.width);
    summary.Number("width_ps", eye.width * unitInterval * 1e12);
    summary.Text("state", eye.height > 0.0 ? "open" : "closed");
    return summary;
}

int Init(Common& common) {
    Run run = Prepare(common);
    std::vector<std::vector<double>> columns = ChannelColumns(common, run);
    const std::size_t rows = columns.front().size();
    std::vector<double> matrix;
    for (const auto& column : columns) matrix.insert(matrix.end(), column.begin(), column.end());
    const std::string parameters = BuildParameterString(run.model, run.values);
    std::cout << "parameters: " << parameters << '\n';

    AmiLibrary library(common.library);
    AmiSession session(library, matrix, long(rows), long(columns.size()) - 1, run.dt,
                       run.unitInterval, parameters);
    std::cout << "message: " << (session.Message().empty() ? "(none)" : session.Message()) << '\n';
    CheckMessage(common, session.Message(), run.model.root);
    RequireFinite(matrix, "the impulse matrix AMI_Init returned");

    std::vector<std::vector<double>> after(columns.size());
    std::vector<std::string> header{"time_s"};
    std::vector<std::string> pulseHeader{"time_s"};
    std::vector<std::vector<double>> pulses;
    for (std::size_t c = 0; c < columns.size(); ++c) {
        after[c].assign(matrix.begin() + long(c * rows), matrix.begin() + long((c + 1) * rows));
        header.push_back("before_" + std::to_string(c));
        header.push_back("after_" + std::to_string(c));
        pulseHeader.push_back("before_" + std::to_string(c));
        pulseHeader.push_back("after_" + std::to_string(c));
        pulses.push_back(PulseFromImpulse(columns[c], run.samplesPerBit, run.dt));
        pulses.push_back(PulseFromImpulse(after[c], run.samplesPerBit, run.dt));
    }
    const std::vector<double> time = Times(rows, run.dt);
    const std::vector<double> pulseTime = Times(pulses.front().size(), run.dt);
    std::vector<const std::vector<double>*> impulseColumns{&time};
    std::vector<const std::vector<double>*> pulseColumns{&pulseTime};
    for (std::size_t c = 0; c < columns.size(); ++c) {
        impulseColumns.push_back(&columns[c]);
        impulseColumns.push_back(&after[c]);
        pulseColumns.push_back(&pulses[2 * c]);
        pulseColumns.push_back(&pulses[2 * c + 1]);
    }
    const std::string base = (fs::path(common.outDir) / run.prefix).string();
    WriteCsv(base + "_impulse.csv", header, impulseColumns);
    WriteCsv(base + "_pulse.csv", pulseHeader, pulseColumns);

    // The plots show the first 24 unit intervals, where the response lives.
    const std::size_t shown = std::min(rows, std::size_t(24 * run.samplesPerBit));
    const std::vector<double> ps = Times(shown, run.dt, 1e12);
    std::vector<double> scaledBefore(shown), scaledAfter(shown);
    for (std::size_t i = 0; i < shown; ++i) {
        scaledBefore[i] = columns[0][i] * run.dt;  // per-sample area: comparable across rates
        scaledAfter[i] = after[0][i] * run.dt;
    }
    const std::vector<double> pulseBefore(pulses[0].begin(), pulses[0].begin() + long(shown));
    const std::vector<double> pulseAfter(pulses[1].begin(), pulses[1].begin() + long(shown));
    PlotLines(base + "_impulse.png", run.prefix + ": impulse response, column 0", "time (ps)",
              "impulse x dt",
              {{"before the model", ps, scaledBefore}, {"after the model", ps, scaledAfter}});
    PlotLines(base + "_pulse.png", run.prefix + ": pulse response, column 0", "time (ps)",
              "volts per volt",
              {{"before the model", ps, pulseBefore}, {"after the model", ps, pulseAfter}});

    const Eye eyeBefore = PeakDistortionEye(pulses[0], run.samplesPerBit);
    const Eye eyeAfter = PeakDistortionEye(pulses[1], run.samplesPerBit);
    std::cout << "eye before the model: " << EyeText(eyeBefore, run.unitInterval) << '\n'
              << "eye after the model:  " << EyeText(eyeAfter, run.unitInterval) << '\n'
              << "wrote " << base << "_impulse.csv, _pulse.csv, _impulse.png, _pulse.png\n";
    Summary summary;
    summary.Text("command", "init");
    summary.Text("parameters", parameters);
    summary.Object("eye_before", EyeSummary(eyeBefore, run.unitInterval));
    summary.Object("eye_after", EyeSummary(eyeAfter, run.unitInterval));
    summary.Write(common.json);
    return 0;
}

// A density eye of traces: the waveform upsampled by linear interpolation between its samples,
// so that each trace is drawn as segments rather than as separate dots, then folded.
EyeDensity TraceDensity(const std::vector<double>& wave, int samplesPerBit, std::size_t skipBits,
                        int center) {
    constexpr int kUp = 8;
    const std::size_t keep = std::size_t(samplesPerBit) * 4000;  // the last 4000 bits suffice
    const std::size_t from = wave.size() > keep ? wave.size() - keep : 0;
    const std::size_t start = std::max(from, skipBits * std::size_t(samplesPerBit));
    std::vector<double> fine;
    for (std::size_t n = start - start % std::size_t(samplesPerBit); n + 1 < wave.size(); ++n)
        for (int k = 0; k < kUp; ++k)
            fine.push_back(wave[n] + (wave[n + 1] - wave[n]) * double(k) / kUp);
    return FoldedDensity(fine, samplesPerBit * kUp, 0, 240, center * kUp);
}

int GetWave(Common& common, int order, long bits, long blockBits, bool channel, double amplitude) {
    Run run = Prepare(common);
    std::vector<double> impulse = Channel(common, run);
    const std::string parameters = BuildParameterString(run.model, run.values);
    std::cout << "parameters: " << parameters << '\n';
    AmiLibrary library(common.library);
    if (!library.HasGetWave()) throw AmiError(common.library + " has no AMI_GetWave");

    // Both are bounded by their options; the product must stay within memory and a 32-bit long.
    const double samples = double(bits) * double(run.samplesPerBit);
    if (samples > kMaxWaveSamples)
        throw AmiError(std::to_string(bits) + " bits of " + std::to_string(run.samplesPerBit) +
                       " samples are more than the " + std::to_string(long(kMaxWaveSamples)) +
                       " samples amirun handles");
    Prbs prbs(order);
    std::vector<int> pattern(static_cast<std::size_t>(bits));
    for (int& bit : pattern) bit = prbs.Next();
    const std::vector<double> input = NrzWaveform(pattern, run.samplesPerBit, amplitude);
    std::vector<double> output = input;

    {
        std::vector<double> matrix = impulse;
        AmiSession session(library, matrix, long(matrix.size()), 0, run.dt, run.unitInterval,
                           parameters);
        std::cout << "message: " << (session.Message().empty() ? "(none)" : session.Message())
                  << '\n';
        CheckMessage(common, session.Message(), run.model.root);
        const std::size_t block =
            std::size_t(std::min(blockBits, bits)) * std::size_t(run.samplesPerBit);
        Progress progress("AMI_GetWave", output.size());
        for (std::size_t from = 0; from < output.size(); from += block) {
            session.GetWave(output.data() + from, long(std::min(block, output.size() - from)));
            progress.Update(from + block);
        }
    }
    RequireFinite(output, "the waveform AMI_GetWave returned");
    if (channel) output = Convolve(output, impulse, run.dt);

    const std::string base = (fs::path(common.outDir) / run.prefix).string();
    const std::vector<double> time = Times(output.size(), run.dt);
    // Thinned for size, never below 16 samples per unit interval.
    const std::size_t step = std::max<std::size_t>(
        1, std::min(output.size() / 200000, std::size_t(run.samplesPerBit) / 16));
    WriteCsv(base + "_wave.csv", {"time_s", "input", "output"}, {&time, &input, &output}, step);
    const std::size_t skip = std::min<std::size_t>(64, std::size_t(bits) / 4);
    // Up to 32 unit intervals of latency: the model's filters and the channel delay the bits.
    const Eye eye = WaveformEye(output, pattern, run.samplesPerBit, skip, 32);
    PlotEye(base + "_eye.png",
            run.prefix + (channel ? ": eye after the channel, " : ": output eye, ") +
                EyeText(eye, run.unitInterval),
            TraceDensity(output, run.samplesPerBit, skip, eye.bestPhase));
    std::cout << "eye of the output" << (channel ? " after the channel" : "") << ": "
              << EyeText(eye, run.unitInterval) << '\n'
              << "wrote " << base << "_wave.csv"
              << (step > 1 ? " (every " + std::to_string(step) + "th sample)" : "") << ", " << base
              << "_eye.png\n";
    Summary summary;
    summary.Text("command", "getwave");
    summary.Text("parameters", parameters);
    summary.Object(channel ? "eye_after_channel" : "eye", EyeSummary(eye, run.unitInterval));
    summary.Write(common.json);
    return 0;
}

// The eye of `bits` PRBS bits through AMI_GetWave and the channel.
Eye GetWaveEye(const AmiLibrary& library, const Run& run, const std::string& parameters,
               const std::vector<double>& impulse, std::vector<double>* waveOut = nullptr,
               std::vector<int>* bitsOut = nullptr, long bits = 4000, double amplitude = 0.5) {
    Prbs prbs(15);
    std::vector<int> pattern(static_cast<std::size_t>(bits));
    for (int& bit : pattern) bit = prbs.Next();
    std::vector<double> wave = NrzWaveform(pattern, run.samplesPerBit, amplitude);
    {
        std::vector<double> matrix = impulse;
        AmiSession session(library, matrix, long(matrix.size()), 0, run.dt, run.unitInterval,
                           parameters);
        const std::size_t block = std::size_t(run.samplesPerBit) * 1024;
        for (std::size_t from = 0; from < wave.size(); from += block)
            session.GetWave(wave.data() + from, long(std::min(block, wave.size() - from)));
    }
    RequireFinite(wave, "the waveform AMI_GetWave returned");
    std::vector<double> received = Convolve(wave, impulse, run.dt);
    const Eye eye = WaveformEye(received, pattern, run.samplesPerBit,
                                std::min<std::size_t>(64, pattern.size() / 4), 64);
    if (waveOut != nullptr) *waveOut = std::move(received);
    if (bitsOut != nullptr) *bitsOut = std::move(pattern);
    return eye;
}

int Sweep(Common& common, std::string name, int jobs) {
    Run run = Prepare(common);
    if (name.empty())
        for (const AmiParameterSpec& param : run.model.parameters)
            if (!param.reserved && !param.list.empty() && param.usage != "Info" &&
                param.usage != "Out") {
                name = param.name;
                break;
            }
    const AmiParameterSpec* param = run.model.Find(name);
    if (param == nullptr || param->list.empty())
        throw AmiFileError(
            "sweep needs a List parameter; " +
            (name.empty() ? std::string("the model has none") : name + " is not one"));
    const std::vector<double> impulse = Channel(common, run);
    const std::vector<double> before = PulseFromImpulse(impulse, run.samplesPerBit, run.dt);
    AmiLibrary library(common.library);

    // A model whose AMI_Init returns no impulse is swept through AMI_GetWave and the channel.
    const bool byGetWave = !run.model.ReservedFlag("Init_Returns_Impulse", true) &&
                           run.model.ReservedFlag("GetWave_Exists", false);
    if (byGetWave && !library.HasGetWave())
        throw AmiError(common.library + ": its .ami file promises AMI_GetWave, which it lacks");
    if (byGetWave) std::cout << "sweeping through AMI_GetWave: its AMI_Init returns no impulse\n";
    const std::vector<std::string>& settings = param->list;
    std::vector<Eye> eyes(settings.size());
    std::vector<std::string> errors(settings.size());
    std::atomic<std::size_t> next{0}, done{0};
    Progress progress("sweep " + name, settings.size());
    auto worker = [&] {
        for (std::size_t i; (i = next++) < settings.size();) {
            try {
                auto values = run.values;
                values[name] = settings[i];
                const std::string parameters = BuildParameterString(run.model, values);
                if (byGetWave) {
                    eyes[i] = GetWaveEye(library, run, parameters, impulse);
                } else {
                    std::vector<double> matrix = impulse;
                    AmiSession session(library, matrix, long(matrix.size()), 0, run.dt,
                                       run.unitInterval, parameters);
                    eyes[i] = PeakDistortionEye(PulseFromImpulse(matrix, run.samplesPerBit, run.dt),
                                                run.samplesPerBit);
                }
            } catch (const std::exception& error) {
                errors[i] = error.what();
            }
            progress.Update(++done);
        }
    };
    // As many threads as the system gives, up to jobs; with none, this thread does the work.
    std::vector<std::thread> threads;
    for (int t = 0; t < jobs; ++t) {
        try {
            threads.emplace_back(worker);
        } catch (const std::system_error&) {
            std::cerr << "warning: " << t << " of " << jobs << " threads started\n";
            break;
        }
    }
    if (threads.empty()) worker();
    for (std::thread& thread : threads) thread.join();

    for (std::size_t i = 0; i < settings.size(); ++i)
        if (!errors[i].empty()) throw AmiError(name + " " + settings[i] + ": " + errors[i]);
    std::size_t best = 0;
    for (std::size_t i = 1; i < eyes.size(); ++i)
        if (eyes[i].height > eyes[best].height) best = i;
    const Eye channelEye = PeakDistortionEye(before, run.samplesPerBit);
    std::cout << "channel alone: eye " << EyeText(channelEye, run.unitInterval) << '\n';
    std::cout << std::setw(8) << name << "  eye height (V)  eye width (UI)\n";
    std::vector<double> heights;
    std::vector<double> widths;
    for (std::size_t i = 0; i < settings.size(); ++i) {
        std::cout << std::setw(8) << settings[i] << "  " << std::setw(14) << std::fixed
                  << std::setprecision(4) << eyes[i].height << "  " << std::setw(14)
                  << std::setprecision(3) << eyes[i].width << (i == best ? "  <- best" : "")
                  << '\n';
        heights.push_back(eyes[i].height);
        widths.push_back(eyes[i].width);
    }
    std::cout << "best " << name << " = " << settings[best] << '\n';
    Summary summary;
    summary.Text("command", "sweep");
    summary.Text("parameter", name);
    summary.Text("best", settings[best]);
    summary.Object("best_eye", EyeSummary(eyes[best], run.unitInterval));
    summary.Write(common.json);
    const std::string base = (fs::path(common.outDir) / run.prefix).string() + "_sweep_" + name;
    std::vector<double> index(settings.size());
    for (std::size_t i = 0; i < index.size(); ++i) index[i] = std::atof(settings[i].c_str());
    WriteCsv(base + ".csv", {name, "eye_height_V", "eye_width_UI"}, {&index, &heights, &widths});
    PlotBars(base + ".png", run.prefix + ": eye height per " + name + " setting", name,
             "eye height (V)", settings, heights, best);
    if (!byGetWave) {
        // Each setting's own response: |H(f)| up to twice the Nyquist frequency of the bit rate,
        // and the step response, from AMI_Init on a unit impulse.
        std::vector<Series> gains, steps;
        const std::size_t length = std::size_t(run.samplesPerBit) * 96;  // all of the response
        double peaking = -1e300;
        std::string mostPeaking;
        for (const std::string& setting : settings) {
            auto values = run.values;
            values[name] = setting;
            std::vector<double> unit(length, 0.0);
            unit[0] = 1.0 / run.dt;
            AmiSession session(library, unit, long(length), 0, run.dt, run.unitInterval,
                               BuildParameterString(run.model, values));
            Series gain{name + " " + setting, {}, {}};
            MagnitudeResponse(unit, run.dt, 1.0 / run.unitInterval, gain.x, gain.y);
            const double top = *std::max_element(gain.y.begin(), gain.y.end());
            if (top - gain.y.front() > peaking) {
                peaking = top - gain.y.front();
                mostPeaking = setting;
            }
            for (double& f : gain.x) f *= 1e-9;
            Series step{name + " " + setting, Times(length, run.dt, 1.0 / run.unitInterval), {}};
            double sum = 0.0;
            for (double h : unit) step.y.push_back(sum += h * run.dt);
            gains.push_back(std::move(gain));
            steps.push_back(std::move(step));
        }
        PlotLines(base + "_frequency_response.png",
                  run.model.root + ": |H(f)| of every " + name + " setting", "frequency (GHz)",
                  "|H| (dB)", gains);
        PlotLines(base + "_step_response.png",
                  run.model.root + ": step response of every " + name + " setting", "time (UI)",
                  "output per unit input step", steps);
        std::cout << "most peaking: " << name << " " << mostPeaking << " (" << std::fixed
                  << std::setprecision(1) << peaking << " dB above DC)\n"
                  << "wrote " << base << "_frequency_response.png, _step_response.png\n";
    }
    std::cout << "wrote " << base << ".csv, " << base << ".png\n";
    return 0;
}

struct LinkModels {
    std::string tx, txAmi, rx, rxAmi;
    std::vector<std::string> txSets, rxSets;
};

// The IBIS-AMI flows on one channel. Statistical: the channel's impulse responses through the
// transmitter (its AMI_Init when it returns an impulse, else its response to a small step through
// AMI_GetWave, where its limiters are linear) and the receiver's AMI_Init, then the statistical
// eye and bathtub of the pulse responses, crosstalk included. Bit by bit: PRBS bits through the
// transmitter's AMI_GetWave, convolved with the receiver-equalized channel.
int Link(Common& common, const LinkModels& models, long bits, double amplitude, double targetBer) {
    Common txCommon = common;
    txCommon.library = models.tx;
    txCommon.amiFile = models.txAmi;
    txCommon.sets = models.txSets;
    Common rxCommon = common;
    rxCommon.library = models.rx;
    rxCommon.amiFile = models.rxAmi;
    rxCommon.sets = models.rxSets;
    const Run tx = Prepare(txCommon);
    const Run rx = Prepare(rxCommon);
    if (tx.dt != rx.dt)
        throw AmiError("the two models run at different sample rates; give --sample-interval");
    const Run& run = rx;
    const std::vector<std::vector<double>> channel = ChannelColumns(common, run);
    const std::string txParameters = BuildParameterString(tx.model, tx.values);
    const std::string rxParameters = BuildParameterString(rx.model, rx.values);
    std::cout << "transmitter: " << txParameters << "\nreceiver:    " << rxParameters << '\n';
    AmiLibrary txLibrary(txCommon.library);
    AmiLibrary rxLibrary(rxCommon.library);
    const std::size_t rows = channel.front().size();

    // The transmitter's share of the statistical flow.
    std::vector<std::vector<double>> shaped = channel;
    std::string txFlow;
    if (tx.model.ReservedFlag("Init_Returns_Impulse", false)) {
        std::vector<double> matrix;
        for (const auto& column : channel)
            matrix.insert(matrix.end(), column.begin(), column.end());
        AmiSession session(txLibrary, matrix, long(rows), long(channel.size()) - 1, run.dt,
                           run.unitInterval, txParameters);
        CheckMessage(common, session.Message(), tx.model.root);
        for (std::size_t c = 0; c < channel.size(); ++c)
            shaped[c].assign(matrix.begin() + long(c * rows),
                             matrix.begin() + long((c + 1) * rows));
        txFlow = "AMI_Init";
    } else if (txLibrary.HasGetWave()) {
        constexpr double kProbe = 1e-3;  // small enough for the limiters to stay linear
        std::vector<double> step(rows, kProbe);
        std::vector<double> unused(channel.front());
        AmiSession session(txLibrary, unused, long(rows), 0, run.dt, run.unitInterval,
                           txParameters);
        CheckMessage(common, session.Message(), tx.model.root);
        session.GetWave(step.data(), long(step.size()));
        std::vector<double> response(rows);
        for (std::size_t n = 0; n < rows; ++n)
            response[n] = (step[n] - (n > 0 ? step[n - 1] : 0.0)) / kProbe / run.dt;
        for (auto& column : shaped) column = Convolve(column, response, run.dt);
        txFlow = "AMI_GetWave on a small step (linearized)";
    } else {
        throw AmiError(models.tx + " has neither an AMI_Init impulse nor AMI_GetWave");
    }
    std::vector<double> matrix;
    for (const auto& column : shaped) matrix.insert(matrix.end(), column.begin(), column.end());
    {
        AmiSession session(rxLibrary, matrix, long(rows), long(shaped.size()) - 1, run.dt,
                           run.unitInterval, rxParameters);
        CheckMessage(common, session.Message(), run.model.root);
    }
    RequireFinite(matrix, "the impulse matrix the receiver's AMI_Init returned");
    std::vector<std::vector<double>> pulses;
    for (std::size_t c = 0; c < shaped.size(); ++c)
        pulses.push_back(
            PulseFromImpulse(std::vector<double>(matrix.begin() + long(c * rows),
                                                 matrix.begin() + long((c + 1) * rows)),
                             run.samplesPerBit, run.dt));
    const std::vector<std::vector<double>> aggressors(pulses.begin() + 1, pulses.end());
    const StatisticalEye stat =
        ComputeStatisticalEye(pulses.front(), aggressors, run.samplesPerBit, targetBer);
    // Crosstalk: the worst sum each aggressor can add at the sampling phase, for the same swing.
    std::vector<double> crosstalk;
    {
        const long spb = run.samplesPerBit;
        const long peak = long(std::max_element(pulses.front().begin(), pulses.front().end()) -
                               pulses.front().begin());
        const long main = peak - spb / 2 + stat.bestPhase;
        for (const auto& aggressor : aggressors) {
            double worst = 0.0;
            for (long k = ((main % spb) + spb) % spb; k < long(aggressor.size()); k += spb)
                worst += 0.5 * std::fabs(aggressor[std::size_t(k)]);
            crosstalk.push_back(worst * 2.0 * amplitude);
        }
    }

    // Bit by bit: the transmitter's waveform through the receiver-equalized channel.
    std::vector<double> equalized = channel.front();
    {
        AmiSession session(rxLibrary, equalized, long(rows), 0, run.dt, run.unitInterval,
                           rxParameters);
    }
    std::vector<double> received;
    std::vector<int> pattern;
    Eye bitEye{};
    if (txLibrary.HasGetWave()) {
        bitEye = GetWaveEye(txLibrary, tx, txParameters, equalized, &received, &pattern, bits,
                            amplitude);
    }

    const double swing = 2.0 * amplitude;  // the statistical eye is for 1 V; scale it alike
    std::ostringstream statText;
    statText << std::fixed << std::setprecision(4);
    if (stat.height > 0.0)
        statText << "height " << stat.height * swing << " V, width " << std::setprecision(3)
                 << stat.width << " UI";
    else
        statText << "closed";
    statText << std::defaultfloat << " at BER " << targetBer;
    std::cout << "transmitter in the statistical flow: " << txFlow << '\n'
              << "statistical eye: " << statText.str() << '\n'
              << "bit-by-bit eye:  "
              << (txLibrary.HasGetWave() ? EyeText(bitEye, run.unitInterval) : "(no AMI_GetWave)")
              << '\n';
    for (std::size_t a = 0; a < crosstalk.size(); ++a)
        std::cout << "crosstalk of aggressor " << a + 1 << ": up to " << crosstalk[a]
                  << " V at the sampling phase (in the statistical eye; the bit-by-bit eye has "
                     "none)\n";

    const std::string base =
        (fs::path(common.outDir) /
         (common.prefix.empty() ? tx.prefix + "__" + rx.prefix : common.prefix))
            .string();
    // The bathtub: BER against the sampling phase, in unit intervals from the best phase.
    std::vector<double> phase, logBer;
    for (int k = 0; k < run.samplesPerBit; ++k) {
        phase.push_back(double(k) / run.samplesPerBit - 0.5);
        logBer.push_back(std::log10(std::max(stat.ber[std::size_t(k)], 1e-30)));
    }
    WriteCsv(base + "_bathtub.csv", {"phase_UI", "log10_BER"}, {&phase, &logBer});
    PlotLines(
        base + "_bathtub.png", "bathtub: " + tx.model.root + " -> channel -> " + rx.model.root,
        "sampling phase (UI)", "log10 BER (-30: below 1e-30)", {{"statistical", phase, logBer}});
    // Two unit intervals with the best phase in the middle, probabilities gathered into 200
    // voltage rows and scaled so that 1e-12 is the faintest shade.
    EyeDensity statDensity;
    statDensity.low = stat.low * swing;
    statDensity.high = stat.high * swing;
    const int spb = run.samplesPerBit;
    for (int j = 0; j < 2 * spb; ++j) {
        const auto& column = stat.density[std::size_t((stat.bestPhase + j) % spb)];
        std::vector<double> voltages(200, 0.0);
        for (std::size_t i = 0; i < column.size(); ++i)
            voltages[std::min<std::size_t>(199, i * 200 / column.size())] += column[i] * 1e12;
        statDensity.counts.push_back(voltages);
    }
    PlotEye(base + "_stat_eye.png", "statistical eye: " + statText.str(), statDensity,
            "log10(1 + 1e12 x probability)");
    if (!received.empty()) {
        PlotEye(base + "_link_eye.png", "bit-by-bit eye: " + EyeText(bitEye, run.unitInterval),
                TraceDensity(received, run.samplesPerBit, 64, bitEye.bestPhase));
    }
    Summary summary;
    summary.Text("command", "link");
    summary.Text("transmitter", txParameters);
    summary.Text("receiver", rxParameters);
    summary.Text("transmitter_statistical_flow", txFlow);
    Summary statSummary;
    statSummary.Number("height_V", stat.height * swing);
    statSummary.Number("width_UI", stat.width);
    statSummary.Number("target_BER", targetBer);
    statSummary.Number("BER_at_best_phase", stat.ber[std::size_t(stat.bestPhase)]);
    statSummary.Text("state", stat.height > 0.0 ? "open" : "closed");
    summary.Object("statistical_eye", statSummary);
    if (!received.empty()) summary.Object("bit_by_bit_eye", EyeSummary(bitEye, run.unitInterval));
    summary.Number("crosstalk_aggressors", double(aggressors.size()));
    double worstCrosstalk = 0.0;
    for (double c : crosstalk) worstCrosstalk += c;
    summary.Number("crosstalk_worst_V", worstCrosstalk);
    summary.Write(common.json);
    std::cout << "wrote " << base << "_stat_eye.png, _bathtub.png, _bathtub.csv"
              << (received.empty() ? "" : ", _link_eye.png") << '\n';
    return 0;
}

// A number option that must be finite and within [low, high]; CLI11's own range lets NaN by.
CLI::Validator FiniteRange(double low, double high) {
    std::ostringstream range;
    range << "finite, " << low << " to " << high;
    return CLI::Validator(
        [low, high](std::string& text) -> std::string {
            std::istringstream parse(text);
            parse.imbue(std::locale::classic());
            double value = 0.0;
            if (!(parse >> value) || !parse.eof()) return "'" + text + "' is not a finite number";
            if (!std::isfinite(value) || value < low || value > high) {
                std::ostringstream why;
                why << "'" << text << "' is outside " << low << " to " << high;
                return why.str();
            }
            return std::string();
        },
        range.str());
}

void AddCommon(CLI::App& command, Common& common) {
    command.add_option("library", common.library, "IBIS-AMI model library (.so)");
    command
        .add_option("--ibs", common.ibsFile,
                    "instead of a library: an .ibs file; its [Algorithmic Model] of --model "
                    "names the library and .ami file for this platform")
        ->check(CLI::ExistingFile);
    command.add_option("--model", common.ibsModel, "the [Model] of the --ibs file");
    command.add_option("--ami", common.amiFile,
                       "its .ami file (default: beside the library, named after it)");
    command.add_option("--set", common.sets, "override a parameter: NAME=VALUE (repeatable)");
    command
        .add_option("--sample-interval", common.sampleInterval,
                    "seconds; also sets the model's sample-rate parameter to its inverse unless "
                    "--set gives that (default: the model's own sample rate)")
        ->check(FiniteRange(1e-16, 1e-6));
    command.add_option("--bit-rate", common.bitRate, "bits per second")
        ->capture_default_str()
        ->check(FiniteRange(1e6, 1e13));
    command.add_option("--loss", common.lossDb, "built-in channel: loss in dB at Nyquist")
        ->capture_default_str()
        ->check(FiniteRange(0.0, 100.0));
    command.add_option("--channel-bits", common.channelBits, "built-in channel: length in bits")
        ->capture_default_str()
        ->check(CLI::Range(1, 4096));
    command
        .add_option("--channel", common.channelFile,
                    "channel file: bare impulse columns at the model's interval (1/s), a time "
                    "column (s, or the unit its header names) with an impulse (1/s) or step "
                    "response, or a Touchstone .s2p/.s4p file (default: a built-in line)")
        ->check(CLI::ExistingFile);
    command.add_option("--channel-format", common.channelFormat, "how to read --channel")
        ->check(CLI::IsMember({"auto", "values", "time", "touchstone"}))
        ->capture_default_str();
    command.add_flag("--step", common.step, "the --channel time form holds a step response");
    command
        .add_option("--ports", common.ports,
                    ".s4p ports as in+,in-,out+,out- for the differential Sdd21")
        ->capture_default_str();
    command.add_flag("--strict", common.strict,
                     "a parameter the model could not read (it used its default) is an error");
    command.add_option("--json", common.json, "also write a JSON summary to this file");
    command.add_option("--out", common.outDir, "output folder")->capture_default_str();
    command.add_option("--prefix", common.prefix, "output file prefix (default: the model name)");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"amirun: run an IBIS-AMI model library without a channel simulator"};
    app.require_subcommand(1);
    app.footer(
        "Every number option is checked: finite and within the range its help shows.\n"
        "Output files are written to a temporary file and renamed into place when complete.\n"
        "Exit status: 0 done; 1 an error while running (the reason on standard error); 3 with\n"
        "--strict, the model used a default for a parameter it could not read; any other value:\n"
        "the command line was not understood (the reason on standard error).");

    Common common;
    std::string impulseFile;
    auto* init =
        app.add_subcommand("init", "AMI_Init on an impulse matrix or the built-in channel");
    AddCommon(*init, common);
    init->add_option("--impulse", impulseFile,
                     "impulse matrix: one column per aggressor, text or CSV")
        ->check(CLI::ExistingFile);

    int order = 7;
    long bits = 20000;
    long blockBits = 1024;
    bool channel = false;
    double amplitude = 0.5;
    auto* getwave = app.add_subcommand("getwave", "AMI_GetWave on a PRBS NRZ waveform");
    AddCommon(*getwave, common);
    getwave->add_option("--prbs", order, "PRBS order")
        ->check(CLI::IsMember({7, 15, 23, 31}))
        ->capture_default_str();
    getwave->add_option("--bits", bits, "number of bits")
        ->check(CLI::Range(1L, 10000000L))
        ->capture_default_str();
    getwave->add_option("--block-bits", blockBits, "bits per AMI_GetWave call")
        ->check(CLI::Range(1L, 10000000L))
        ->capture_default_str();
    getwave->add_flag("--through-channel", channel, "pass the model's output through the channel");
    getwave->add_option("--amplitude", amplitude, "NRZ levels are +-amplitude volts")
        ->capture_default_str()
        ->check(FiniteRange(1e-6, 1e3));

    std::string parameter;
    int jobs = int(std::clamp(std::thread::hardware_concurrency(), 1u, 256u));
    auto* sweep = app.add_subcommand("sweep", "AMI_Init for every value of one List parameter");
    AddCommon(*sweep, common);
    sweep->add_option("--param", parameter, "the List parameter (default: the model's first)");
    sweep->add_option("-j,--jobs", jobs, "parallel model instances")
        ->check(CLI::Range(1, 256))
        ->capture_default_str();

    LinkModels models;
    long linkBits = 20000;
    double linkAmplitude = 0.5;
    double targetBer = 1e-12;
    auto* link = app.add_subcommand(
        "link", "a transmitter and a receiver on one channel: statistical and bit-by-bit eyes");
    AddCommon(*link, common);
    link->remove_option(link->get_option("library"));
    link->remove_option(link->get_option("--ibs"));
    link->remove_option(link->get_option("--model"));
    link->remove_option(link->get_option("--ami"));
    link->remove_option(link->get_option("--set"));
    link->add_option("tx", models.tx, "transmitter library")->required()->check(CLI::ExistingFile);
    link->add_option("rx", models.rx, "receiver library")->required()->check(CLI::ExistingFile);
    link->add_option("--tx-ami", models.txAmi, "the transmitter's .ami file");
    link->add_option("--rx-ami", models.rxAmi, "the receiver's .ami file");
    link->add_option("--tx-set", models.txSets, "a transmitter parameter: NAME=VALUE");
    link->add_option("--rx-set", models.rxSets, "a receiver parameter: NAME=VALUE");
    link->add_option("--bits", linkBits, "bit-by-bit: number of PRBS15 bits")
        ->check(CLI::Range(100L, 1000000L))
        ->capture_default_str();
    link->add_option("--amplitude", linkAmplitude, "bit-by-bit: NRZ levels are +-amplitude volts")
        ->check(FiniteRange(1e-6, 1e3))
        ->capture_default_str();
    link->add_option("--ber", targetBer, "statistical eye: the target bit error ratio")
        ->check(FiniteRange(1e-30, 1e-3))
        ->capture_default_str();

    app.set_version_flag("--version", "amirun 1.1.0");
    CLI11_PARSE(app, argc, argv);
    try {
        if (init->parsed()) {
            if (!impulseFile.empty()) {  // bare columns at the sample interval
                common.channelFile = impulseFile;
                common.channelFormat = "values";
            }
            return Init(common);
        }
        if (getwave->parsed()) return GetWave(common, order, bits, blockBits, channel, amplitude);
        if (link->parsed()) return Link(common, models, linkBits, linkAmplitude, targetBer);
        return Sweep(common, parameter, jobs);
    } catch (const StrictFailure& error) {
        std::cerr << "amirun: error: " << error.what() << '\n';
        return kStrictExit;
    } catch (const std::exception& error) {
        std::cerr << "amirun: error: " << error.what() << '\n';
        return 1;
    }
}
