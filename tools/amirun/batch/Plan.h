#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/amirun/host/Session.h"
#include "tools/amirun/link/Impairments.h"

namespace amirun {

// A batch plan (JSON): the models, the channels (files, globs, or "builtin:<dB>" for the built-in
// line), the settings to sweep and the flow options. Paths are relative to the plan's folder.
struct Plan {
    std::string path;  // as given
    ModelOptions tx, rx;
    std::vector<std::string> channels;      // expanded and sorted; "builtin:20" stays as it is
    std::vector<std::string> channelNames;  // as the results name them: relative to the plan
    std::vector<std::pair<std::string, std::vector<std::string>>> sweep;  // "tx.FG": values
    std::vector<std::pair<std::string, bool>> sweepAll;                   // "tx.SW": true for "all"
    double bitRate = 32e9;
    double sampleInterval = 0.0;
    bool statistical = true, bitByBit = false;
    double amplitude = 0.5;
    double targetBer = 1e-12;
    long bits = 20000;
    bool extrapolate = false;
    std::string ports;
    int windowBits = 0;
    Impairments impairments;
    std::string fingerprint;  // of the plan as read and its channels as expanded
};

// One run of the plan: a channel and a setting of each model, with an id that depends on them
// alone, so that it is the same in every shard and every rerun.
struct PlanRun {
    std::string id;
    std::size_t channel = 0;
    Settings tx, rx;
};

struct PlanError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads and checks a plan; throws PlanError naming the key at fault.
Plan ReadPlan(const std::string& path);

// The runs of a plan: every channel times every combination of the swept values, in a fixed
// order, each made from its index alone, so that a shard never holds more than its own runs.
// "all" takes every value of the model's List parameter; every value is checked against the
// model's .ami file as --set checks it (a name it does not have, a value of the wrong type or
// outside its List or Range throws PlanError before anything runs).
class RunSpace {
public:
    RunSpace(const Plan& plan, const ModelRun& tx, const ModelRun& rx);
    std::size_t Count() const { return count_; }
    PlanRun At(std::size_t index) const;
    // Shard k of n: runs k, k + n, k + 2n, ...; refused above kMaxShardRuns.
    std::vector<PlanRun> Shard(std::size_t k, std::size_t n) const;

private:
    const Plan& plan_;
    std::vector<std::pair<std::string, std::vector<std::string>>> axes_;
    std::size_t count_ = 0;
};
// The most runs a plan may have (their number is computed, not listed) and a shard may hold.
constexpr std::size_t kMaxPlanRuns = 100000000;
constexpr std::size_t kMaxShardRuns = 2000000;

// Every run of the plan (RunSpace's shard 0 of 1).
std::vector<PlanRun> ExpandRuns(const Plan& plan, const ModelRun& tx, const ModelRun& rx);

std::string Fnv1a64Hex(const std::string& text);

}  // namespace amirun
