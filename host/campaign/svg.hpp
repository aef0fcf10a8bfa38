// Plots as inline SVG text: line plots with bands, spans, rules and marked
// points, histograms and per-row strip plots. Coordinates are in the data's
// own units; the plot maps them onto a fixed frame.
#pragma once

#include <string>
#include <vector>

namespace audiomeas::host::svg {

struct Series {
  std::vector<double> x, y;  // non-finite y: a gap
  std::string label;
  const char* colour = "#1f77b4";
  bool step = false;    // held to the next x (frame levels)
  bool points = false;  // dots, no line
};

// A horizontal band (y0..y1) or rule (y0 == y1), or with vertical set, a
// span or rule over x.
struct Mark {
  double from = 0, to = 0;
  std::string label;
  const char* colour = "#888";
  bool vertical = false;
  bool dashed = false;
};

struct LinePlot {
  std::string title, xLabel, yLabel;
  std::vector<Series> series;
  std::vector<Mark> marks;
};

std::string linePlot(const LinePlot& plot);

// Counts of values in 2 sqrt(n) bins, 10 to 40.
std::string histogram(const std::vector<double>& values, const std::string& title, const std::string& xLabel);

// One dot per row: row number across, value up; tips[k] is dot k's tooltip.
std::string stripPlot(const std::vector<int>& rows, const std::vector<double>& values,
                      const std::vector<std::string>& tips, const std::string& title,
                      const std::string& yLabel);

}  // namespace audiomeas::host::svg
