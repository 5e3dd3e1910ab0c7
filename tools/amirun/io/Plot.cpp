#include "tools/amirun/io/Plot.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iomanip>
#include <limits>
#include <locale>
#include <sstream>

#include "tools/amirun/io/Output.h"

// Plots are drawn by gnuplot (Debian's gnuplot-nox, no display needed). Each PNG gets its script
// beside it, `<name>.gp`, with the data inline: run `gnuplot <name>.gp` after editing it to redraw
// the picture.
namespace amirun {
namespace {

constexpr std::size_t kMostPoints = 4000;  // per line series: a picture, not the data
constexpr std::size_t kMostColumns = 256;  // eye columns over two unit intervals

// A gnuplot string that nothing can escape from: single quotes (no backquote or macro
// substitution inside them, no backslash escapes), an inner quote doubled, control characters
// (which would end the command line) turned into blanks.
std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += '\'';
        out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
    }
    return out + "'";
}

// gnuplot itself, without a shell: its output path is an argument vector entry, never a command.
std::string RunGnuplot(const std::string& outputValue, const std::string& script, int& status) {
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) throw OutputError("cannot run gnuplot: no pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::string program = "gnuplot", flag = "-e", setting = "out=" + outputValue, file = script;
    char* argv[] = {program.data(), flag.data(), setting.data(), file.data(), nullptr};
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "gnuplot", &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeEnds[1]);
    std::string messages;
    if (spawned == 0) {
        char buffer[512];
        for (ssize_t n;
             (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
            if (n > 0) messages.append(buffer, std::size_t(n));
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    close(pipeEnds[0]);
    if (spawned != 0)
        throw OutputError("cannot run gnuplot (install gnuplot-nox): " +
                          std::string(std::strerror(spawned)));
    return messages;
}

// gnuplot exits 0 even when its write failed: a PNG is whole when it ends with its IEND chunk.
bool WholePng(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(8, '\0'), tail(12, '\0');
    if (!in.read(head.data(), 8) || head.compare(1, 3, "PNG") != 0) return false;
    in.seekg(-12, std::ios::end);
    static const char kEnd[] = "\0\0\0\0IEND\xae\x42\x60\x82";
    return static_cast<bool>(in.read(tail.data(), 12)) && std::memcmp(tail.data(), kEnd, 12) == 0;
}

// A script and its data for one PNG. Draw writes the script beside the PNG and runs it into a
// temporary file, renamed into place once gnuplot has succeeded and the PNG is whole.
class Script {
public:
    Script() {
        text_.imbue(std::locale::classic());
        text_ << std::setprecision(10);
    }
    std::ostream& Text() { return text_; }
    void Draw(const std::string& finalFile) {
        const std::string scriptPath = finalFile + ".gp";
        std::ostringstream script;
        script << "# Redraw with: gnuplot " << Quoted(scriptPath) << "\n"
               << "if (!exists(\"out\")) out = " << Quoted(finalFile) << "\n"
               << "set terminal pngcairo size 1000,700 font 'sans,12' noenhanced\n"
               << "set output out\n"
               << text_.str();
        WriteTextFile(scriptPath, script.str());
        AtomicFile png(finalFile);
        int status = -1;
        const std::string messages = RunGnuplot(Quoted(png.TemporaryPath()), scriptPath, status);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !WholePng(png.TemporaryPath()))
            throw OutputError("gnuplot could not draw " + finalFile + ": " +
                              messages.substr(0, 500));
        png.Commit();
    }

private:
    std::ostringstream text_;
};

// A title's lines, each quoted, joined by gnuplot's own "\n": no text of the title is ever
// read as anything but text.
std::string QuotedLines(const std::string& text) {
    std::string out;
    std::size_t from = 0;
    for (std::size_t at; (at = text.find('\n', from)) != std::string::npos; from = at + 1)
        out += Quoted(text.substr(from, at - from)) + ".\"\\n\".";
    return out + Quoted(text.substr(from));
}

void Header(std::ostream& out, const std::string& title, const std::string& xLabel,
            const std::string& yLabel) {
    out << "set title " << QuotedLines(title) << "\nset xlabel " << Quoted(xLabel)
        << "\nset ylabel " << Quoted(yLabel) << "\nset grid\n";
}

// The data of line series as datablocks $<prefix>0, $<prefix>1, ..., finite points only.
void WriteSeries(std::ostream& out, const std::string& prefix, const std::vector<Series>& series) {
    for (std::size_t i = 0; i < series.size(); ++i) {
        out << "$" << prefix << i << " << EOD\n";
        const Series& s = series[i];
        const std::size_t count = std::min(s.x.size(), s.y.size());
        const std::size_t stride =
            std::max<std::size_t>(1, (count + kMostPoints - 1) / kMostPoints);
        for (std::size_t k = 0; k < count; k += stride)
            if (std::isfinite(s.x[k]) && std::isfinite(s.y[k]))
                out << s.x[k] << ' ' << s.y[k] << '\n';
        out << "EOD\n";
    }
}

// Eight colours, then the same eight dashed: sixteen curves stay apart.
std::string Style(std::size_t i) {
    return "lw 2 lc " + std::to_string(i % 8 + 1) + " dt " + std::to_string(i / 8 % 4 + 1);
}

}  // namespace

