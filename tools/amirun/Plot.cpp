#include "tools/amirun/Plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <limits>
#include <locale>
#include <sstream>

#include "tools/amirun/Output.h"

// Plots are drawn by gnuplot (Debian's gnuplot-nox, no display needed). Each PNG gets its script
// beside it, `<name>.gp`, with the data inline: run `gnuplot <name>.gp` after editing it to redraw
// the picture.
namespace amirun {
namespace {

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

// A script and its data for one PNG. Draw writes the script beside the PNG and runs it into a
// temporary file, renamed into place once gnuplot has succeeded.
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
               << "set terminal pngcairo size 1000,700 font \"sans,12\" noenhanced\n"
               << "set output out\n"
               << text_.str();
        AtomicFile saved(scriptPath);
        saved.Text() << script.str();
        saved.Commit();
        AtomicFile png(finalFile);
        const std::string command = "gnuplot -e " + Quoted("out='" + png.TemporaryPath() + "'") +
                                    " " + Quoted(scriptPath) + " 2>&1";
        FILE* pipe = popen(command.c_str(), "r");
        if (pipe == nullptr) throw OutputError("cannot run gnuplot for " + finalFile);
        std::string messages;
        char buffer[512];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            messages.append(buffer, n);
        const int status = pclose(pipe);
        if (status != 0)
            throw OutputError("gnuplot could not draw " + finalFile +
                              (messages.find("not found") != std::string::npos
                                   ? " (install gnuplot-nox)"
                                   : ": " + messages));
        png.Commit();
    }

private:
    std::ostringstream text_;
};

void Header(std::ostream& out, const std::string& title, const std::string& xLabel,
            const std::string& yLabel) {
    out << "set title " << Quoted(title) << "\nset xlabel " << Quoted(xLabel) << "\nset ylabel "
        << Quoted(yLabel) << "\nset grid\n";
}

}  // namespace

void PlotLines(const std::string& file, const std::string& title, const std::string& xLabel,
               const std::string& yLabel, const std::vector<Series>& series) {
    Script script;
    std::ostream& out = script.Text();
    Header(out, title, xLabel, yLabel);
    out << (series.size() > 6 ? "set key outside right\n" : "set key top right\n");
    for (std::size_t i = 0; i < series.size(); ++i) {
        out << "$s" << i << " << EOD\n";
        const Series& s = series[i];
        for (std::size_t k = 0; k < std::min(s.x.size(), s.y.size()); ++k)
            if (std::isfinite(s.x[k]) && std::isfinite(s.y[k]))
                out << s.x[k] << ' ' << s.y[k] << '\n';
        out << "EOD\n";
    }
    out << "plot ";
    for (std::size_t i = 0; i < series.size(); ++i)
        out << (i ? ", " : "") << "$s" << i << " using 1:2 with lines lw 2 title "
            << Quoted(series[i].label);
    out << '\n';
    script.Draw(file);
}

void PlotEye(const std::string& file, const std::string& title, const EyeDensity& density,
             const std::string& scale) {
    if (density.counts.empty()) return;
    const std::size_t nx = density.counts.size();
    const std::size_t ny = density.counts.front().size();
    Script script;
    std::ostream& out = script.Text();
    Header(out, title, "time (UI)", "voltage (V)");
    out << "unset grid\nset xrange [0:2]\nset yrange [" << density.low << ":" << density.high
        << "]\n"
        // White where nothing passes, deepening to dark blue where the waveform is densest.
        << "set palette defined (0 '#ffffff', 0.15 '#8cbfff', 1 '#0d1a73')\n"
        << "set cblabel " << Quoted(scale) << "\nset cbrange [0:*]\n$eye << EOD\n";
    // Log density, so that rare traces stay visible.
    for (std::size_t i = 0; i < nx; ++i) {
        for (std::size_t j = 0; j < ny; ++j) {
            const double x = (double(i) + 0.5) * 2.0 / double(nx);
            const double y =
                density.low + (double(j) + 0.5) * (density.high - density.low) / double(ny);
            out << x << ' ' << y << ' ' << std::log10(1.0 + density.counts[i][j]) << '\n';
        }
        out << '\n';
    }
    out << "EOD\nplot $eye using 1:2:3 with image notitle\n";
    script.Draw(file);
}

void PlotBars(const std::string& file, const std::string& title, const std::string& xLabel,
              const std::string& yLabel, const std::vector<std::string>& names,
              const std::vector<double>& values, std::size_t best) {
    if (values.empty()) return;
    Script script;
    std::ostream& out = script.Text();
    Header(out, title, xLabel, yLabel);
    out << "set style fill solid 0.8\nset boxwidth 0.7\nset key top left\n$bars << EOD\n";
    for (std::size_t i = 0; i < values.size(); ++i)
        out << i << ' ' << Quoted(names[i]) << ' ' << (std::isfinite(values[i]) ? values[i] : 0.0)
            << ' ' << (i == best ? 1 : 0) << '\n';
    out << "EOD\nplot $bars using 1:($4 == 0 ? $3 : NaN):xtic(2) with boxes lc rgb '#4a7fd4' "
           "title 'setting', $bars using 1:($4 == 1 ? $3 : NaN) with boxes lc rgb '#2a9d3a' "
           "title 'best'\n";
    script.Draw(file);
}

}  // namespace amirun
