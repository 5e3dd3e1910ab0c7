#include "tools/amirun/Plot.h"

#include <plplot/plplot.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace amirun {
namespace {

// One PNG page: PLplot's cairo driver, white background, 1000 x 700 pixels.
class Page {
public:
    explicit Page(const std::string& file) {
        plsdev("pngcairo");
        plsfnam(file.c_str());
        plspage(0.0, 0.0, 1000, 700, 0, 0);
        plscolbg(255, 255, 255);
        plscol0(15, 0, 0, 0);  // axes and labels in black
        plinit();
        plcol0(15);  // black on the white background
    }
    ~Page() { plend(); }
    Page(const Page&) = delete;
    Page& operator=(const Page&) = delete;
};

void Range(const std::vector<double>& values, double& low, double& high) {
    for (double v : values)
        if (std::isfinite(v)) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
}

void Pad(double& low, double& high) {
    if (!(high > low)) {
        low -= 1.0;
        high += 1.0;
    }
    const double margin = 0.05 * (high - low);
    low -= margin;
    high += margin;
}

}  // namespace

void PlotLines(const std::string& file, const std::string& title, const std::string& xLabel,
               const std::string& yLabel, const std::vector<Series>& series) {
    double xLow = std::numeric_limits<double>::infinity(), xHigh = -xLow;
    double yLow = xLow, yHigh = -xLow;
    for (const Series& s : series) {
        Range(s.x, xLow, xHigh);
        Range(s.y, yLow, yHigh);
    }
    if (!std::isfinite(xLow)) return;
    if (!(xHigh > xLow)) xHigh = xLow + 1.0;
    Pad(yLow, yHigh);
    Page page(file);
    plenv(xLow, xHigh, yLow, yHigh, 0, 1);
    pllab(xLabel.c_str(), yLabel.c_str(), title.c_str());
    const PLINT colours[] = {1, 9, 3, 13, 8, 12};
    for (std::size_t i = 0; i < series.size(); ++i) {
        const Series& s = series[i];
        plcol0(colours[i % 6]);
        plwidth(2.0);
        plline(PLINT(std::min(s.x.size(), s.y.size())), s.x.data(), s.y.data());
        plmtex("t", -1.5 - 1.5 * double(i), 0.97, 1.0, s.label.c_str());
    }
}

void PlotEye(const std::string& file, const std::string& title, const EyeDensity& density) {
    if (density.counts.empty()) return;
    const auto nx = PLINT(density.counts.size());
    const auto ny = PLINT(density.counts.front().size());
    std::vector<std::vector<double>> scaled(density.counts);
    double top = 0.0;
    for (auto& column : scaled)
        for (double& c : column) {
            c = std::log10(1.0 + c);  // log density: rare transitions stay visible
            top = std::max(top, c);
        }
    std::vector<const PLFLT*> rows;
    for (const auto& column : scaled) rows.push_back(column.data());
    const double span = 2.0;  // two unit intervals
    Page page(file);
    pladv(0);
    plvpor(0.10, 0.80, 0.12, 0.90);  // room on the right for the colour bar
    plwind(0.0, span, density.low, density.high);
    // White where nothing passes, deepening to dark blue where the waveform is densest.
    const PLFLT position[3] = {0.0, 0.15, 1.0};
    const PLFLT red[3] = {1.0, 0.55, 0.05};
    const PLFLT green[3] = {1.0, 0.75, 0.1};
    const PLFLT blue[3] = {1.0, 1.0, 0.45};
    plscmap1l(1, 3, position, red, green, blue, nullptr);
    plimage(rows.data(), nx, ny, 0.0, span, density.low, density.high, 0.0, top, 0.0, span,
            density.low, density.high);
    plcol0(15);
    plbox("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
    pllab("time (UI)", "voltage (V)", title.c_str());
    // The colour bar: the shade of each density, on the same log scale as the image.
    PLFLT barWidth = 0.0, barHeight = 0.0;
    const PLINT labelOptions[] = {PL_COLORBAR_LABEL_RIGHT};
    const char* const labels[] = {"log10(1 + density)"};
    const char* const axisOptions[] = {"bcvtm"};
    const PLFLT ticks[] = {0.0};
    const PLINT subTicks[] = {0};
    const PLINT valueCounts[] = {2};
    const PLFLT range[] = {0.0, top > 0.0 ? top : 1.0};
    const PLFLT* const values[] = {range};
    plcolorbar(&barWidth, &barHeight, PL_COLORBAR_IMAGE, PL_POSITION_RIGHT, 0.03, 0.0, 0.04, 1.0, 0,
               15, 1, 0.0, 0.0, 0, 0.0, 1, labelOptions, labels, 1, axisOptions, ticks, subTicks,
               valueCounts, values);
}

void PlotBars(const std::string& file, const std::string& title, const std::string& xLabel,
              const std::string& yLabel, const std::vector<std::string>& names,
              const std::vector<double>& values, std::size_t best) {
    if (values.empty()) return;
    double low = 0.0, high = 0.0;
    Range(values, low, high);
    Pad(low, high);
    Page page(file);
    plenv(-0.5, double(values.size()) - 0.5, low, high, 0, 0);
    pllab(xLabel.c_str(), yLabel.c_str(), title.c_str());
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (!std::isfinite(values[i])) continue;
        const double x0 = double(i) - 0.35, x1 = double(i) + 0.35;
        PLFLT xs[4] = {x0, x0, x1, x1};
        PLFLT ys[4] = {0.0, values[i], values[i], 0.0};
        plcol0(i == best ? 3 : 9);
        plfill(4, xs, ys);
        plcol0(15);
        plptex(double(i), high - 0.04 * (high - low), 0.0, 0.0, 0.5, names[i].c_str());
    }
}

}  // namespace amirun
