#include "tools/amirun/channel/Touchstone.h"

#include <cmath>
#include <locale>
#include <sstream>

#include "tools/amirun/channel/ChannelError.h"
#include "tools/amirun/io/Text.h"

namespace amirun {
namespace {

constexpr double kPi = 3.14159265358979323846;

[[noreturn]] void Fail(std::size_t line, const std::string& why) {
    throw ChannelError("line " + std::to_string(line) + ": " + why);
}

struct Token {
    double value;
    bool startsLine;
    std::size_t line;
};

enum class Layout { Full, Lower, Upper };

// What the option line and the 2.0 keywords say about the data that follows.
struct Header {
    double unit = 1e9;  // GHz unless the option line says otherwise
    std::string format = "ma";
    double resistance = 50.0;
    bool option = false;
    bool version2 = false;
    int ports = 0;
    long frequencies = -1;
    bool order12 = false;  // [Two-Port Data Order] 12_21
    bool orderGiven = false;
    Layout layout = Layout::Full;
    std::vector<double> reference;
};

void ReadOption(Header& header, const std::string& line, std::size_t number) {
    std::istringstream words(Lower(line.substr(line.find('#') + 1)));
    for (std::string word; words >> word;) {
        if (word == "hz" || word == "khz" || word == "mhz" || word == "ghz") {
            header.unit = word == "hz" ? 1.0 : word == "khz" ? 1e3 : word == "mhz" ? 1e6 : 1e9;
        } else if (word == "ri" || word == "ma" || word == "db") {
            header.format = word;
        } else if (word == "s") {
        } else if (word == "y" || word == "z" || word == "h" || word == "g") {
            Fail(number, "only S parameters are read, not " + word);
        } else if (word == "r") {
            std::string value;
            if (!(words >> value) || !FiniteNumber(value, header.resistance) ||
                !(header.resistance > 0.0))
                Fail(number, "R needs a positive reference resistance");
        } else {
            Fail(number, "unknown option '" + word + "' (units are Hz, kHz, MHz or GHz)");
        }
    }
    header.option = true;
}

// One [Keyword] line of a 2.0 file; returns true when the network data starts after it.
bool ReadKeyword(Header& header, const std::string& keyword, const std::string& rest,
                 std::size_t number, bool& skipping, bool& referencePending) {
    const std::string key = Lower(keyword);
    std::istringstream words(rest);
    std::string word;
    words >> word;
    const std::string value = Lower(word);
    if (key == "[version]") {
        if (value != "2.0" && value != "2.1") Fail(number, "Touchstone version " + word);
        header.version2 = true;
    } else if (key == "[number of ports]") {
        double ports = 0.0;
        if (!FiniteNumber(word, ports) || ports < 1 || ports > 64 || ports != std::floor(ports))
            Fail(number, "[Number of Ports] takes 1 to 64");
        header.ports = int(ports);
    } else if (key == "[two-port data order]") {
        if (value != "12_21" && value != "21_12") Fail(number, "[Two-Port Data Order] " + word);
        header.order12 = value == "12_21";
        header.orderGiven = true;
    } else if (key == "[number of frequencies]") {
        double count = 0.0;
        if (!FiniteNumber(word, count) || count < 1 || count != std::floor(count) || count > 1e7)
            Fail(number, "[Number of Frequencies] takes a positive whole number");
        header.frequencies = long(count);
    } else if (key == "[matrix format]") {
        if (value == "full")
            header.layout = Layout::Full;
        else if (value == "lower")
            header.layout = Layout::Lower;
        else if (value == "upper")
            header.layout = Layout::Upper;
        else
            Fail(number, "[Matrix Format] " + word);
    } else if (key == "[reference]") {
        referencePending = true;
    } else if (key == "[mixed-mode order]") {
        Fail(number, "mixed-mode Touchstone files are not read; give single-ended data");
    } else if (key == "[begin information]") {
        skipping = true;
    } else if (key == "[noise data]" || key == "[end]") {
        return false;
    } else if (key == "[network data]") {
        return true;
    } else if (key != "[number of noise frequencies]" && key != "[end information]") {
        Fail(number, "unknown keyword " + keyword);
    }
    return false;
}

// The (row, column) of the k-th value of one point.
std::pair<int, int> Slot(const Header& header, int ports, std::size_t k) {
    const int n = ports;
    const int index = int(k);
    if (header.layout == Layout::Full) {
        if (n == 2 && !header.order12) return {index % 2, index / 2};  // S11 S21 S12 S22
        return {index / n, index % n};
    }
    int row = 0, left = index;
    for (;; ++row) {
        const int width = header.layout == Layout::Lower ? row + 1 : n - row;
        if (left < width) break;
        left -= width;
    }
    return header.layout == Layout::Lower ? std::pair{row, left} : std::pair{row, row + left};
}

Complex Value(const std::string& format, double a, double b) {
    if (format == "ri") return {a, b};
    const double magnitude = format == "db" ? std::pow(10.0, a / 20.0) : a;
    return std::polar(magnitude, b * kPi / 180.0);
}

}  // namespace

namespace {

// Every number of the network data, with the keywords and option line read into `header`.
std::vector<Token> ReadTokens(const std::string& text, int portsOfName, Header& header) {
    std::vector<Token> tokens;
    std::istringstream in(text);
    std::size_t number = 0;
    bool skipping = false, referencePending = false, done = false;
    double lastFrequency = 0.0;  // the first value of the last data line
    for (std::string line; !done && std::getline(in, line);) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const auto bang = line.find('!');
        if (bang != std::string::npos) line.erase(bang);
        std::istringstream fields(line);
        std::string field;
        if (!(fields >> field)) continue;
        if (skipping) {
            skipping = Lower(line).find("[end information]") == std::string::npos;
            continue;
        }
        if (field[0] == '[') {
            const auto open = line.find('['), close = line.find(']');
            if (close == std::string::npos) Fail(number, "a keyword without ']'");
            const std::string keyword = line.substr(open, close - open + 1);
            const std::string key = Lower(keyword);
            if (!tokens.empty() && (key == "[noise data]" || key == "[end]")) done = true;
            const std::string rest = line.substr(close + 1);
            if (ReadKeyword(header, keyword, rest, number, skipping, referencePending)) continue;
            fields = std::istringstream(rest);  // reference values may follow on the same line
            if (!referencePending || !(fields >> field)) continue;
        }
        if (field[0] == '#') {
            if (!header.option) ReadOption(header, line, number);
            continue;
        }
        if (referencePending) {
            do {
                double ohms = 0.0;
                if (!FiniteNumber(field, ohms) || !(ohms > 0.0))
                    Fail(number, "[Reference] takes positive resistances");
                header.reference.push_back(ohms);
            } while (fields >> field);
            referencePending = int(header.reference.size()) < header.ports;
            continue;
        }
        std::vector<Token> row;
        do {
            double value = 0.0;
            if (!FiniteNumber(field, value)) Fail(number, "'" + field + "' is not a finite number");
            row.push_back(Token{value, row.empty(), number});
        } while (fields >> field);
        // Version 1.0 two-ports may end with noise parameters: five numbers a line, starting
        // again at a frequency no higher than the last.
        if (!header.version2 && row.size() == 5 && !tokens.empty() &&
            (portsOfName == 2 || header.ports == 2) && row.front().value <= lastFrequency)
            break;
        lastFrequency = row.front().value;
        tokens.insert(tokens.end(), row.begin(), row.end());
    }
    return tokens;
}

int PortCount(const Header& header, int portsOfName) {
    int ports = portsOfName;
    if (header.ports > 0) {
        if (ports > 0 && ports != header.ports)
            throw ChannelError("[Number of Ports] says " + std::to_string(header.ports) +
                               " but the file name says " + std::to_string(ports));
        ports = header.ports;
    }
    if (ports < 1)
        throw ChannelError("no port count: name the file .sNp or give [Number of Ports]");
    if (header.version2 && ports == 2 && !header.orderGiven)
        throw ChannelError("a 2.0 two-port file needs [Two-Port Data Order]");
    if (header.version2 && !header.option) throw ChannelError("no option line (# GHz S MA R 50)");
    return ports;
}

}  // namespace