void PlotEye(const std::string& file, const std::string& title, const EyeDensity& density,
             const std::string& scale, const std::vector<Series>& lines) {
    if (density.counts.empty()) return;
    // Neighbouring columns merged, so that the script's size does not grow with samples per UI.
    const std::size_t merge = (density.counts.size() + kMostColumns - 1) / kMostColumns;
    const std::size_t nx = (density.counts.size() + merge - 1) / merge;
    const std::size_t ny = density.counts.front().size();
    std::vector<std::vector<double>> counts(nx, std::vector<double>(ny, 0.0));
    for (std::size_t i = 0; i < density.counts.size(); ++i)
        for (std::size_t j = 0; j < ny && j < density.counts[i].size(); ++j)
            counts[i / merge][j] += density.counts[i][j] / double(merge);
    Script script;
    std::ostream& out = script.Text();
    Header(out, title, "time (UI)", "voltage (V)");
    out << "unset grid\nset xrange [0:2]\nset yrange [" << density.low << ":" << density.high
        << "]\n"
        // White where nothing passes, deepening to dark blue where the waveform is densest.
        << "set palette defined (0 '#ffffff', 0.15 '#8cbfff', 1 '#0d1a73')\n"
        << "set cblabel " << Quoted(scale) << "\n"
        << (density.probabilities ? "set cbrange [-16:0]\nset cbtics 2\n" : "set cbrange [0:*]\n")
        // The key below the picture, off the data it explains.
        << "set key outside below horizontal\n$eye << EOD\n";
    for (std::size_t i = 0; i < nx; ++i) {
        for (std::size_t j = 0; j < ny; ++j) {
            const double x = (double(i) + 0.5) * 2.0 / double(nx);
            const double y =
                density.low + (double(j) + 0.5) * (density.high - density.low) / double(ny);
            // Probabilities as log10 (below 1e-16: the palette's white); counts as log10(1 + n),
            // so that rare traces stay visible.
            const double c = counts[i][j];
            out << x << ' ' << y << ' '
                << (density.probabilities ? (c > 0.0 ? std::max(std::log10(c), -16.0) : -16.0)
                                          : std::log10(1.0 + c))
                << '\n';
        }
        out << '\n';
    }
    out << "EOD\n";
    WriteSeries(out, "line", lines);
    out << "plot $eye using 1:2:3 with image notitle";
    // Warm colours and black, which stand out on the white-to-blue picture. A labelled line
    // takes the next colour; an unlabelled one keeps its predecessor's.
    static const char* const kOnBlue[] = {"#d62728", "#ff7f0e", "#000000", "#e377c2",
                                          "#8c564b", "#bcbd22", "#2ca02c", "#7f7f7f"};
    for (std::size_t i = 0, colour = 0; i < lines.size(); ++i) {
        const bool titled = !lines[i].label.empty();
        if (titled && i > 0) ++colour;
        out << ", $line" << i << " using 1:2 with lines lw 2 lc rgb '" << kOnBlue[colour % 8] << "'"
            << (titled ? " title " + Quoted(lines[i].label) : " notitle");
    }
    out << '\n';
    script.Draw(file);
}

