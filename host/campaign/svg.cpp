#include "svg.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "html.hpp"

namespace audiomeas::host::svg {

namespace {

// The frame, px: plot area inside margins for ticks and labels.
constexpr double kWidth = 640, kHeight = 260, kLeft = 64, kRight = 16, kTop = 24, kBottom = 40;
// A series longer than this is thinned to the minimum and maximum per column.
constexpr std::size_t kMaxPoints = 1200;

struct Range {
  double lo = std::numeric_limits<double>::infinity(), hi = -std::numeric_limits<double>::infinity();
  void add(double v) {
    if (!std::isfinite(v)) return;
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  // A range that can be drawn: widened when empty or flat.
  void settle() {
    if (!(lo <= hi)) lo = 0, hi = 1;
    if (hi - lo < 1e-12 * std::max(1.0, std::abs(lo))) {
      const double pad = std::max(0.5, std::abs(lo) * 1e-3);
      lo -= pad, hi += pad;
    }
  }
};

// Tick values 1, 2 or 5 times a power of ten apart, about n of them.
std::vector<double> ticks(const Range& r, int n = 6, double minimumStep = 0) {
  const double raw = std::max((r.hi - r.lo) / n, minimumStep);
  const double p = std::pow(10.0, std::floor(std::log10(raw)));
  const double step = raw / p < 1.5 ? p : raw / p < 3.5 ? 2 * p : raw / p < 7.5 ? 5 * p : 10 * p;
  std::vector<double> t;
  for (double v = std::ceil(r.lo / step) * step; v <= r.hi + step * 1e-9 && t.size() < 32; v += step)
    t.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
  return t;
}

struct Frame {
  Range x, y;
  double xStep = 0;  // the least tick step across: 1 for row numbers
  double px(double v) const { return kLeft + (v - x.lo) / (x.hi - x.lo) * (kWidth - kLeft - kRight); }
  double py(double v) const {
    return kHeight - kBottom - (v - y.lo) / (y.hi - y.lo) * (kHeight - kTop - kBottom);
  }
};

std::string open(const std::string& title) {
  return fmt(R"(<svg xmlns="http://www.w3.org/2000/svg" class="plot" viewBox="0 0 %.0f %.0f" role="img">)",
             kWidth, kHeight) +
         "<title>" + html::escape(title) + "</title>" + fmt(R"(<text x="%.0f" y="15" class="t">)", kLeft) +
         html::escape(title) + "</text>";
}

std::string axes(const Frame& f, const std::string& xLabel, const std::string& yLabel) {
  std::string s = fmt(R"(<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" class="frame"/>)", kLeft, kTop,
                      kWidth - kLeft - kRight, kHeight - kTop - kBottom);
  for (double v : ticks(f.x, 6, f.xStep))
    s += fmt(
        R"(<line x1="%.1f" x2="%.1f" y1="%.1f" y2="%.1f" class="tick"/><text x="%.1f" y="%.1f" class="xt">%s</text>)",
        f.px(v), f.px(v), kHeight - kBottom, kHeight - kBottom + 4, f.px(v), kHeight - kBottom + 15,
        html::number(v, 6).c_str());
  for (double v : ticks(f.y, 5))
    s += fmt(
        R"(<line x1="%.1f" x2="%.1f" y1="%.1f" y2="%.1f" class="tick"/><text x="%.1f" y="%.1f" class="yt">%s</text>)",
        kLeft - 4, kLeft, f.py(v), f.py(v), kLeft - 6, f.py(v) + 4, html::number(v, 6).c_str());
  s += fmt(R"(<text x="%.1f" y="%.1f" class="xl">)", kLeft + (kWidth - kLeft - kRight) / 2, kHeight - 6) +
       html::escape(xLabel) + "</text>";
  s += fmt(R"x(<text transform="translate(12 %.1f) rotate(-90)" class="xl">)x",
           kTop + (kHeight - kTop - kBottom) / 2) +
       html::escape(yLabel) + "</text>";
  return s;
}

// Indices of the points drawn: all, or per pixel column its first, lowest,
// highest and last.
std::vector<std::size_t> thinned(const Series& s, const Frame& f) {
  std::vector<std::size_t> keep;
  const std::size_t n = std::min(s.x.size(), s.y.size());
  if (n <= kMaxPoints) {
    for (std::size_t i = 0; i < n; ++i) keep.push_back(i);
    return keep;
  }
  long column = std::numeric_limits<long>::min();
  std::size_t first = 0, low = 0, high = 0, last = 0;
  auto flush = [&] {
    std::size_t four[] = {first, low, high, last};
    std::sort(four, four + 4);
    for (std::size_t i : four)
      if (keep.empty() || keep.back() != i) keep.push_back(i);
  };
  for (std::size_t i = 0; i < n; ++i) {
    const long c = std::isfinite(s.x[i]) ? long(f.px(s.x[i])) : column;
    if (c != column || !std::isfinite(s.y[i])) {
      if (column != std::numeric_limits<long>::min()) flush();
      column = c;
      first = low = high = last = i;
      if (!std::isfinite(s.y[i])) {
        keep.push_back(i);
        column = std::numeric_limits<long>::min();
      }
      continue;
    }
    last = i;
    if (s.y[i] < s.y[low]) low = i;
    if (s.y[i] > s.y[high]) high = i;
  }
  if (column != std::numeric_limits<long>::min()) flush();
  return keep;
}

std::string legend(const std::vector<std::pair<std::string, const char*>>& entries) {
  std::string s = R"(<g class="legend">)";
  double y = kTop + 12;
  for (const auto& [label, colour] : entries) {
    if (label.empty()) continue;
    s += fmt(R"(<rect x="%.1f" y="%.1f" width="10" height="3" fill="%s"/><text x="%.1f" y="%.1f">)",
             kWidth - kRight - 230, y - 4, colour, kWidth - kRight - 216, y) +
         html::escape(label) + "</text>";
    y += 13;
  }
  return s + "</g>";
}

}  // namespace

std::string linePlot(const LinePlot& plot) {
  Frame f;
  for (const Series& s : plot.series) {
    for (double v : s.x) f.x.add(v);
    for (double v : s.y) f.y.add(v);
  }
  for (const Mark& m : plot.marks) {
    (m.vertical ? f.x : f.y).add(m.from);
    (m.vertical ? f.x : f.y).add(m.to);
  }
  f.x.settle();
  f.y.settle();
  std::string s = open(plot.title) + axes(f, plot.xLabel, plot.yLabel);
  std::vector<std::pair<std::string, const char*>> entries;
  for (const Mark& m : plot.marks) {
    if (!std::isfinite(m.from) || !std::isfinite(m.to)) continue;
    entries.emplace_back(m.label, m.colour);
    const double a = m.vertical ? f.px(m.from) : f.py(m.from), b = m.vertical ? f.px(m.to) : f.py(m.to);
    if (m.from != m.to) {
      s += m.vertical
               ? fmt(R"(<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s" opacity="0.18"/>)",
                     std::min(a, b), kTop, std::abs(b - a), kHeight - kTop - kBottom, m.colour)
               : fmt(R"(<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" fill="%s" opacity="0.18"/>)",
                     kLeft, std::min(a, b), kWidth - kLeft - kRight, std::abs(b - a), m.colour);
    } else {
      s += m.vertical ? fmt(R"(<line x1="%.1f" x2="%.1f" y1="%.1f" y2="%.1f" stroke="%s"%s/>)", a, a, kTop,
                            kHeight - kBottom, m.colour, m.dashed ? R"( stroke-dasharray="4 3")" : "")
                      : fmt(R"(<line x1="%.1f" x2="%.1f" y1="%.1f" y2="%.1f" stroke="%s"%s/>)", kLeft,
                            kWidth - kRight, a, a, m.colour, m.dashed ? R"( stroke-dasharray="4 3")" : "");
    }
  }
  for (const Series& line : plot.series) {
    entries.emplace_back(line.label, line.colour);
    const std::vector<std::size_t> keep = thinned(line, f);
    if (line.points) {
      for (std::size_t i : keep)
        if (std::isfinite(line.x[i]) && std::isfinite(line.y[i]))
          s += fmt(R"(<circle cx="%.1f" cy="%.1f" r="3" fill="%s"/>)", f.px(line.x[i]), f.py(line.y[i]),
                   line.colour);
      continue;
    }
    std::string d;
    bool pen = false;
    for (std::size_t k = 0; k < keep.size(); ++k) {
      const std::size_t i = keep[k];
      if (!std::isfinite(line.x[i]) || !std::isfinite(line.y[i])) {
        pen = false;
        continue;
      }
      d += fmt("%c%.1f %.1f", pen ? 'L' : 'M', f.px(line.x[i]), f.py(line.y[i]));
      pen = true;
      if (line.step && k + 1 < keep.size() && std::isfinite(line.x[keep[k + 1]]))
        d += fmt("H%.1f", f.px(line.x[keep[k + 1]]));
    }
    s += fmt(R"(<path d="%s" fill="none" stroke="%s" stroke-width="1.2"/>)", d.c_str(), line.colour);
  }
  return s + legend(entries) + "</svg>";
}

