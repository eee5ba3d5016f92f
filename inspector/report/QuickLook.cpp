#include "report/QuickLook.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <exception>
#include <fstream>
#include <functional>

#include "format/MorvenFormat.h"
#include "format/Packet.h"
#include "scan/PacketTally.h"

namespace morven {

namespace {

// The words that are not hits taken out of the tallies. An IDLE word is
// the pixel word of EoC block 0, pixel 0, with ToA 0, ToT 15 and count 30.
void takeOutNonHits(const DataInspector& inspector, QuickLook& q) {
  const HitTotals& h = *inspector.tallies().hits;
  const uint64_t* pixels = inspector.tallies().pixels.get();
  q.hits.assign(pixels, pixels + VX7_PIXEL_INDEXES);
  for (size_t i = 0; i < q.hits.size(); ++i) {
    q.hits[i] -= std::min(q.hits[i], h.framePixel(i));
    q.frameWords += h.framePixel(i);
  }
  for (uint64_t n : h.idle) q.idle += n;
  const uint64_t idleWord = packetPixelIndex(IDLE_WORD);
  q.hits[idleWord] -= std::min(q.hits[idleWord], q.idle);
  const uint64_t* toas = inspector.tallies().toas.get();
  q.toas.assign(toas, toas + VX7_TOA_VALUES);
  q.tots = h.tots;
  q.pcs = h.pcs;
  const uint64_t idleToa = h.idle[size_t(ChunkKind::ToaTot)];
  const uint64_t idlePc = h.idle[size_t(ChunkKind::Pc24)];
  uint64_t& toaZero = q.toas[packetToa(IDLE_WORD)];
  toaZero -= std::min(toaZero, idleToa);
  uint64_t& totIdle = q.tots[packetTot(IDLE_WORD)];
  totIdle -= std::min(totIdle, idleToa);
  uint64_t& pcIdle = q.pcs[pcBin(packetPc(IDLE_WORD))];
  pcIdle -= std::min(pcIdle, idlePc);
  q.empty = h.empty;
}

// The median of the hit pixels' counts (0 without hits).
uint64_t medianOfHitPixels(const QuickLook& q) {
  std::vector<uint64_t> counts;
  for (uint64_t half : {uint64_t(0), PIXEL_INDEX_TOP_HALF}) {
    for (uint64_t i = half; i < half + N_PIXELS; ++i) {
      if (q.hits[i] > 0) counts.push_back(q.hits[i]);
    }
  }
  if (counts.empty()) return 0;
  std::nth_element(counts.begin(), counts.begin() + counts.size() / 2, counts.end());
  return counts[counts.size() / 2];
}

// A pixel is hot when its count is above factor times the typical count
// around it: the median of the 24 others of its 5 x 5 neighbourhood (those
// on the chip), and at least 1. Measured against its neighbours, not the
// whole chip, a pixel in the middle of a beam spot is not hot for being in
// the beam, and one that outshines its neighbours is, wherever it lies.
void findHotPixels(QuickLook& q) {
  q.median = medianOfHitPixels(q);
  // The counts as the chip lies, [y][x], with a border of two empty rows
  // and columns: a neighbourhood is then 25 plain loads.
  constexpr int W = 448 + 4, H = 512 + 4;
  std::vector<uint64_t> grid(size_t(W) * H, 0);
  std::vector<uint8_t> onChip(size_t(W) * H, 0);
  for (uint64_t half : {uint64_t(0), PIXEL_INDEX_TOP_HALF}) {
    for (uint64_t i = half; i < half + N_PIXELS; ++i) {
      const PixelPlace p = pixelPlace(i);
      grid[size_t(p.y + 2) * W + p.x + 2] = q.hits[i];
      onChip[size_t(p.y + 2) * W + p.x + 2] = 1;
    }
  }
  std::array<uint64_t, 24> near{};
  for (uint64_t half : {uint64_t(0), PIXEL_INDEX_TOP_HALF}) {
    for (uint64_t i = half; i < half + N_PIXELS; ++i) {
      const uint64_t count = q.hits[i];
      if (double(count) <= q.hotFactor) continue;
      const PixelPlace p = pixelPlace(i);
      size_t n = 0;
      for (int dy = -2; dy <= 2; ++dy) {
        for (int dx = -2; dx <= 2; ++dx) {
          const size_t at = size_t(p.y + 2 + dy) * W + size_t(p.x + 2 + dx);
          if ((dx != 0 || dy != 0) && onChip[at]) near[n++] = grid[at];
        }
      }
      // The median (the (n/2)-th smallest, from 0) is at least the smallest
      // of any n - n/2 of the counts: most pixels are judged by that alone.
      const uint64_t floor = *std::min_element(near.begin(), near.begin() + (n - n / 2));
      if (double(count) <= q.hotFactor * double(std::max<uint64_t>(floor, 1))) continue;
      std::nth_element(near.begin(), near.begin() + n / 2, near.begin() + n);
      const double typical = double(std::max<uint64_t>(near[n / 2], 1));
      if (double(count) > q.hotFactor * typical) q.hot.push_back(HotPixel{i, p.x, p.y, count});
    }
  }
  std::sort(q.hot.begin(), q.hot.end(), [](const HotPixel& a, const HotPixel& b) {
    return a.count != b.count ? a.count > b.count : a.index < b.index;
  });
}

void findDeadBlocks(QuickLook& q) {
  for (uint64_t half = 0; half < 2; ++half) {
    std::vector<uint64_t> blockHits(VX7_EOC_MAX_COLS, 0);
    for (uint64_t eoc = 0; eoc < VX7_EOC_MAX_COLS; ++eoc) {
      const uint64_t* p = q.hits.data() + half * PIXEL_INDEX_TOP_HALF + (eoc << 9);
      for (size_t i = 0; i < 512; ++i) blockHits[eoc] += p[i];
    }
    for (uint64_t eoc = 0; eoc < VX7_EOC_MAX_COLS; ++eoc) {
      if (blockHits[eoc] != 0) continue;
      const bool left = eoc == 0 || blockHits[eoc - 1] > 0;
      const bool right = eoc + 1 == VX7_EOC_MAX_COLS || blockHits[eoc + 1] > 0;
      if (left && right) q.dead.push_back(DeadBlock{half == 1, eoc});
    }
  }
}

// Writes a file through write; false with the reason if it failed.
bool writeFile(const std::string& path, std::string& error,
               const std::function<void(std::ostream&)>& write) {
  try {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = std::strerror(errno);
      return false;
    }
    write(out);
    out.close();
    if (!out) {
      error = "write failed";
      return false;
    }
  } catch (const std::exception& e) {
    error = e.what();
    return false;
  }
  return true;
}

}  // namespace

