#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace amirun {

// The results of a batch, merged from any number of results files, and what they say: the best
// settings per channel and overall, as CSV, JSON and one self-contained HTML page.

struct ResultRun {
    std::string id, channel;
    std::map<std::string, std::string> settings;  // "tx.FG": "2", ...
    bool hasStat = false, hasBits = false;
    double statHeight = 0.0, statWidth = 0.0, bitsHeight = 0.0, bitsWidth = 0.0;
    // The figure that ranks: the statistical eye's height, else the bit-by-bit one's.
    bool statApplies = true;  // false: the transmitter is not linear; the bits rank the run
    bool ByStat() const { return hasStat && (statApplies || !hasBits); }
    double Height() const { return ByStat() ? statHeight : bitsHeight; }
    double Width() const { return ByStat() ? statWidth : bitsWidth; }
    std::string Side(const std::string& prefix) const;  // "FG=2 SW=1" of "tx." or "rx."
};

struct MergedResults {
    std::string plan;
    std::size_t expected = 0;     // the plan's number of runs
    std::vector<ResultRun> runs;  // one per id, by channel, then settings (numbers as numbers)
    std::vector<std::string> duplicates;  // ids found more than once
    std::size_t broken = 0;               // incomplete or unreadable lines
    std::size_t Missing() const { return expected > runs.size() ? expected - runs.size() : 0; }
};

// Throws ResultsError when the files come from different plans, or hold different figures
// for one id.
MergedResults MergeResults(const std::vector<std::string>& files);

struct SettingScore {
    std::string settings;  // "tx: FG=2 SW=1, rx: EQ=9"
    std::string tx, rx;
    double worst = 0.0;  // the lowest height over the channels
    double mean = 0.0;
    std::size_t channels = 0;
};

// Settings by their worst eye over all channels, highest first (then by mean, then by name).
std::vector<SettingScore> RankSettings(const MergedResults& merged);
// Per channel, its runs best first (height, then width, then settings).
std::map<std::string, std::vector<const ResultRun*>> RankPerChannel(const MergedResults& merged);

std::string ResultsCsv(const MergedResults& merged);
std::string ResultsJson(const MergedResults& merged);
std::string ResultsHtml(const MergedResults& merged);

// The page's one script (its table sorts by a click on a heading); the page's
// Content-Security-Policy lets this script run and no other.
const char* ReportScript();

}  // namespace amirun
