#include "tools/amirun/batch/Plan.h"

#include <glob.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "tools/amirun/io/Input.h"

namespace amirun {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::set<std::string> kKeys = {
    "tx",          "rx",          "tx_ami",   "rx_ami",      "channels",
    "sweep",       "bit_rate",    "flows",    "ber",         "amplitude",
    "bits",        "extrapolate", "ports",    "window_bits", "sample_interval",
    "noise_rms_v", "rj_rms_ui",   "dj_pp_ui", "sj_pp_ui",    "sj_freq_hz"};

std::string Resolved(const fs::path& folder, const std::string& name) {
    const fs::path p(name);
    return (p.is_absolute() ? p : folder / p).lexically_normal().string();
}

// A number the plan may give, within the range the command line allows for it; `whole` refuses
// fractions rather than cutting them off.
double NumberAt(const json& plan, const char* key, double fallback, NumberRange range,
                bool whole = false) {
    if (!plan.contains(key)) return fallback;
    if (!plan[key].is_number() || (whole && !plan[key].is_number_integer() &&
                                   plan[key].get<double>() != std::floor(plan[key].get<double>())))
        throw PlanError(std::string("plan: \"") + key + "\" must be " +
                        (whole ? "a whole number" : "a number"));
    const double value = plan[key].get<double>();
    if (!(value >= range.low && value <= range.high)) {
        std::ostringstream text;
        text.imbue(std::locale::classic());
        text << "plan: \"" << key << "\" must lie in [" << range.low << ", " << range.high << "]";
        throw PlanError(text.str());
    }
    return value;
}

// A glob's matches, sorted; no shell is involved.
std::vector<std::string> Glob(const std::string& pattern) {
    glob_t found{};
    std::vector<std::string> names;
    const int rc = glob(pattern.c_str(), GLOB_NOSORT, nullptr, &found);
    if (rc == 0)
        for (std::size_t i = 0; i < found.gl_pathc; ++i) names.emplace_back(found.gl_pathv[i]);
    globfree(&found);
    std::sort(names.begin(), names.end());
    return names;
}

void ReadChannels(const json& plan, const fs::path& folder, Plan& out) {
    if (!plan.contains("channels") || !plan["channels"].is_array() || plan["channels"].empty())
        throw PlanError("plan: \"channels\" must be a non-empty list of files or globs");
    std::set<std::string> seen;
    for (const json& entry : plan["channels"]) {
        if (!entry.is_string()) throw PlanError("plan: every channel is a string");
        const std::string text = entry.get<std::string>();
        if (text.rfind("builtin:", 0) == 0) {
            double loss = 0.0;
            std::istringstream in(text.substr(8));
            in.imbue(std::locale::classic());
            if (!(in >> loss) || !in.eof() || !(loss >= kLossRange.low && loss <= kLossRange.high))
                throw PlanError("plan: \"" + text + "\": builtin:<loss in dB, 0 to 100>");
            if (seen.insert(text).second) {
                out.channels.push_back(text);
                out.channelNames.push_back(text);
            }
            continue;
        }
        const std::vector<std::string> matches = Glob(Resolved(folder, text));
        if (matches.empty()) throw PlanError("plan: channel \"" + text + "\" matches no file");
        for (const std::string& match : matches) {
            if (!fs::is_regular_file(match)) continue;
            if (!seen.insert(match).second) continue;
            out.channels.push_back(match);
            out.channelNames.push_back(fs::path(match).lexically_relative(folder).string());
        }
    }
}

void RequireChannels(const Plan& out) {
    if (out.channels.empty())
        throw PlanError("plan: the channels match no plain file; there is nothing to run");
}

void ReadSweep(const json& plan, Plan& out) {
    if (!plan.contains("sweep")) return;
    if (!plan["sweep"].is_object()) throw PlanError("plan: \"sweep\" must be an object");
    for (const auto& [key, value] : plan["sweep"].items()) {  // sorted by key
        if (key.rfind("tx.", 0) != 0 && key.rfind("rx.", 0) != 0)
            throw PlanError("plan: sweep key \"" + key + "\" must start with tx. or rx.");
        if (value.is_string() && value.get<std::string>() == "all") {
            out.sweepAll.emplace_back(key, true);
            out.sweep.emplace_back(key, std::vector<std::string>{});
            continue;
        }
        if (!value.is_array() || value.empty())
            throw PlanError("plan: sweep \"" + key + "\" must be \"all\" or a non-empty list");
        std::vector<std::string> values;
        for (const json& v : value) {
            if (v.is_string())
                values.push_back(v.get<std::string>());
            else if (v.is_number_integer())
                values.push_back(std::to_string(v.get<long long>()));
            else if (v.is_number()) {
                std::ostringstream text;
                text.imbue(std::locale::classic());
                text << std::setprecision(17) << v.get<double>();
                values.push_back(text.str());
            } else {
                throw PlanError("plan: sweep \"" + key +
                                "\" holds a value that is no number "
                                "or string");
            }
        }
        out.sweepAll.emplace_back(key, false);
        out.sweep.emplace_back(key, values);
    }
}

}  // namespace

