// SVG charts of the quick-look page: a frame with axes, ticks and labels,
// and the counts drawn as one path of vertical bars, one per screen pixel
// column.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "report/HtmlParts.h"

namespace morven::html {

namespace {

constexpr int LEFT = 70, RIGHT = 14, TOP = 28, BOTTOM = 44;

std::string fixed(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", v);
  return text;
}

// What each pixel column of the plot shows: the highest count, or the mean,
// of the bins that fall into it; -1 for a column no bin reaches.
std::vector<double> columnValues(const Chart& c, const std::vector<uint64_t>& counts, int plotW,
                                 double xLo, double xHi) {
  std::vector<double> value(size_t(plotW), -1), sum(size_t(plotW), 0), bins(size_t(plotW), 0);
  const double scale = plotW / (xHi - xLo);
  for (size_t i = 0; i < counts.size(); ++i) {
    const double a = (c.x0 + double(i) * c.binWidth - xLo) * scale;
    const double b = (c.x0 + double(i + 1) * c.binWidth - xLo) * scale;
    const int first = std::clamp(int(std::floor(a)), 0, plotW - 1);
    const int last = std::clamp(std::max(first, int(std::ceil(b)) - 1), 0, plotW - 1);
    for (int col = first; col <= last; ++col) {
      value[size_t(col)] = std::max(value[size_t(col)], double(counts[i]));
      sum[size_t(col)] += double(counts[i]);
      bins[size_t(col)] += 1;
    }
  }
  if (c.mean) {
    for (size_t col = 0; col < value.size(); ++col) {
      if (bins[col] > 0) value[col] = sum[col] / bins[col];
    }
  }
  return value;
}

}  // namespace

void chartSvg(std::ostream& out, const Chart& c, const std::vector<uint64_t>& counts) {
  const int plotW = c.width - LEFT - RIGHT, plotH = c.height - TOP - BOTTOM;
  const double xLo = c.x0, xHi = c.x0 + std::max<double>(double(counts.size()), 1) * c.binWidth;
  const std::vector<double> value = columnValues(c, counts, plotW, xLo, xHi);
  double most = 0;
  for (double v : value) most = std::max(most, v);
  // The y axis: decades from 0.5 for a log scale, round numbers from 0.
  const double yLo = c.logY ? std::log10(0.5) : 0.0;
  double yHi = c.logY ? std::ceil(std::log10(std::max(most, 1.0)) + 1e-9) : most;
  if (!c.logY) yHi = niceTicks(0, std::max(most, 1.0), 5).back();
  if (!c.logY && yHi < most) yHi = most;
  auto yOf = [&](double v) {
    const double t = c.logY ? std::log10(std::max(v, 0.5)) : v;
    return TOP + plotH - (t - yLo) / (yHi - yLo) * plotH;
  };
  auto xOf = [&](double x) { return LEFT + (x - xLo) / (xHi - xLo) * plotW; };

  out << "<svg class=\"chart\" id=\"" << c.id << "\" viewBox=\"0 0 " << c.width << ' ' << c.height
      << "\" width=\"" << c.width << "\" height=\"" << c.height << "\" role=\"img\">";
  out << "<title>" << escape(c.title) << "</title>";
  out << "<text class=\"ct\" x=\"" << LEFT + plotW / 2 << "\" y=\"16\">" << escape(c.title)
      << "</text>";
  // Ticks and grid.
  if (c.logY) {
    for (int d = 0; d <= int(yHi); ++d) {
      const double y = yOf(std::pow(10.0, d));
      out << "<line class=\"g\" x1=\"" << LEFT << "\" x2=\"" << LEFT + plotW << "\" y1=\""
          << fixed(y) << "\" y2=\"" << fixed(y) << "\"/><text class=\"yt\" x=\"" << LEFT - 4
          << "\" y=\"" << fixed(y + 4) << "\">" << tickLabel(std::pow(10.0, d)) << "</text>";
    }
  } else {
    for (double t : niceTicks(0, yHi, 5)) {
      const double y = yOf(t);
      out << "<line class=\"g\" x1=\"" << LEFT << "\" x2=\"" << LEFT + plotW << "\" y1=\""
          << fixed(y) << "\" y2=\"" << fixed(y) << "\"/><text class=\"yt\" x=\"" << LEFT - 4
          << "\" y=\"" << fixed(y + 4) << "\">" << tickLabel(t) << "</text>";
    }
  }
  std::vector<std::pair<double, std::string>> xTicks = c.xTicks;
  if (xTicks.empty()) {
    for (double t : niceTicks(xLo, xHi, 8)) xTicks.emplace_back(t, tickLabel(t));
  }
  for (const auto& [t, label] : xTicks) {
    const double x = xOf(t);
    out << "<line class=\"tk\" x1=\"" << fixed(x) << "\" x2=\"" << fixed(x) << "\" y1=\""
        << TOP + plotH << "\" y2=\"" << TOP + plotH + 5 << "\"/><text class=\"xt\" x=\"" << fixed(x)
        << "\" y=\"" << TOP + plotH + 17 << "\">" << escape(label) << "</text>";
  }
  // The counts.
  out << "<path class=\"bars\" d=\"";
  const double base = TOP + plotH;
  for (int col = 0; col < plotW; ++col) {
    if (value[size_t(col)] <= 0) continue;
    const double y = std::min(yOf(value[size_t(col)]), base - 0.5);
    out << 'M' << LEFT + col << ".5 " << base << 'V' << fixed(y);
  }
  out << "\"/>";
  for (const auto& [x, label] : c.marks) {
    out << "<line class=\"mk\" x1=\"" << fixed(xOf(x)) << "\" x2=\"" << fixed(xOf(x)) << "\" y1=\""
        << TOP << "\" y2=\"" << base << "\"/><text class=\"ml\" x=\"" << fixed(xOf(x) + 3)
        << "\" y=\"" << TOP + 10 << "\">" << escape(label) << "</text>";
  }
  out << "<rect class=\"frame\" x=\"" << LEFT << "\" y=\"" << TOP << "\" width=\"" << plotW
      << "\" height=\"" << plotH << "\"/>";
  out << "<text class=\"xl\" x=\"" << LEFT + plotW / 2 << "\" y=\"" << c.height - 6 << "\">"
      << escape(c.xLabel) << "</text>";
  out << "<text class=\"yl\" transform=\"translate(14," << TOP + plotH / 2 << ") rotate(-90)\">"
      << escape(c.yLabel) << (c.logY ? " (log)" : "") << "</text>";
  out << "</svg>\n";
}

}  // namespace morven::html
