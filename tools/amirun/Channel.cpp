#include "tools/amirun/Channel.h"

#include <fftw3.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iterator>
#include <locale>
#include <sstream>

namespace amirun {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One number in the "C" locale, all of the field; NaN and infinities are not numbers here.
bool Number(const std::string& field, double& value) {
    std::istringstream in(field);
    in.imbue(std::locale::classic());
    return static_cast<bool>(in >> value) && in.eof() && std::isfinite(value);
}

struct Table {
    std::vector<std::vector<double>> rows;
    std::vector<std::size_t> lines;  // the file line of each row
    std::string header;              // the header line, if any
};

// Rows of numbers; one header line before the first is allowed, blank lines anywhere.
Table ReadTable(const std::string& path, const std::string& text) {
    Table table;
    std::istringstream in(text);
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        for (char& c : line)
            if (c == ',' || c == ';' || c == '\t') c = ' ';
        std::istringstream fields(line);
        std::vector<double> row;
        bool header = false;
        for (std::string field; fields >> field;) {
            double value = 0.0;
            if (!Number(field, value)) {
                if (table.rows.empty() && table.header.empty() && row.empty()) {
                    header = true;
                    break;
                }
                throw ChannelError(path + ":" + std::to_string(number) + ": '" + field +
                                   "' is not a finite number");
            }
            row.push_back(value);
        }
        if (header) {
            table.header = line;
            continue;
        }
        if (row.empty()) continue;
        if (!table.rows.empty() && row.size() != table.rows.front().size())
            throw ChannelError(path + ":" + std::to_string(number) + ": " +
                               std::to_string(row.size()) + " values where the rows before have " +
                               std::to_string(table.rows.front().size()));
        table.rows.push_back(row);
        table.lines.push_back(number);
    }
    if (table.rows.empty()) throw ChannelError(path + ": no numbers");
    return table;
}

// The seconds of one unit of the time column, from the header: "time_ns", "t [ps]".
double TimeUnit(const std::string& header) {
    const std::string text = Lower(header);
    for (const auto& [unit, scale] :
         {std::pair<const char*, double>{"ps", 1e-12}, {"ns", 1e-9}, {"us", 1e-6}, {"ms", 1e-3}}) {
        const auto at = text.find(unit);
        if (at == std::string::npos) continue;
        const bool before = at == 0 || !std::isalpha(static_cast<unsigned char>(text[at - 1]));
        const bool after =
            at + 2 >= text.size() || !std::isalpha(static_cast<unsigned char>(text[at + 2]));
        if (before && after) return scale;
    }
    return 1.0;
}

// A header whose first column names time.
bool NamesTime(const std::string& header) {
    std::istringstream fields(Lower(header));
    std::string first;
    return static_cast<bool>(fields >> first) && first[0] == 't';
}

// A time form: strictly ascending stamps; looks like seconds of a response, not sample values.
bool LooksTimed(const Table& table) {
    if (table.rows.front().size() < 2 || table.rows.size() < 4) return false;
    if (NamesTime(table.header)) return true;  // then its stamps must ascend, or it is an error
    for (std::size_t i = 1; i < table.rows.size(); ++i)
        if (!(table.rows[i][0] > table.rows[i - 1][0])) return false;
    return table.rows.front()[0] >= 0.0 && table.rows.back()[0] * TimeUnit(table.header) < 1e-3;
}

// A step response settles away from zero; an impulse response comes back to it.
bool LooksLikeStep(const std::vector<double>& values) {
    double peak = 0.0;
    for (double v : values) peak = std::max(peak, std::fabs(v));
    return peak > 0.0 && std::fabs(values.back()) > 0.5 * peak;
}

