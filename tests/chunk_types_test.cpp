// Classification and naming of chunk-header words, straight from the table:
// no file needed.
#include <gtest/gtest.h>

#include "format/ChunkTypes.h"
#include "scan/DataInspector.h"

using namespace morven;

namespace {

uint64_t field(uint64_t typeField) {
  return typeField << 48;
}

TEST(ChunkTypes, TableNamesMatchAndAcceptance) {
  for (const ChunkTypeEntry& e : CHUNK_TYPES) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(chunkTypeName(e.type), e.name);
    ChunkClass c = classifyHeader(e.type | 5);
    EXPECT_EQ(c.accepted, e.accepted);
    EXPECT_EQ(c.bytes, 40u);
  }
}

struct Classified {
  uint64_t typeField;
  bool accepted;
  uint64_t type;        // after the ToA/ToT merge
  uint64_t counterKey;  // key of the chunk counters
  const char* name;     // name of the header word's own type
};

TEST(ChunkTypes, ClassifyAndName) {
  const Classified cases[] = {
      {0x0000, true, 0x0002, 0x0002, "MVHDR_VX7TOATOT_TOP"},
      {0x0001, true, 0x0002, 0x0002, "MVHDR_VX7TOATOT_BOTTOM"},
      {0x0002, true, 0x0002, 0x0002, "MVHDR_VX7TOATOT"},
      {0x0012, true, 0x0012, 0x0012, "MVHDR_VX7PC24"},
      {0x0010, false, 0x0010, 0x0010, "???"},
      {0x0011, false, 0x0011, 0x0011, "???"},
      {0x0020, false, 0x0020, 0x0020, "???"},
      {0x0031, false, 0x0031, 0x0031, "???"},
      {0x03FF, false, 0x03FF, 0x03FF, "MVHDR_DATA"},
      {0x1000, true, 0x1000, 0x1000, "MVHDR_VX7PIXCFG"},
      {0x1002, false, 0x1002, 0x1002, "???"},
      {0x1403, true, 0x1403, 0x1403, "MVHDR_RUNINFO"},
      {0x1404, false, 0x1404, 0x1404, "???"},
      {0x2000, false, 0x2000, 0x2000, "???"},
      {0x7000, true, 0x7000, 0x7000, "USERHDR"},
      {0x7001, true, 0x7001, 0x7000, "USERHDR_BIN_Content1"},
      {0x7403, true, 0x7403, 0x7000, "USERHDR_JSON_Content3"},
      {0x7800, true, 0x7800, 0x7000, "USERHDR_<reserved>_Content0"},
      {0x7C05, true, 0x7C05, 0x7000, "USERHDR_<USER-encoded>_Content5"},
      {0x7FFF, true, 0x7FFF, 0x7000, "USERHDR_<USER-encoded>_Content1023"},
      {0x8000, false, 0x8000, 0x8000, "???"},
      {0xFFFF, false, 0xFFFF, 0xFFFF, "???"},
  };
  for (const Classified& tc : cases) {
    SCOPED_TRACE(tc.name);
    // Stream id bits and the size never change the class.
    for (uint64_t low : {0x0ULL, 0xFFFF00000003ULL}) {
      ChunkClass c = classifyHeader(field(tc.typeField) | low);
      EXPECT_EQ(c.accepted, tc.accepted);
      EXPECT_EQ(c.type, field(tc.type));
      EXPECT_EQ(c.counterKey, field(tc.counterKey));
      EXPECT_EQ(c.bytes, (low & 0xFFFFFFFF) * 8);
    }
    EXPECT_EQ(chunkTypeName(field(tc.typeField) | 0x123456789AULL), tc.name);
  }
}

TEST(ChunkTypes, LargestSizeField) {
  EXPECT_EQ(classifyHeader(field(0x0012) | 0xFFFFFFFFULL).bytes, 34359738360ULL);
}

// The predicates of the current chunk, after classifying one word each.
TEST(ChunkTypes, Predicates) {
  struct Case {
    uint64_t typeField;
    bool data, json, config, pixConfig;
  };
  const Case cases[] = {
      {0x0002, true, false, false, false},  {0x03FF, true, false, false, false},
      {0x1000, false, false, false, true},  {0x1001, false, false, true, false},
      {0x1401, false, true, false, false},  {0x7402, false, true, false, false},
      {0x7002, false, false, false, false}, {0xFFFF, false, false, false, false},
  };
  std::ostringstream out;
  DataInspector insp(false);
  for (const Case& tc : cases) {
    SCOPED_TRACE(tc.typeField);
    insp.walker().isValidHeader(field(tc.typeField));
    EXPECT_EQ(insp.walker().chunkIsData(), tc.data);
    EXPECT_EQ(insp.walker().chunkIsJson(), tc.json);
    EXPECT_EQ(insp.walker().chunkIsVx7Config(), tc.config);
    EXPECT_EQ(insp.walker().chunkIsVx7PixConfig(), tc.pixConfig);
  }
  EXPECT_EQ(out.str(), "");
}

}  // namespace
