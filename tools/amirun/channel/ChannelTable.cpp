// The text forms of a channel: bare impulse columns, and time-stamped impulse or step responses.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <locale>
#include <sstream>

#include "tools/amirun/channel/Channel.h"
#include "tools/amirun/io/Limits.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

struct Table {
    std::vector<std::vector<double>> rows;
    std::vector<std::size_t> lines;  // the file line of each row
    std::string header;              // the header line, if any
};

std::string Located(const std::string& path, std::size_t line, const std::string& why) {
    return path + ":" + std::to_string(line) + ": " + why;
}

// Rows of numbers; one header line before the first is allowed, blank lines anywhere.
Table ReadTable(const std::string& path, const std::string& text) {
    Table table;
    std::istringstream in(text);
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::string fields = line;
        for (char& c : fields)
            if (c == ',' || c == ';' || c == '\t') c = ' ';
        std::istringstream in2(fields);
        std::vector<double> row;
        bool header = false;
        for (std::string field; in2 >> field;) {
            double value = 0.0;
            if (!FiniteNumber(field, value)) {
                if (table.rows.empty() && table.header.empty() && row.empty()) {
                    header = true;
                    break;
                }
                throw ChannelError(Located(path, number, "'" + field + "' is not a finite number"));
            }
            row.push_back(value);
        }
        if (header) {
            table.header = line;
            continue;
        }
        if (row.empty()) continue;
        if (!table.rows.empty() && row.size() != table.rows.front().size())
            throw ChannelError(Located(path, number,
                                       std::to_string(row.size()) + " values where the rows " +
                                           "before have " +
                                           std::to_string(table.rows.front().size())));
        table.rows.push_back(row);
        table.lines.push_back(number);
    }
    if (table.rows.empty()) throw ChannelError(path + ": no numbers");
    return table;
}

// The name of the header's first column: "time_ns", "t [ps]", "Time (s)".
std::string FirstName(const std::string& header) {
    const auto cut = header.find_first_of(",;\t");
    std::string first = header.substr(0, cut);
    if (cut == std::string::npos) {  // blanks separate: keep a bracketed unit with its name
        std::istringstream words(header);
        std::string word, next;
        words >> first;
        if (words >> next && (next[0] == '[' || next[0] == '(')) first += " " + next;
    }
    return Lower(first);
}