// The step response at time t from stamps and values; a sample holds until the next stamp for an
// impulse (integrated), and a step is interpolated linearly.
std::vector<double> Resample(const std::vector<double>& times, const std::vector<double>& values,
                             bool step, double dt, std::size_t length) {
    // The step response at each stamp.
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
    // After the last stamp a step holds; an impulse sample holds for one more interval.
    const double lastInterval = times.size() > 1 ? times.back() - times[times.size() - 2] : 0.0;
    const double end = step ? stepAt.back() : stepAt.back() + values.back() * lastInterval;
    auto at = [&](double t) {
        if (t <= times.front()) return 0.0;
        if (t >= times.back()) {
            if (step || t >= times.back() + lastInterval) return end;
            return stepAt.back() + values.back() * (t - times.back());
        }
        const auto upper = std::upper_bound(times.begin(), times.end(), t) - times.begin();
        const auto i = static_cast<std::size_t>(upper - 1);
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

std::vector<std::vector<double>> ReadTimed(const std::string& path, const Table& table,
                                           const ChannelOptions& options) {
    if (table.rows.front().size() < 2)
        throw ChannelError(path + ": a time form needs a time column and a value column");
    const double unit = TimeUnit(table.header);
    std::vector<double> times = Column(table, 0);
    for (std::size_t i = 0; i < times.size(); ++i) {
        times[i] *= unit;
        if (i > 0 && !(times[i] > times[i - 1]))
            throw ChannelError(path + ":" + std::to_string(table.lines[i]) +
                               ": the time stamps must ascend");
    }
    std::vector<std::vector<double>> columns;
    for (std::size_t c = 1; c < table.rows.front().size(); ++c) {
        const std::vector<double> values = Column(table, c);
        const bool step = options.step || (c == 1 ? LooksLikeStep(values) : false);
        columns.push_back(Resample(times, values, step, options.dt, options.length));
    }
    return columns;
}

// Already at the model's interval: taken whole.
std::vector<std::vector<double>> ReadValues(const Table& table) {
    std::vector<std::vector<double>> columns;
    for (std::size_t c = 0; c < table.rows.front().size(); ++c) columns.push_back(Column(table, c));
    return columns;
}

std::string Extension(const std::string& path) {
    const auto dot = path.find_last_of('.');
    return dot == std::string::npos ? "" : Lower(path.substr(dot + 1));
}

// .s2p, .s4p, ...: the port count the name promises, or 0.
int PortsOfName(const std::string& path) {
    const std::string ext = Extension(path);
    if (ext.size() < 3 || ext.front() != 's' || ext.back() != 'p') return 0;
    int ports = 0;
    for (std::size_t i = 1; i + 1 < ext.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(ext[i]))) return 0;
        ports = ports * 10 + (ext[i] - '0');
    }
    return ports;
}

}  // namespace

Touchstone ParseTouchstone(const std::string& text, int ports) {
    if (ports < 1 || ports > 16) throw ChannelError("a port count of 1 to 16");
    double unit = 1e9;  // GHz unless the option line says otherwise
    std::string format = "ma";
    bool option = false;
    struct Token {
        double value;
        bool startsLine;
        std::size_t line;
    };
    std::vector<Token> tokens;
    std::istringstream in(text);
    std::size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto bang = line.find('!');
        if (bang != std::string::npos) line.erase(bang);
        std::istringstream fields(line);
        std::string field;
        if (!(fields >> field)) continue;
        if (field[0] == '#') {
            if (option) continue;  // only the first option line counts
            option = true;
            std::string rest = Lower(line.substr(line.find('#') + 1));
            std::istringstream words(rest);
            for (std::string word; words >> word;) {
                if (word == "hz") unit = 1.0;
                if (word == "khz") unit = 1e3;
                if (word == "mhz") unit = 1e6;
                if (word == "ghz") unit = 1e9;
                if (word == "ri" || word == "ma" || word == "db") format = word;
                if (word == "y" || word == "z" || word == "h" || word == "g")
                    throw ChannelError("line " + std::to_string(number) +
                                       ": only S parameters are read, not " + word);
            }
            continue;
        }
        bool first = true;
        do {
            double value = 0.0;
            if (!Number(field, value))
                throw ChannelError("line " + std::to_string(number) + ": '" + field +
                                   "' is not a finite number");
            tokens.push_back(Token{value, first, number});
            first = false;
        } while (fields >> field);
    }
    const std::size_t perPoint = 1 + 2 * static_cast<std::size_t>(ports) * ports;
    Touchstone data;
    data.ports = ports;
    for (std::size_t at = 0; at < tokens.size(); at += perPoint) {
        // Every point starts a line; the numbers of one point fill whole lines.
        if (!tokens[at].startsLine || at + perPoint > tokens.size() ||
            (at + perPoint < tokens.size() && !tokens[at + perPoint].startsLine))
            throw ChannelError("line " + std::to_string(tokens[at].line) +
                               ": a frequency point does not hold the " +
                               std::to_string(perPoint - 1) + " numbers of " +
                               std::to_string(ports) + " ports");
        const double f = tokens[at].value * unit;
        if (!data.frequencies.empty() && !(f > data.frequencies.back()))
            throw ChannelError("line " + std::to_string(tokens[at].line) +
                               ": frequencies must ascend");
        data.frequencies.push_back(f);
        std::vector<std::vector<std::pair<double, double>>> s(
            static_cast<std::size_t>(ports),
            std::vector<std::pair<double, double>>(static_cast<std::size_t>(ports)));
        for (int k = 0; k < ports * ports; ++k) {
            const double a = tokens[at + 1 + 2 * static_cast<std::size_t>(k)].value;
            const double b = tokens[at + 2 + 2 * static_cast<std::size_t>(k)].value;
            std::pair<double, double> z;
            if (format == "ri") {
                z = {a, b};
            } else {
                const double magnitude = format == "db" ? std::pow(10.0, a / 20.0) : a;
                z = {magnitude * std::cos(b * kPi / 180.0), magnitude * std::sin(b * kPi / 180.0)};
            }
            // Two-port files list S11 S21 S12 S22; the others go row by row.
            const int row = ports == 2 ? k % 2 : k / ports;
            const int column = ports == 2 ? k / 2 : k % ports;
            s[static_cast<std::size_t>(row)][static_cast<std::size_t>(column)] = z;
        }
        data.s.push_back(s);
    }
    if (data.frequencies.size() < 2) throw ChannelError("fewer than two frequency points");
    return data;
}