std::string Fnv1a64Hex(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    static const char* digits = "0123456789abcdef";
    std::string out(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) out[std::size_t(i)] = digits[hash & 15];
    return out;
}

Plan ReadPlan(const std::string& path) {
    // Plans are a few kilobytes.
    const std::string text =
        ReadInputAs<PlanError>(path, std::uintmax_t{16} << 20, nullptr, "the plan: ");
    json plan;
    try {
        plan = json::parse(text);
    } catch (const json::exception& error) {
        throw PlanError("plan " + path + ": " + error.what());
    }
    if (!plan.is_object()) throw PlanError("plan: the file holds no JSON object");
    for (const auto& [key, value] : plan.items())
        if (!kKeys.count(key)) throw PlanError("plan: unknown key \"" + key + "\"");
    Plan out;
    out.path = path;
    const fs::path folder =
        fs::path(path).parent_path().empty() ? fs::path(".") : fs::path(path).parent_path();
    for (const auto& [key, model, ami] :
         {std::tuple{"tx", &out.tx, "tx_ami"}, std::tuple{"rx", &out.rx, "rx_ami"}}) {
        if (!plan.contains(key) || !plan[key].is_string())
            throw PlanError(std::string("plan: \"") + key + "\" must name a model library");
        model->library = Resolved(folder, plan[key].get<std::string>());
        if (plan.contains(ami)) {
            if (!plan[ami].is_string()) throw PlanError(std::string("plan: \"") + ami + "\"");
            model->amiFile = Resolved(folder, plan[ami].get<std::string>());
        }
    }
    ReadChannels(plan, folder, out);
    RequireChannels(out);
    ReadSweep(plan, out);
    out.bitRate = NumberAt(plan, "bit_rate", 32e9, kBitRateRange);
    out.sampleInterval = NumberAt(plan, "sample_interval", 0.0, kSampleIntervalRange);
    out.targetBer = NumberAt(plan, "ber", 1e-12, kBerRange);
    out.amplitude = NumberAt(plan, "amplitude", 0.5, kAmplitudeRange);
    out.bits = long(NumberAt(plan, "bits", 20000, kBitsRange, true));
    out.windowBits = int(NumberAt(plan, "window_bits", 0, kWindowBitsRange, true));
    out.impairments.noiseRms = NumberAt(plan, "noise_rms_v", 0.0, kNoiseRmsRange);
    out.impairments.rjRms = NumberAt(plan, "rj_rms_ui", 0.0, kRjRmsRange);
    out.impairments.djPp = NumberAt(plan, "dj_pp_ui", 0.0, kDjPpRange);
    out.impairments.sjPp = NumberAt(plan, "sj_pp_ui", 0.0, kSjPpRange);
    out.impairments.sjFreq = NumberAt(plan, "sj_freq_hz", 0.0, kSjFreqRange);
    if (plan.contains("extrapolate")) {
        if (!plan["extrapolate"].is_boolean()) throw PlanError("plan: \"extrapolate\": true/false");
        out.extrapolate = plan["extrapolate"].get<bool>();
    }
    if (plan.contains("ports")) {
        if (!plan["ports"].is_string()) throw PlanError("plan: \"ports\" is a string like 1,3,2,4");
        out.ports = plan["ports"].get<std::string>();
    }
    if (plan.contains("flows")) {
        if (!plan["flows"].is_array() || plan["flows"].empty())
            throw PlanError("plan: \"flows\" lists statistical and/or bit_by_bit");
        out.statistical = out.bitByBit = false;
        for (const json& flow : plan["flows"]) {
            const std::string name = flow.is_string() ? flow.get<std::string>() : "";
            if (name == "statistical")
                out.statistical = true;
            else if (name == "bit_by_bit")
                out.bitByBit = true;
            else  // the value itself is not shown: it may be nested without bound
                throw PlanError(
                    "plan: every entry of \"flows\" is \"statistical\" or \"bit_by_bit\"");
        }
    }
    std::string canonical = plan.dump();
    for (const std::string& name : out.channelNames) canonical += "\n" + name;
    out.fingerprint = Fnv1a64Hex(canonical);
    return out;
}