Touchstone ParseTouchstone(const std::string& text, int portsOfName) {
    Header header;
    const std::vector<Token> tokens = ReadTokens(text, portsOfName, header);
    const int ports = PortCount(header, portsOfName);
    const std::size_t n = std::size_t(ports);
    const std::size_t values = header.layout == Layout::Full ? n * n : n * (n + 1) / 2;
    const std::size_t perPoint = 1 + 2 * values;
    Touchstone data;
    data.ports = ports;
    data.reference = header.reference;
    if (data.reference.empty()) data.reference.assign(n, header.resistance);
    if (data.reference.size() != n)
        throw ChannelError("[Reference] gives " + std::to_string(data.reference.size()) +
                           " resistances for " + std::to_string(ports) + " ports");
    for (std::size_t at = 0; at < tokens.size(); at += perPoint) {
        // In 1.0 files every point starts a line; 2.0 files may wrap freely.
        const bool aligned = header.version2 ||
                             (tokens[at].startsLine &&
                              (at + perPoint >= tokens.size() || tokens[at + perPoint].startsLine));
        if (!aligned || at + perPoint > tokens.size())
            Fail(tokens[at].line, "a frequency point does not hold the " +
                                      std::to_string(perPoint - 1) + " numbers of " +
                                      std::to_string(ports) + " ports");
        const double f = tokens[at].value * header.unit;
        if (f < 0.0) Fail(tokens[at].line, "a negative frequency");
        if (!data.frequencies.empty() && !(f > data.frequencies.back()))
            Fail(tokens[at].line, "frequencies must ascend");
        data.frequencies.push_back(f);
        std::vector<Complex> s(n * n);
        for (std::size_t k = 0; k < values; ++k) {
            const auto [row, column] = Slot(header, ports, k);
            const Complex z =
                Value(header.format, tokens[at + 1 + 2 * k].value, tokens[at + 2 + 2 * k].value);
            s[std::size_t(row) * n + std::size_t(column)] = z;
            if (header.layout != Layout::Full) s[std::size_t(column) * n + std::size_t(row)] = z;
        }
        data.s.push_back(std::move(s));
    }
    if (header.frequencies >= 0 && std::size_t(header.frequencies) != data.frequencies.size())
        throw ChannelError("[Number of Frequencies] says " + std::to_string(header.frequencies) +
                           " but the file holds " + std::to_string(data.frequencies.size()));
    if (data.frequencies.size() < 2) throw ChannelError("fewer than two frequency points");
    return data;
}

