// The quick-look page: one self-contained HTML file. Its content (tables,
// the hit map as an inline PNG, the charts as inline SVG) needs no script;
// a Content-Security-Policy forbids the page to fetch anything.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "format/ChunkTypes.h"
#include "format/MorvenFormat.h"
#include "format/Packet.h"
#include "report/HtmlParts.h"
#include "report/QuickLook.h"
#include "scan/PacketTally.h"

namespace morven {

namespace {

using namespace html;

constexpr int MAP_W = 448, MAP_H = 512;
constexpr double MAP_SCALE = 1.5;
constexpr int MAP_LEFT = 56, MAP_TOP = 30;
// Rows of the hot-pixel table; the CSV has all of them.
constexpr size_t HOT_ROWS = 200;
constexpr size_t HOT_MARKS = 500;

const char* const CSP =
    "default-src 'none'; img-src data:; style-src 'unsafe-inline'; "
    "script-src 'unsafe-inline'; base-uri 'none'; form-action 'none'";

std::string num(uint64_t v) {
  return std::to_string(v);
}

// The hit counts as the chip lies: [row][x], chip row 511 first.
std::vector<uint64_t> chipRows(const QuickLook& q) {
  std::vector<uint64_t> rows(size_t(MAP_W) * MAP_H, 0);
  for (uint64_t half : {uint64_t(0), PIXEL_INDEX_TOP_HALF}) {
    for (uint64_t i = half; i < half + N_PIXELS; ++i) {
      const PixelPlace p = pixelPlace(i);
      rows[size_t(MAP_H - 1 - p.y) * MAP_W + p.x] = q.hits[i];
    }
  }
  return rows;
}

void tableRow(std::ostream& out, const std::string& name, const std::string& id,
              const std::string& value) {
  out << "<tr><th>" << escape(name) << "</th><td class=\"n\" id=\"" << id << "\">" << value
      << "</td></tr>\n";
}

void runSection(std::ostream& out, const QuickLook& q, uint64_t most) {
  out << "<h2>The run</h2>\n<table id=\"files\"><tr><th>File</th><th class=\"n\">Size "
         "[bytes]</th><th class=\"n\">Packets</th><th class=\"n\">Data chunks</th>"
         "<th class=\"n\">Hits</th><th>Structural errors (offset: message)</th></tr>\n";
  for (size_t f = 0; f < q.files.size(); ++f) {
    const QuickLookFile& file = q.files[f];
    uint64_t hits = 0, chunks = 0;
    if (f < q.chunkHits.size()) {
      chunks = q.chunkHits[f].size();
      for (uint64_t n : q.chunkHits[f]) hits += n;
    }
    out << "<tr><td>" << escape(file.name) << (file.opened ? "" : " (not opened)")
        << "</td><td class=\"n\">" << file.size << "</td><td class=\"n\">" << file.packets
        << "</td><td class=\"n\">" << chunks << "</td><td class=\"n\">" << hits << "</td><td>";
    if (file.errors.empty()) out << "none";
    for (const QuickLookError& p : file.errors) {
      out << "<div>" << p.offset << ": " << escape(p.message) << "</div>";
    }
    out << "</td></tr>\n";
  }
  out << "</table>\n<div class=\"row\"><table id=\"summary\"><tr><th colspan=\"2\">Counts</th>"
         "</tr>\n";
  tableRow(out, "Packet words read", "sum-words", num(q.words));
  tableRow(out, "Hits (pixel packets)", "sum-hits", num(q.hitTotal));
  tableRow(out, "of those with ToA/ToT", "sum-toa-hits", num(q.toaHits));
  tableRow(out, "of those with a count (PC24)", "sum-pc-hits", num(q.pcHits));
  tableRow(out, "Left out: IDLE words", "sum-idle", num(q.idle));
  tableRow(out, "Left out: empty packets", "sum-empty", num(q.empty));
  tableRow(out, "Left out: frame-data words", "sum-frame", num(q.frameWords));
  tableRow(out, "Hits of the busiest pixel", "sum-most", num(most));
  tableRow(out, "Median hits of hit pixels", "sum-median", num(q.median));
  tableRow(out, "Run end", "sum-end", escape(q.runEnd));
  out << "</table>\n<table id=\"settings\"><tr><th colspan=\"2\">Settings</th></tr>\n";
  for (const auto& [name, value] : q.settings) {
    out << "<tr><th>" << escape(name) << "</th><td>" << escape(value) << "</td></tr>\n";
  }
  out << "</table>\n<table id=\"chunk-counts\"><tr><th>Chunk type</th><th class=\"n\">Chunks"
         "</th></tr>\n";
  for (const auto& [type, count] : q.chunkCounts) {
    out << "<tr><td>" << escape(chunkTypeName(type)) << "</td><td class=\"n\">" << count
        << "</td></tr>\n";
  }
  out << "</table></div>\n<p class=\"note\">Hits are the pixel packets of ToA/ToT, counting "
         "and other data chunks. Whole-word IDLE words and empty packets, and the words of "
         "frame-data chunks (8- and 16-bit frame values), are not hits: they are counted "
         "above and enter no map, spectrum or pixel list of this page. The text report and "
         "the picture of the run count every word.</p>\n";
}

// The colour bar beside the map: a gradient and the counts at its ticks.
void colourBar(std::ostream& out, uint64_t most, double x, double y, double h) {
  std::vector<uint8_t> column;
  for (int i = 255; i >= 1; --i) column.push_back(uint8_t(i));
  out << "<image x=\"" << x << "\" y=\"" << y << "\" width=\"16\" height=\"" << h
      << "\" preserveAspectRatio=\"none\" href=\"data:image/png;base64,"
      << base64(palettePng(column, 1, 255)) << "\"/><rect class=\"frame\" x=\"" << x << "\" y=\""
      << y << "\" width=\"16\" height=\"" << h << "\"/>";
  auto tick = [&](double f, const std::string& label) {
    const double ty = y + h - f * h;
    out << "<line class=\"tk\" x1=\"" << x + 16 << "\" x2=\"" << x + 21 << "\" y1=\"" << ty
        << "\" y2=\"" << ty << "\"/><text x=\"" << x + 24 << "\" y=\"" << ty + 4 << "\">" << label
        << "</text>";
  };
  out << "<g id=\"cbar-log\">";
  for (double v = 1; most > 1 && v <= double(most); v *= 10) {
    tick(std::log(v) / std::log(double(most)), tickLabel(v));
  }
  if (most == 1) tick(1, "1");
  out << "</g><g id=\"cbar-lin\" style=\"display:none\">";
  for (double v : niceTicks(0, double(std::max<uint64_t>(most, 1)), 5)) {
    tick(v / double(std::max<uint64_t>(most, 1)), tickLabel(v));
  }
  out << "</g><text class=\"yl\" transform=\"translate(" << x + 70 << "," << y + h / 2
      << ") rotate(90)\">hits per pixel</text>";
}

void mapMarks(std::ostream& out, const QuickLook& q) {
  const double S = MAP_SCALE;
  for (size_t i = 0; i < q.hot.size() && i < HOT_MARKS; ++i) {
    const HotPixel& p = q.hot[i];
    out << "<circle class=\"hot\" cx=\"" << MAP_LEFT + (p.x + 0.5) * S << "\" cy=\""
        << MAP_TOP + (MAP_H - p.y - 0.5) * S << "\" r=\"5\"><title>hot pixel x " << p.x << ", y "
        << p.y << ": " << p.count << " hits</title></circle>";
  }
  for (const DeadBlock& d : q.dead) {
    const uint64_t first = (d.top ? PIXEL_INDEX_TOP_HALF : 0) | d.eoc << 9;
    const PixelPlace a = pixelPlace(first), b = pixelPlace(first | 4);
    const int x = std::min(a.x, b.x), y = d.top ? 511 : 255;
    out << "<rect class=\"dead\" x=\"" << MAP_LEFT + x * S << "\" y=\""
        << MAP_TOP + (MAP_H - 1 - y) * S << "\" width=\"" << 2 * S << "\" height=\"" << 256 * S
        << "\"><title>EoC block " << d.eoc << " of the " << (d.top ? "top" : "bottom")
        << " half: no hits</title></rect>";
  }
}

void mapSection(std::ostream& out, const QuickLook& q, const std::vector<uint64_t>& rows,
                uint64_t most) {
  const double S = MAP_SCALE, w = MAP_W * S, h = MAP_H * S;
  std::vector<uint8_t> indexes(rows.size());
  for (size_t i = 0; i < rows.size(); ++i) indexes[i] = uint8_t(colourIndex(rows[i], most, true));
  out << "<h2>Hit map</h2>\n<p id=\"scale-choice\" hidden><label><input type=\"checkbox\" "
         "id=\"linear\"> linear colour scale (log by default)</label></p>\n";
  out << "<svg id=\"map\" width=\"" << MAP_LEFT + w + 120 << "\" height=\"" << MAP_TOP + h + 50
      << "\" role=\"img\"><title>Hit map</title><text class=\"ct\" id=\"map-title\" x=\""
      << MAP_LEFT + w / 2
      << "\" y=\"18\">Hits per pixel, log colour scale (x 0..447, y 0..511)</text>";
  out << "<image id=\"map-image\" x=\"" << MAP_LEFT << "\" y=\"" << MAP_TOP << "\" width=\"" << w
      << "\" height=\"" << h << "\" preserveAspectRatio=\"none\" href=\"data:image/png;base64,"
      << base64(palettePng(indexes, MAP_W, MAP_H)) << "\"/>";
  out << "<rect id=\"map-area\" class=\"frame\" x=\"" << MAP_LEFT << "\" y=\"" << MAP_TOP
      << "\" width=\"" << w << "\" height=\"" << h << "\"/>";
  const double mid = MAP_TOP + 256 * S;
  out << "<line class=\"half\" x1=\"" << MAP_LEFT << "\" x2=\"" << MAP_LEFT + w << "\" y1=\"" << mid
      << "\" y2=\"" << mid << "\"/><text class=\"hl\" x=\"" << MAP_LEFT + 4 << "\" y=\"" << mid - 6
      << "\">top half</text><text class=\"hl\" x=\"" << MAP_LEFT + 4 << "\" y=\"" << mid + 16
      << "\">bottom half</text>";
  for (double t : niceTicks(0, MAP_W, 8)) {
    const double x = MAP_LEFT + t * S;
    out << "<line class=\"tk\" x1=\"" << x << "\" x2=\"" << x << "\" y1=\"" << MAP_TOP + h
        << "\" y2=\"" << MAP_TOP + h + 5 << "\"/><text class=\"xt\" x=\"" << x << "\" y=\""
        << MAP_TOP + h + 17 << "\">" << tickLabel(t) << "</text>";
  }
  for (double t : niceTicks(0, MAP_H, 8)) {
    const double y = MAP_TOP + h - t * S;
    out << "<line class=\"tk\" x1=\"" << MAP_LEFT - 5 << "\" x2=\"" << MAP_LEFT << "\" y1=\"" << y
        << "\" y2=\"" << y << "\"/><text class=\"yt\" x=\"" << MAP_LEFT - 7 << "\" y=\"" << y + 4
        << "\">" << tickLabel(t) << "</text>";
  }
  out << "<text class=\"xl\" x=\"" << MAP_LEFT + w / 2 << "\" y=\"" << MAP_TOP + h + 36
      << "\">x (column)</text><text class=\"yl\" transform=\"translate(14," << MAP_TOP + h / 2
      << ") rotate(-90)\">y (row)</text>";
  mapMarks(out, q);
  colourBar(out, most, MAP_LEFT + w + 14, MAP_TOP, h);
  out << "</svg>\n<div id=\"readout\"></div>\n<p class=\"note\">Circles: hot pixels; dashed "
         "boxes: dead EoC blocks (see the tables below).</p>\n";
  std::string packed;
  packed.reserve(rows.size() * 4);
  for (uint64_t v : rows) {
    const uint32_t c = uint32_t(std::min<uint64_t>(v, UINT32_MAX));
    for (int b = 0; b < 32; b += 8) packed += char((c >> b) & 0xFF);
  }
  out << "<script type=\"text/plain\" id=\"hit-data\" data-most=\"" << most << "\">"
      << base64(packed) << "</script>\n<script type=\"application/json\" id=\"palette\">[";
  for (int i = 0; i < 256; ++i) {
    const auto c = paletteColour(i);
    out << (i ? "," : "") << '[' << int(c[0]) << ',' << int(c[1]) << ',' << int(c[2]) << ']';
  }
  out << "]</script>\n";
}

void projections(std::ostream& out, const std::vector<uint64_t>& rows) {
  std::vector<uint64_t> columns(MAP_W, 0), rowSums(MAP_H, 0);
  for (int r = 0; r < MAP_H; ++r) {
    for (int x = 0; x < MAP_W; ++x) {
      columns[size_t(x)] += rows[size_t(r) * MAP_W + size_t(x)];
      rowSums[size_t(MAP_H - 1 - r)] += rows[size_t(r) * MAP_W + size_t(x)];
    }
  }
  out << "<h2>Projections</h2>\n<div class=\"row\">";
  Chart c;
  c.id = "column-projection", c.title = "Hits per column", c.xLabel = "x (column)";
  c.yLabel = "hits";
  chartSvg(out, c, columns);
  c.id = "row-projection", c.title = "Hits per row", c.xLabel = "y (row)";
  chartSvg(out, c, rowSums);
  out << "</div>\n";
}

void hotAndDead(std::ostream& out, const QuickLook& q) {
  out << "<h2>Hot pixels and dead blocks</h2>\n<p class=\"note\">A pixel is hot when its hits "
         "are more than "
      << tickLabel(q.hotFactor)
      << " times the median hits of the 24 pixels around it (5 x 5, at least 1), the typical "
         "count near it (--hot-factor sets the factor): <span id=\"hot-count\">"
      << q.hot.size()
      << "</span> pixels. An EoC block (a double column of one half) is dead when it has no hit "
         "and its neighbours in that half have hits: <span id=\"dead-count\">"
      << q.dead.size() << "</span> blocks.</p>\n<div class=\"row\"><table id=\"hot-pixels\">"
      << "<tr><th class=\"n\">x</th><th class=\"n\">y</th><th class=\"n\">Pixel index</th>"
         "<th class=\"n\">EoC block</th><th>Half</th><th class=\"n\">Hits</th></tr>\n";
  for (size_t i = 0; i < q.hot.size() && i < HOT_ROWS; ++i) {
    const HotPixel& p = q.hot[i];
    out << "<tr><td class=\"n\">" << p.x << "</td><td class=\"n\">" << p.y
        << "</td><td class=\"n\">" << p.index << "</td><td class=\"n\">" << ((p.index >> 9) & 255)
        << "</td><td>" << (p.index >= PIXEL_INDEX_TOP_HALF ? "top" : "bottom")
        << "</td><td class=\"n\">" << p.count << "</td></tr>\n";
  }
  if (q.hot.size() > HOT_ROWS) {
    out << "<tr><td colspan=\"6\">... " << q.hot.size() - HOT_ROWS
        << " more in the CSV list (--hot-pixels)</td></tr>\n";
  }
  out << "</table>\n<table id=\"dead-blocks\"><tr><th>Half</th><th class=\"n\">EoC block</th>"
         "</tr>\n";
  for (const DeadBlock& d : q.dead) {
    out << "<tr><td>" << (d.top ? "top" : "bottom") << "</td><td class=\"n\">" << d.eoc
        << "</td></tr>\n";
  }
  out << "</table></div>\n";
}

void spectra(std::ostream& out, const QuickLook& q) {
  out << "<h2>Spectra</h2>\n<div class=\"row\">";
  Chart c;
  c.width = 900, c.height = 280, c.logY = true;
  c.id = "toa-spectrum", c.title = "ToA of the hits (all 65536 values)";
  c.xLabel = "ToA [clock ticks]", c.yLabel = "hits";
  chartSvg(out, c, q.toas);
  c.width = 620, c.height = 260;
  c.id = "tot-spectrum", c.title = "ToT of the hits", c.xLabel = "ToT [clock ticks]";
  chartSvg(out, c, q.tots);
  if (q.pcHits > 0) {
    c.id = "count-spectrum", c.title = "Counts of the counting (PC24) hits";
    c.xLabel = "count (bins of an eighth of an octave)";
    for (uint64_t b = 0; b < PC_COUNTERS; b += 16) c.xTicks.emplace_back(b, num(pcBinLow(b)));
    chartSvg(out, c, q.pcs);
  }
  out << "</div>\n";
}

void typesSection(std::ostream& out, const QuickLook& q) {
  std::vector<uint64_t> eocHits(VX7_EOC_MAX_COLS, 0);
  for (uint64_t half : {uint64_t(0), PIXEL_INDEX_TOP_HALF}) {
    for (uint64_t i = 0; i < N_PIXELS; ++i) eocHits[i >> 9] += q.hits[half + i];
  }
  out << "<h2>Packet types</h2>\n<div class=\"row\">";
  Chart c;
  c.id = "eoc-hits", c.title = "Hits per EoC block (both halves)", c.xLabel = "EoC block";
  c.yLabel = "hits";
  chartSvg(out, c, eocHits);
  uint64_t data = 0;
  for (size_t t = 0; t < VX7_EOC_MAX_COLS; ++t) data += q.types[t];
  uint64_t most = std::max<uint64_t>(data, 1);
  for (size_t t = VX7_EOC_MAX_COLS; t < q.types.size(); ++t) most = std::max(most, q.types[t]);
  out << "<table id=\"types\"><tr><th class=\"n\">Type</th><th>Name</th><th class=\"n\">Packets"
         "</th><th></th></tr>\n";
  auto row = [&](const std::string& type, const std::string& name, uint64_t count) {
    out << "<tr><td class=\"n\">" << type << "</td><td>" << escape(name) << "</td><td class=\"n\">"
        << count << "</td><td><span class=\"bar\" style=\"width:"
        << std::max(1.0, 200.0 * double(count) / double(most)) << "px\"></span></td></tr>\n";
  };
  row("0..223", "data (EoC blocks)", data);
  for (size_t t = VX7_EOC_MAX_COLS; t < q.types.size(); ++t) {
    if (q.types[t] > 0) row(num(t), packetTypeName(t), q.types[t]);
  }
  out << "</table></div>\n<p class=\"note\">The type table counts every packet word read, as "
         "the text report does (IDLE words as data of EoC block 0).</p>\n";
}

void rateSection(std::ostream& out, const QuickLook& q) {
  std::vector<uint64_t> all;
  Chart c;
  c.id = "rate", c.title = "Hits per data chunk, in file order";
  c.xLabel = "data chunk", c.yLabel = "hits", c.mean = true, c.width = 900;
  for (size_t f = 0; f < q.chunkHits.size(); ++f) {
    if (q.chunkHits.size() > 1) c.marks.emplace_back(double(all.size()), "file " + num(f + 1));
    all.insert(all.end(), q.chunkHits[f].begin(), q.chunkHits[f].end());
  }
  out << "<h2>Rate over the run</h2>\n";
  chartSvg(out, c, all);
  out << "<p class=\"note\">Where more chunks than screen pixels, a bar is the mean of its "
         "chunks. The files table gives the hits per file.</p>\n";
}

}  // namespace

void writeHtmlPage(const QuickLook& q, std::ostream& out) {
  const std::vector<uint64_t> rows = chipRows(q);
  uint64_t most = 0;
  for (uint64_t v : rows) most = std::max(most, v);
  out << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
      << "<meta http-equiv=\"Content-Security-Policy\" content=\"" << CSP << "\">\n";
  if (q.refreshSeconds > 0) {
    out << "<meta http-equiv=\"refresh\" content=\"" << q.refreshSeconds << "\">\n";
  }
  out << "<title>mvscan quick look</title>\n<style>" << STYLE << "</style></head>\n<body>\n"
      << "<div id=\"script-errors\" hidden></div>\n<script>window.onerror = function (m, s, l) "
         "{ var d = document.getElementById('script-errors'); d.hidden = false; d.textContent "
         "+= 'Script error: ' + m + ' (line ' + l + ')\\n'; };</script>\n"
      << "<h1>mvscan quick look</h1>\n<p class=\"note\">" << q.files.size() << " file"
      << (q.files.size() == 1 ? "" : "s") << ", " << q.hitTotal << " hits.</p>\n";
  runSection(out, q, most);
  mapSection(out, q, rows, most);
  projections(out, rows);
  hotAndDead(out, q);
  spectra(out, q);
  typesSection(out, q);
  rateSection(out, q);
  out << "<script>" << SCRIPT << "</script>\n</body></html>\n";
}

}  // namespace morven