RunSpace::RunSpace(const Plan& plan, const ModelRun& tx, const ModelRun& rx)
    : plan_(plan), axes_(plan.sweep) {
    for (std::size_t a = 0; a < axes_.size(); ++a) {
        const ModelRun& model = axes_[a].first[0] == 't' ? tx : rx;
        const std::string name = axes_[a].first.substr(3);
        if (plan.sweepAll[a].second) {
            const auto* parameter = model.description.Find(name);
            if (parameter == nullptr || parameter->list.empty())
                throw PlanError("plan: sweep \"" + axes_[a].first +
                                "\": \"all\" needs a List parameter, and " + name + " is none");
            axes_[a].second = parameter->list;
        }
    }
    count_ = plan.channels.size();
    for (const auto& axis : axes_) {
        if (axis.second.empty() || count_ > kMaxPlanRuns / axis.second.size())
            throw PlanError("plan: more than " + std::to_string(kMaxPlanRuns) +
                            " runs; split it into several plans");
        count_ *= axis.second.size();
    }
    for (const auto& [key, values] : axes_)
        for (const std::string& value : values) {
            try {
                ResolveValues((key[0] == 't' ? tx : rx).description, {{key.substr(3), value}});
            } catch (const AmiFileError& error) {
                throw PlanError("plan: sweep \"" + key + "\": " + error.what());
            }
        }
}

PlanRun RunSpace::At(std::size_t index) const {
    PlanRun run;
    // Mixed radix: the last axis varies fastest, then the ones before it, then the channel.
    std::vector<std::size_t> digit(axes_.size());
    std::size_t rest = index;
    for (std::size_t a = axes_.size(); a-- > 0;) {
        digit[a] = rest % axes_[a].second.size();
        rest /= axes_[a].second.size();
    }
    run.channel = rest;
    std::string key = plan_.channelNames[run.channel];
    for (std::size_t a = 0; a < axes_.size(); ++a) {
        const std::string& value = axes_[a].second[digit[a]];
        (axes_[a].first[0] == 't' ? run.tx : run.rx).emplace_back(axes_[a].first.substr(3), value);
        key += "\n" + axes_[a].first + "=" + value;
    }
    run.id = Fnv1a64Hex(key);
    return run;
}

std::vector<PlanRun> RunSpace::Shard(std::size_t k, std::size_t n) const {
    if (n == 0 || k >= n) return {};
    const std::size_t size = count_ > k ? (count_ - k + n - 1) / n : 0;
    if (size > kMaxShardRuns)
        throw PlanError("plan: a shard of " + std::to_string(size) + " runs; at most " +
                        std::to_string(kMaxShardRuns) + " a shard (use --shard K/N)");
    std::vector<PlanRun> runs;
    runs.reserve(size);
    for (std::size_t i = k; i < count_; i += n) runs.push_back(At(i));
    return runs;
}

std::vector<PlanRun> ExpandRuns(const Plan& plan, const ModelRun& tx, const ModelRun& rx) {
    return RunSpace(plan, tx, rx).Shard(0, 1);
}

}  // namespace amirun
