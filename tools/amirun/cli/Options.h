#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

#include "tools/amirun/host/RunConfig.h"
#include "tools/amirun/link/Impairments.h"

namespace amirun {

// The option groups the commands compose; each command binds the groups it needs.

// role "" gives library, --ibs, --model, --ami, --set, --allow-outside; role "tx" gives the
// positional tx, --tx-ami and --tx-set (likewise "rx").
void AddModelOptions(CLI::App& command, ModelOptions& model, const std::string& role = "");

// The channel: --channel, --channel-format, --step, --ports, --loss, --window-bits, --extrapolate.
void AddChannelOptions(CLI::App& command, ChannelCli& channel);

// The time base, checks and outputs: --sample-interval, --bit-rate, --strict, --json, --out,
// --prefix.
void AddRunOptions(CLI::App& command, RunOptions& run);

// Noise and jitter: --noise-rms, --rj-rms, --dj-pp, --sj-pp, --sj-freq.
void AddImpairmentOptions(CLI::App& command, Impairments& impairments);

// A number option that must be finite and within [low, high]; CLI11's own range lets NaN by.
CLI::Validator FiniteRange(double low, double high);
CLI::Validator FiniteRange(NumberRange range);

}  // namespace amirun