std::vector<double> ImpulseFromResponse(const std::vector<double>& frequencies,
                                        const std::vector<std::pair<double, double>>& response,
                                        double dt, std::size_t length) {
    // A grid fine enough for the file's spacing and long enough for the impulse to die out.
    const double fmax = frequencies.back();
    const double nyquist = 0.5 / dt;
    double spacing = fmax;
    for (std::size_t i = 1; i < frequencies.size(); ++i)
        spacing = std::min(spacing, frequencies[i] - frequencies[i - 1]);
    std::size_t n = 1024;
    while (n < 4 * length || 1.0 / (double(n) * dt) > spacing) n *= 2;
    const double df = 1.0 / (double(n) * dt);
    // Magnitude and unwrapped phase, interpolated linearly; the phase starts at 0 at DC.
    std::vector<double> magnitude(frequencies.size()), phase(frequencies.size());
    for (std::size_t i = 0; i < frequencies.size(); ++i) {
        magnitude[i] = std::hypot(response[i].first, response[i].second);
        phase[i] = std::atan2(response[i].second, response[i].first);
        if (i > 0)
            while (phase[i] - phase[i - 1] > kPi) phase[i] -= 2 * kPi;
        if (i > 0)
            while (phase[i] - phase[i - 1] < -kPi) phase[i] += 2 * kPi;
    }
    // Extrapolate the phase to DC along its first slope, then shift it to start at zero there.
    const double slope = (phase[1] - phase[0]) / (frequencies[1] - frequencies[0]);
    const double phaseAtDc = phase[0] - slope * frequencies[0];
    fftw_complex* bins = fftw_alloc_complex(n / 2 + 1);
    double* impulse = fftw_alloc_real(n);
    const double top = std::min(fmax, nyquist);
    const double taperFrom = 0.8 * top;
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double f = double(k) * df;
        double m = 0.0, p = 0.0;
        if (f <= frequencies.front()) {
            m = magnitude.front();
            p = phase.front() + slope * (f - frequencies.front());
        } else if (f < top) {
            const auto upper =
                std::upper_bound(frequencies.begin(), frequencies.end(), f) - frequencies.begin();
            const auto i = static_cast<std::size_t>(upper - 1);
            const double w = (f - frequencies[i]) / (frequencies[i + 1] - frequencies[i]);
            m = magnitude[i] + w * (magnitude[i + 1] - magnitude[i]);
            p = phase[i] + w * (phase[i + 1] - phase[i]);
        }
        if (f >= top) m = 0.0;
        if (f > taperFrom && f < top)
            m *= 0.5 * (1.0 + std::cos(kPi * (f - taperFrom) / (top - taperFrom)));
        p -= phaseAtDc;
        bins[k][0] = m * std::cos(p);
        bins[k][1] = k == 0 || k == n / 2 ? 0.0 : m * std::sin(p);
    }
    fftw_plan plan = fftw_plan_dft_c2r_1d(static_cast<int>(n), bins, impulse, FFTW_ESTIMATE);
    fftw_execute(plan);
    std::vector<double> h(length);
    for (std::size_t i = 0; i < length && i < n; ++i) h[i] = impulse[i] * df;
    fftw_destroy_plan(plan);
    fftw_free(bins);
    fftw_free(impulse);
    return h;
}