std::string histogram(const std::vector<double>& values, const std::string& title,
                      const std::string& xLabel) {
  Range r;
  for (double v : values) r.add(v);
  r.settle();
  // At least 10 bins, so that a few values stand apart rather than fill the frame.
  const std::size_t bins =
      std::clamp<std::size_t>(std::size_t(std::ceil(2 * std::sqrt(double(values.size())))), 10, 40);
  std::vector<std::size_t> counts(bins, 0);
  const double width = (r.hi - r.lo) / double(bins);
  for (double v : values) {
    if (!std::isfinite(v)) continue;
    const auto k = std::size_t(std::clamp((v - r.lo) / width, 0.0, double(bins - 1)));
    ++counts[k];
  }
  Frame f;
  f.x = r;
  f.y.add(0);
  f.y.add(double(*std::max_element(counts.begin(), counts.end())) * 1.1);
  f.y.settle();
  std::string s = open(title) + axes(f, xLabel, "rows");
  for (std::size_t k = 0; k < bins; ++k) {
    if (counts[k] == 0) continue;
    const double x0 = f.px(r.lo + width * double(k)), x1 = f.px(r.lo + width * double(k + 1));
    s += fmt(
        R"(<rect x="%.1f" y="%.1f" width="%.1f" height="%.1f" class="bar"><title>%s to %s: %zu</title></rect>)",
        x0 + 0.5, f.py(double(counts[k])), std::max(1.0, x1 - x0 - 1), f.py(0) - f.py(double(counts[k])),
        html::number(r.lo + width * double(k)).c_str(), html::number(r.lo + width * double(k + 1)).c_str(),
        counts[k]);
  }
  return s + "</svg>";
}

std::string stripPlot(const std::vector<int>& rows, const std::vector<double>& values,
                      const std::vector<std::string>& tips, const std::string& title,
                      const std::string& yLabel) {
  Frame f;
  for (int row : rows) f.x.add(row);
  for (double v : values) f.y.add(v);
  f.xStep = 1;
  f.x.lo -= 0.5, f.x.hi += 0.5;
  f.x.settle();
  f.y.settle();
  std::string s = open(title) + axes(f, "row", yLabel);
  for (std::size_t i = 0; i < rows.size() && i < values.size(); ++i) {
    if (!std::isfinite(values[i])) continue;
    s += fmt(R"(<circle cx="%.1f" cy="%.1f" r="3" class="dot">)", f.px(rows[i]), f.py(values[i]));
    if (i < tips.size()) s += "<title>" + html::escape(tips[i]) + "</title>";
    s += "</circle>";
  }
  return s + "</svg>";
}

}  // namespace audiomeas::host::svg