void PlotLines(const std::string& file, const std::string& title, const std::string& xLabel,
               const std::string& yLabel, const std::vector<Series>& series) {
    Script script;
    std::ostream& out = script.Text();
    Header(out, title, xLabel, yLabel);
    // Beside or below the plot, never over a curve.
    out << (series.size() > 6 ? "set key outside right\n" : "set key below\n");
    WriteSeries(out, "s", series);
    out << "plot ";
    for (std::size_t i = 0; i < series.size(); ++i)
        out << (i ? ", " : "") << "$s" << i << " using 1:2 with lines " << Style(i) << " title "
            << Quoted(series[i].label);
    out << '\n';
    script.Draw(file);
}

void PlotBars(const std::string& file, const std::string& title, const std::string& xLabel,
              const std::string& yLabel, const std::vector<std::string>& names,
              const std::vector<double>& values, std::size_t best) {
    if (values.empty()) return;
    Script script;
    std::ostream& out = script.Text();
    Header(out, title, xLabel, yLabel);
    out << "set style fill solid 0.8\nset boxwidth 0.7\nset key top left\nset xtics (";
    for (std::size_t i = 0; i < values.size(); ++i)
        out << (i ? ", " : "") << Quoted(i < names.size() ? names[i] : "") << ' ' << i;
    out << ")\n$bars << EOD\n";
    for (std::size_t i = 0; i < values.size(); ++i)
        out << i << ' ' << (std::isfinite(values[i]) ? values[i] : 0.0) << ' '
            << (i == best ? 1 : 0) << '\n';
    out << "EOD\nplot $bars using 1:($3 == 0 ? $2 : NaN) with boxes lc rgb '#4a7fd4' "
           "title 'setting', $bars using 1:($3 == 1 ? $2 : NaN) with boxes lc rgb '#2a9d3a' "
           "title 'best'\n";
    script.Draw(file);
}

void PlotHeatMap(const std::string& file, const std::string& title, const std::string& xLabel,
                 const std::string& yLabel, const std::vector<std::string>& columns,
                 const std::vector<std::string>& rows,
                 const std::vector<std::vector<double>>& values, const std::string& scale,
                 std::size_t bestRow, std::size_t bestColumn) {
    if (rows.empty() || columns.empty()) return;
    Script script;
    std::ostream& out = script.Text();
    Header(out, title + " (red dot: the best)", xLabel, yLabel);
    out << "unset grid\nset palette defined (0 '#f7fbff', 0.5 '#6baed6', 1 '#08306b')\n"
        << "set cblabel " << Quoted(scale) << "\nset xrange [-0.5:" << double(columns.size()) - 0.5
        << "]\nset yrange [-0.5:" << double(rows.size()) - 0.5
        << "]\nunset key\nset cbrange [0:*]\n"
        << (columns.size() > 8 ? "set xtics rotate by -45\n" : "");
    for (const auto& [axis, names] : {std::pair{"x", &columns}, std::pair{"y", &rows}}) {
        out << "set " << axis << "tics (";
        for (std::size_t i = 0; i < names->size(); ++i)
            out << (i ? ", " : "") << Quoted((*names)[i]) << ' ' << i;
        out << ")\n";
    }
    out << "$map << EOD\n";
    for (std::size_t r = 0; r < rows.size(); ++r) {
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const double v = r < values.size() && c < values[r].size() ? values[r][c] : NAN;
            out << c << ' ' << r << ' ';
            if (std::isfinite(v))
                out << v << '\n';
            else
                out << "NaN\n";
        }
        out << '\n';
    }
    out << "EOD\n$best << EOD\n"
        << bestColumn << ' ' << bestRow << "\nEOD\n"
        << "plot $map using 1:2:3 with image notitle, $best using 1:2 with points pt 7 ps 2 "
           "lc rgb '#d62728' notitle\n";
    script.Draw(file);
}

}  // namespace amirun