void MagnitudeResponse(const std::vector<double>& impulse, double dt, double highest,
                       std::vector<double>& frequencies, std::vector<double>& decibels) {
    std::size_t n = 1024;
    while (n < 4 * impulse.size()) n *= 2;
    double* samples = fftw_alloc_real(n);
    fftw_complex* bins = fftw_alloc_complex(n / 2 + 1);
    fftw_plan plan = fftw_plan_dft_r2c_1d(static_cast<int>(n), samples, bins, FFTW_ESTIMATE);
    for (std::size_t i = 0; i < n; ++i) samples[i] = i < impulse.size() ? impulse[i] * dt : 0.0;
    fftw_execute(plan);
    frequencies.clear();
    decibels.clear();
    for (std::size_t k = 0; k <= n / 2; ++k) {
        const double f = double(k) / (double(n) * dt);
        if (f > highest) break;
        frequencies.push_back(f);
        decibels.push_back(20.0 * std::log10(std::max(std::hypot(bins[k][0], bins[k][1]), 1e-15)));
    }
    fftw_destroy_plan(plan);
    fftw_free(bins);
    fftw_free(samples);
}

std::vector<std::vector<double>> ReadChannel(const std::string& path,
                                             const ChannelOptions& options) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ChannelError("cannot read " + path);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    if (text.find_first_not_of(" \t\r\n") == std::string::npos)
        throw ChannelError(path + ": the file is empty");
    ChannelFormat format = options.format;
    const int namedPorts = PortsOfName(path);
    if (format == ChannelFormat::Auto && namedPorts > 0) format = ChannelFormat::Touchstone;
    if (format == ChannelFormat::Touchstone) {
        if (namedPorts != 2 && namedPorts != 4)
            throw ChannelError(path + ": a Touchstone file is read as .s2p or .s4p");
        Touchstone data;
        try {
            data = ParseTouchstone(text, namedPorts);
        } catch (const ChannelError& error) {
            throw ChannelError(path + ": " + error.what());
        }
        std::vector<std::pair<double, double>> through;
        for (const auto& s : data.s) {
            if (namedPorts == 2) {
                through.push_back(s[1][0]);
                continue;
            }
            const auto at = [&](int row, int column) {
                return s[static_cast<std::size_t>(options.ports[static_cast<std::size_t>(row)] - 1)]
                        [static_cast<std::size_t>(options.ports[static_cast<std::size_t>(column)] -
                                                  1)];
            };
            // Sdd21 = (S(out+,in+) - S(out+,in-) - S(out-,in+) + S(out-,in-)) / 2
            const auto a = at(2, 0), b = at(2, 1), c = at(3, 0), d = at(3, 1);
            through.push_back({0.5 * (a.first - b.first - c.first + d.first),
                               0.5 * (a.second - b.second - c.second + d.second)});
        }
        return {ImpulseFromResponse(data.frequencies, through, options.dt, options.length)};
    }
    const Table table = ReadTable(path, text);
    if (format == ChannelFormat::Auto)
        format = LooksTimed(table) ? ChannelFormat::Time : ChannelFormat::Values;
    return format == ChannelFormat::Time ? ReadTimed(path, table, options) : ReadValues(table);
}

}  // namespace amirun
