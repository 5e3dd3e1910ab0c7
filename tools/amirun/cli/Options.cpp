#include "tools/amirun/cli/Options.h"

#include <cmath>
#include <locale>
#include <map>
#include <sstream>

#include "tools/amirun/io/Limits.h"

namespace amirun {

CLI::Validator FiniteRange(NumberRange range) { return FiniteRange(range.low, range.high); }

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

void AddModelOptions(CLI::App& command, ModelOptions& model, const std::string& role) {
    if (!role.empty()) {
        const std::string who = role == "tx" ? "transmitter" : "receiver";
        command.add_option(role, model.library, "the " + who + "'s library")->required();
        command.add_option("--" + role + "-ami", model.amiFile, "the " + who + "'s .ami file");
        command.add_option("--" + role + "-set", model.sets,
                           "a " + who + " parameter: NAME=VALUE, group.leaf=VALUE in a tree");
        return;
    }
    command.add_option("library", model.library, "IBIS-AMI model library (.so)");
    command
        .add_option("--ibs", model.ibsFile,
                    "instead of a library: an .ibs file; its [Algorithmic Model] of --model "
                    "names the library and .ami file for this platform")
        ->check(CLI::ExistingFile);
    command.add_option("--model", model.ibsModel, "the [Model] of the --ibs file");
    command.add_flag("--allow-outside", model.allowOutside,
                     "let the --ibs file name files outside its own folder");
    command.add_option("--ami", model.amiFile,
                       "its .ami file (default: beside the library, named after it)");
    command.add_option("--set", model.sets,
                       "override a parameter: NAME=VALUE, group.leaf=VALUE in a tree (repeatable)");
}

void AddChannelOptions(CLI::App& command, ChannelCli& channel) {
    command
        .add_option("--channel", channel.file,
                    "channel file: bare impulse columns at the model's interval (1/s), a time "
                    "column (s, or the unit its name carries) with an impulse (1/s) or step "
                    "response, or a Touchstone 1.0/2.0 .sNp file (default: a built-in line)")
        ->check(CLI::ExistingFile);
    command.add_option("--channel-format", channel.format, "how to read --channel")
        ->check(CLI::IsMember({"auto", "values", "time", "touchstone"}))
        ->capture_default_str();
    command.add_flag("--step", channel.step, "the --channel time form holds a step response");
    command.add_option("--ports", channel.ports,
                       "Touchstone ports in+,in-,out+,out- of the victim pair, then of each "
                       "aggressor pair (default: found from |S| at the lowest frequencies)");
    command.add_option("--loss", channel.lossDb, "built-in channel: loss in dB at Nyquist")
        ->capture_default_str()
        ->check(FiniteRange(kLossRange));
    command
        .add_option("--window-bits,--channel-bits", channel.windowBits,
                    "the impulse window of every channel in unit intervals (default: long enough "
                    "to hold the channel's DC response to 0.1 %)")
        ->check(CLI::Range(int(kWindowBitsRange.low), int(kWindowBitsRange.high)));
    command.add_flag("--extrapolate", channel.extrapolate,
                     "continue a Touchstone band that ends below the Nyquist frequency");
}

void AddRunOptions(CLI::App& command, RunOptions& run) {
    command
        .add_option("--sample-interval", run.sampleInterval,
                    "seconds; must divide the unit interval; also sets the model's sample-rate "
                    "parameter unless --set gives it (default: the model's own interval, or the "
                    "nearest that divides the unit interval)")
        ->check(FiniteRange(kSampleIntervalRange));
    command.add_option("--bit-rate", run.bitRate, "bits per second")
        ->capture_default_str()
        ->check(FiniteRange(kBitRateRange));
    command.add_flag("--strict", run.strict,
                     "a parameter the model could not read (it used its default) is an error");
    command.add_option("--json", run.json, "also write a JSON summary to this file");
    command.add_option("--out", run.outDir, "output folder")->capture_default_str();
    command.add_option("--prefix", run.prefix, "output file prefix (default: the model name)");
}

void AddImpairmentOptions(CLI::App& command, Impairments& impairments) {
    command
        .add_option("--noise-rms", impairments.noiseRms,
                    "Gaussian noise at the receiver's output, volts rms")
        ->check(FiniteRange(kNoiseRmsRange));
    command.add_option("--rj-rms", impairments.rjRms, "random jitter, unit intervals rms")
        ->check(FiniteRange(kRjRmsRange));
    command
        .add_option("--dj-pp", impairments.djPp,
                    "dual-Dirac deterministic jitter, unit intervals peak to peak")
        ->check(FiniteRange(kDjPpRange));
    command
        .add_option("--sj-pp", impairments.sjPp, "sinusoidal jitter, unit intervals peak to peak")
        ->check(FiniteRange(kSjPpRange));
    command.add_option("--sj-freq", impairments.sjFreq, "sinusoidal jitter frequency, hertz")
        ->check(FiniteRange(kSjFreqRange));
}

}  // namespace amirun
