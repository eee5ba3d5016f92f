// Reports over the tallies of the statistics scan: the counts per type
// byte and the ToA histogram.
#include "report/TallyReports.h"

#include <algorithm>
#include <numeric>
#include <vector>

#include "format/Packet.h"
#include "text/Format.h"

namespace morven {

void logEocCounters(const RunTallies& tallies, std::ostream& out, bool all) {
  out << "=> EoC counters:" << std::endl;
  bool any = false;
  for (uint64_t i = 0; i < 256; ++i) {
    const uint64_t count = tallies.types[i];
    if (!all && count == 0) continue;
    any = true;
    out << decString(i, 3) << "  " << decString(count);
    const char* name = i >= VX7_EOC_MAX_COLS ? controlTypeName(i) : nullptr;
    if (name != nullptr) {
      out << "  (" << name << ")";
    } else if (i >= VX7_EOC_MAX_COLS && count != 0) {
      out << "  (?\?\?)";
    }
    out << std::endl;
  }
  if (!any) out << "<none>" << std::endl;
}

void toaHistogram(const RunTallies& tallies, std::ostream& out, int bins) {
  const uint64_t nbins = uint64_t(bins < 1 ? 1 : bins);
  const uint64_t width = (nbins + 65535) / nbins;
  // Each bin sums a run of neighbouring counters, without a division per
  // counter: all 65536 are summed for every histogram printed.
  std::vector<uint64_t> counts(nbins, 0);
  const uint64_t* toa = tallies.toas.get();
  for (uint64_t j = 0, v = 0; v < VX7_TOA_VALUES; ++j, v += width) {
    counts[j] =
        std::accumulate(toa + v, toa + std::min<uint64_t>(v + width, VX7_TOA_VALUES), uint64_t(0));
  }
  out << "  ToA     Bin Count" << std::endl;
  out << "-------   ---------" << std::endl;
  for (uint64_t j = 0; j < nbins; ++j) {
    out << decString(j * width, 6) << "     " << decString(counts[j], 6) << std::endl;
  }
  out << decString(nbins * width, 6) << std::endl;
  out << std::endl;
}

}  // namespace morven
