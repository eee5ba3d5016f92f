// The packet display: one line per shown packet.
#include "DataInspector.h"

namespace morven {

void DataInspector::displayPixel(uint64_t index, bool showCounter, bool showRaw, bool showFields,
                                 bool testGen, bool skipZeroPackets) {
  (void)index, (void)showCounter, (void)showRaw, (void)showFields, (void)testGen,
      (void)skipZeroPackets;
}

}  // namespace morven
