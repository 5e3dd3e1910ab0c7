#pragma once

#include <string>
#include <vector>

#include "tools/amirun/io/Picture.h"

namespace amirun {

// PNG plots drawn by gnuplot, each with its editable script beside it (<file>.gp, the data
// inline), written whole or not at all; OutputError when gnuplot is missing or fails.

// Line plot of several series into a PNG file.
void PlotLines(const std::string& file, const std::string& title, const std::string& xLabel,
               const std::string& yLabel, const std::vector<Series>& series);

// Density image over two unit intervals, the time axis in unit intervals, on a log scale so that
// rare traces stay visible.
// Probabilities are coloured by log10 from 1e-16 to 1; `lines` (contours, markers) are drawn
// over the picture; a line with an empty label shares the colour of the one before it and has no
// key entry.
void PlotEye(const std::string& file, const std::string& title, const EyeDensity& density,
             const std::string& scale = "log10(1 + density)",
             const std::vector<Series>& lines = {});

// Bars of one value per setting, the best one marked.
void PlotBars(const std::string& file, const std::string& title, const std::string& xLabel,
              const std::string& yLabel, const std::vector<std::string>& names,
              const std::vector<double>& values, std::size_t best);

// A heat map of values[row][column] with named rows and columns; the best cell is marked.
// Values that are not finite are left white.
void PlotHeatMap(const std::string& file, const std::string& title, const std::string& xLabel,
                 const std::string& yLabel, const std::vector<std::string>& columns,
                 const std::vector<std::string>& rows,
                 const std::vector<std::vector<double>>& values, const std::string& scale,
                 std::size_t bestRow, std::size_t bestColumn);

}  // namespace amirun
