// The pieces the quick-look page is made of: the page's fixed style and
// script, the colour map, the hit map as an inline PNG, SVG charts with
// axes. Used by HtmlReport.cpp only.
#ifndef MORVEN_HTMLPARTS_H
#define MORVEN_HTMLPARTS_H

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace morven::html {

// The page's style sheet and its script (hover read-out of the map, the
// log/linear toggle, script errors written into the page).
extern const char* const STYLE;
extern const char* const SCRIPT;

// The colour of palette index i: 0 for pixels without hits (light grey),
// 1..255 the viridis colour map from low to high.
std::array<uint8_t, 3> paletteColour(int i);
// The palette index of a count on the map whose highest count is most.
int colourIndex(uint64_t count, uint64_t most, bool logScale);

// Text made safe for HTML element content and attribute values.
std::string escape(const std::string& text);
std::string base64(const std::string& bytes);
// An 8-bit palette PNG of width x height palette indexes (row by row, top
// row first), its deflate stream in stored blocks: no compression library.
std::string palettePng(const std::vector<uint8_t>& indexes, uint32_t width, uint32_t height);

// An SVG chart of counts per bin: bin i covers [x0 + i * width, x0 + (i+1) *
// width). Bins narrower than a screen pixel are drawn by their highest
// count (or their mean, for a rate), so every bin is seen.
struct Chart {
  std::string id, title, xLabel, yLabel;
  double x0 = 0, binWidth = 1;
  bool logY = false;
  bool mean = false;
  int width = 620, height = 260;
  // Tick values and labels of the x axis; empty: chosen from the range.
  std::vector<std::pair<double, std::string>> xTicks;
  // Dashed vertical lines with a label (file boundaries).
  std::vector<std::pair<double, std::string>> marks;
};
void chartSvg(std::ostream& out, const Chart& c, const std::vector<uint64_t>& counts);

// Round tick values in [lo, hi], about n of them.
std::vector<double> niceTicks(double lo, double hi, int n);
std::string tickLabel(double v);

}  // namespace morven::html

#endif  // MORVEN_HTMLPARTS_H
