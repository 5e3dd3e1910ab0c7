#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/amirun/channel/Channel.h"
#include "tools/amirun/link/Impairments.h"

namespace amirun {

// The option groups the commands compose; each command binds the groups it needs.

// A model: a library and its .ami file, or an .ibs file that names them, and parameter values.
struct ModelOptions {
    std::string library, amiFile, ibsFile, ibsModel;
    std::vector<std::string> sets;
    bool allowOutside = false;
};
// role "" gives library, --ibs, --model, --ami, --set, --allow-outside; role "tx" gives the
// positional tx, --tx-ami and --tx-set (likewise "rx").
void AddModelOptions(CLI::App& command, ModelOptions& model, const std::string& role = "");

// The channel: a file, or the built-in line; its window, band and ports.
struct ChannelCli {
    std::string file;
    std::string format = "auto";
    bool step = false;
    std::string ports;  // empty: found from the file
    double lossDb = 20.0;
    int windowBits = 0;
    bool extrapolate = false;
};
void AddChannelOptions(CLI::App& command, ChannelCli& channel);

// The time base, checks and outputs of a run.
struct RunOptions {
    double sampleInterval = 0.0;
    double bitRate = 32e9;
    bool strict = false;
    std::string json;
    std::string outDir = "out";
    std::string prefix;
};
void AddRunOptions(CLI::App& command, RunOptions& run);

// Noise and jitter: --noise-rms, --rj-rms, --dj-pp, --sj-pp, --sj-freq.
void AddImpairmentOptions(CLI::App& command, Impairments& impairments);

// A number option that must be finite and within [low, high]; CLI11's own range lets NaN by.
CLI::Validator FiniteRange(double low, double high);

// "1,3,2,4": whole numbers separated by commas, nothing else. Throws ChannelError.
std::vector<int> ParsePorts(const std::string& text);

// The channel options for the reader, at a run's time base.
ChannelOptions ToChannelOptions(const ChannelCli& channel, double dt, int samplesPerBit,
                                double bitRate, bool chosenInterval);

}  // namespace amirun