QuickLook quickLookOf(const DataInspector& inspector, double hotFactor) {
  QuickLook q;
  q.hotFactor = hotFactor;
  q.words = inspector.stream().delivered();
  q.types = inspector.tallies().types;
  q.chunkCounts = inspector.walker().chunkTypeCounters();
  if (!inspector.tallies().hits) return q;
  takeOutNonHits(inspector, q);
  for (uint64_t n : q.hits) q.hitTotal += n;
  for (uint64_t n : q.toas) q.toaHits += n;
  for (uint64_t n : q.pcs) q.pcHits += n;
  const HitTotals& h = *inspector.tallies().hits;
  size_t next = 0;
  for (uint64_t chunks : h.fileChunks) {
    std::vector<uint64_t> file;
    for (uint64_t c = 0; c < chunks && next < h.chunkHits.size(); ++c) {
      file.push_back(h.chunkHits[next++]);
    }
    q.chunkHits.push_back(std::move(file));
  }
  findHotPixels(q);
  findDeadBlocks(q);
  return q;
}

bool writeHotPixels(const QuickLook& q, const std::string& path, std::string& error) {
  return writeFile(path, error, [&](std::ostream& out) {
    out << "x,y,index,count\n";
    for (const HotPixel& p : q.hot) {
      out << p.x << ',' << p.y << ',' << p.index << ',' << p.count << '\n';
    }
  });
}

bool writeHtmlReport(const QuickLook& q, const std::string& path, std::string& error) {
  return writeFile(path, error, [&](std::ostream& out) { writeHtmlPage(q, out); });
}

}  // namespace morven