// The seconds of one unit of the time column, from its name only. Throws for a unit it does not
// know, so that no time stamp is read at the wrong scale.
double TimeUnit(const std::string& path, const std::string& header) {
    std::vector<std::string> words;
    std::string word;
    for (char c : FirstName(header) + " ") {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    if (words.size() < 2) return 1.0;  // "time", "t": seconds
    const std::string unit = words.back();
    const std::pair<const char*, double> units[] = {{"s", 1.0},   {"sec", 1.0}, {"ms", 1e-3},
                                                    {"us", 1e-6}, {"ns", 1e-9}, {"ps", 1e-12},
                                                    {"fs", 1e-15}};
    for (const auto& [name, scale] : units)
        if (unit == name) return scale;
    throw ChannelError(path + ":1: the time column's unit '" + unit +
                       "' is not s, ms, us, ns, ps or fs");
}

// "t", "time", "Time (s)", "time_ps", "t [ns]": the first word is t or time, whatever follows;
// "through" or "tx" is no time column.
bool NamesTime(const std::string& header) {
    std::string word;
    for (const char c : FirstName(header)) {
        if (!std::isalpha(static_cast<unsigned char>(c))) break;
        word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return word == "t" || word == "time";
}

// A time form: strictly ascending stamps; looks like seconds of a response, not sample values.
bool LooksTimed(const std::string& path, const Table& table) {
    if (table.rows.front().size() < 2 || table.rows.size() < 4) return false;
    if (NamesTime(table.header)) return true;  // then its stamps must ascend, or it is an error
    for (std::size_t i = 1; i < table.rows.size(); ++i)
        if (!(table.rows[i][0] > table.rows[i - 1][0])) return false;
    return table.rows.front()[0] >= 0.0 &&
           table.rows.back()[0] * TimeUnit(path, table.header) < 1e-3;
}

// A step response settles away from zero; an impulse response comes back to it.
bool LooksLikeStep(const std::vector<double>& values) {
    double peak = 0.0;
    for (double v : values) peak = std::max(peak, std::fabs(v));
    return peak > 0.0 && std::fabs(values.back()) > 0.5 * peak;
}

// The impulse response every dt from stamps and values: an impulse sample holds until the next
// stamp (integrated), a step is interpolated linearly; the step holds after the last stamp.
std::vector<double> Resample(const std::vector<double>& times, const std::vector<double>& values,
                             bool step, double dt, std::size_t length) {
    std::vector<double> stepAt(values.size());
    if (step) {
        stepAt = values;
    } else {
        double sum = 0.0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            stepAt[i] = sum;
            if (i + 1 < values.size()) sum += values[i] * (times[i + 1] - times[i]);
        }
    }
    const double lastInterval = times.size() > 1 ? times.back() - times[times.size() - 2] : 0.0;
    const double end = step ? stepAt.back() : stepAt.back() + values.back() * lastInterval;
    auto at = [&](double t) {
        if (t <= times.front()) return 0.0;
        if (t >= times.back()) {
            if (step || t >= times.back() + lastInterval) return end;
            return stepAt.back() + values.back() * (t - times.back());
        }
        const auto i =
            std::size_t(std::upper_bound(times.begin(), times.end(), t) - times.begin() - 1);
        const double w = (t - times[i]) / (times[i + 1] - times[i]);
        return stepAt[i] + w * (stepAt[i + 1] - stepAt[i]);
    };
    std::vector<double> h(length);
    for (std::size_t n = 0; n < length; ++n)
        h[n] = (at(double(n + 1) * dt) - at(double(n) * dt)) / dt;
    return h;
}

std::vector<double> Column(const Table& table, std::size_t c) {
    std::vector<double> column;
    for (const auto& row : table.rows) column.push_back(row[c]);
    return column;
}

RawChannel ReadTimed(const std::string& path, const Table& table, const ChannelOptions& options) {
    if (table.rows.front().size() < 2)
        throw ChannelError(path + ": a time form needs a time column and a value column");
    const double unit = TimeUnit(path, table.header);
    std::vector<double> times = Column(table, 0);
    for (std::size_t i = 0; i < times.size(); ++i) {
        times[i] *= unit;
        if (i > 0 && !(times[i] > times[i - 1]))
            throw ChannelError(Located(path, table.lines[i], "the time stamps must ascend"));
    }
    if (times.front() < 0.0)
        throw ChannelError(Located(path, table.lines[0], "a response starts at time 0 or later"));
    // The whole file, one more interval for an impulse's last sample, within the bound.
    const double span = 2.0 * times.back() - times[times.size() - 2];
    const double wanted = std::ceil(span / options.dt) + 1.0;
    RawChannel raw;
    if (wanted > double(kMaxWindowSamples))
        raw.report.warnings.push_back("the file spans more than the " +
                                      std::to_string(kMaxWindowSamples) +
                                      " samples amirun keeps; its end is cut");
    const auto length = std::size_t(std::min(wanted, double(kMaxWindowSamples)));
    for (std::size_t c = 1; c < table.rows.front().size(); ++c) {
        const std::vector<double> values = Column(table, c);
        const bool step = options.step || (c == 1 ? LooksLikeStep(values) : false);
        if (c == 1) raw.report.source = step ? "time (step response)" : "time (impulse response)";
        raw.columns.push_back(Resample(times, values, step, options.dt, length));
    }
    return raw;
}

}  // namespace

RawChannel ReadTableChannel(const std::string& path, const std::string& text,
                            const ChannelOptions& options) {
    const Table table = ReadTable(path, text);
    ChannelFormat format = options.format;
    if (format == ChannelFormat::Auto)
        format = LooksTimed(path, table) ? ChannelFormat::Time : ChannelFormat::Values;
    RawChannel raw;
    if (format == ChannelFormat::Time) {
        raw = ReadTimed(path, table, options);
    } else if (options.chosenInterval) {
        throw ChannelError(path +
                           ": bare values are samples at the model's own interval, but at "
                           "this bit rate amirun runs at another one; give the file's "
                           "interval with --sample-interval, or a time column");
    } else {  // already at the model's interval: taken whole
        for (std::size_t c = 0; c < table.rows.front().size(); ++c)
            raw.columns.push_back(Column(table, c));
        raw.report.source = "values at the model's interval";
        raw.keepWhole = true;
    }
    raw.report.dcGain = 0.0;
    for (double h : raw.columns.front()) raw.report.dcGain += h * options.dt;
    return raw;
}

}  // namespace amirun