namespace {

using Matrix = std::vector<Complex>;  // n x n, row-major

// Solves A X = B in place (B becomes X) by Gaussian elimination with partial pivoting; false
// when A is singular at the working precision.
bool Solve(Matrix a, Matrix& b, std::size_t n) {
    for (std::size_t c = 0; c < n; ++c) {
        std::size_t pivot = c;
        for (std::size_t r = c + 1; r < n; ++r)
            if (std::abs(a[r * n + c]) > std::abs(a[pivot * n + c])) pivot = r;
        if (!(std::abs(a[pivot * n + c]) > 1e-12)) return false;
        for (std::size_t k = 0; k < n; ++k) {
            std::swap(a[c * n + k], a[pivot * n + k]);
            std::swap(b[c * n + k], b[pivot * n + k]);
        }
        for (std::size_t r = 0; r < n; ++r) {
            if (r == c) continue;
            const Complex factor = a[r * n + c] / a[c * n + c];
            for (std::size_t k = 0; k < n; ++k) {
                a[r * n + k] -= factor * a[c * n + k];
                b[r * n + k] -= factor * b[c * n + k];
            }
        }
    }
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t k = 0; k < n; ++k) b[r * n + k] /= a[r * n + r];
    return true;
}

Matrix Transposed(const Matrix& m, std::size_t n) {
    Matrix t(n * n);
    for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) t[c * n + r] = m[r * n + c];
    return t;
}

}  // namespace

void Renormalize(Touchstone& data, double ohms) {
    const std::size_t n = std::size_t(data.ports);
    bool same = true;
    for (double z : data.reference) same = same && z == ohms;
    if (same) return;
    for (std::size_t point = 0; point < data.s.size(); ++point) {
        // Z = D (I - S)^-1 (I + S) D with D = diag(sqrt(Zref)); then S' = (Z - R)(Z + R)^-1.
        Matrix minus(n * n), plus(n * n);
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t c = 0; c < n; ++c) {
                const Complex s = data.s[point][r * n + c];
                minus[r * n + c] = (r == c ? 1.0 : 0.0) - s;
                plus[r * n + c] = (r == c ? 1.0 : 0.0) + s;
            }
        if (!Solve(minus, plus, n))
            throw ChannelError("cannot renormalize to " + std::to_string(int(ohms)) +
                               " ohm: no impedance matrix at " +
                               std::to_string(data.frequencies[point]) + " Hz");
        Matrix z = plus;
        for (std::size_t r = 0; r < n; ++r)
            for (std::size_t c = 0; c < n; ++c)
                z[r * n + c] *= std::sqrt(data.reference[r] * data.reference[c]) / ohms;
        // S' (Z + I) = Z - I, solved as (Z + I)^T S'^T = (Z - I)^T.
        Matrix sum = z, difference = z;
        for (std::size_t d = 0; d < n; ++d) {
            sum[d * n + d] += 1.0;
            difference[d * n + d] -= 1.0;
        }
        Matrix result = Transposed(difference, n);
        if (!Solve(Transposed(sum, n), result, n))
            throw ChannelError("cannot renormalize to " + std::to_string(int(ohms)) + " ohm");
        data.s[point] = Transposed(result, n);
    }
    data.reference.assign(n, ohms);
}

LargestS LargestMagnitude(const Touchstone& data) {
    LargestS largest;
    for (std::size_t point = 0; point < data.s.size(); ++point)
        for (const Complex& z : data.s[point])
            if (std::abs(z) > largest.magnitude) largest = {std::abs(z), data.frequencies[point]};
    return largest;
}

}  // namespace amirun
