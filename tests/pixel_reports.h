// Expected texts of the packet-level reports, written out independently of
// the inspector: the names of the control type codes and the EoC list.
#ifndef MVSCAN_TESTS_PIXEL_REPORTS_H
#define MVSCAN_TESTS_PIXEL_REPORTS_H

#include <cstdint>
#include <map>
#include <string>

namespace testing_files {

inline const std::map<uint64_t, std::string>& controlTypeNames() {
  static const std::map<uint64_t, std::string> names = {
      {224, "HEARTBEAT"},      {225, "SHUTTER_RISE"}, {226, "SHUTTER_FALL"},
      {227, "T0_SYNC"},        {228, "SIGNAL_RISE"},  {229, "SIGNAL_FALL"},
      {234, "CTRL_DATA_TEST"}, {240, "FRAME_START"},  {241, "FRAME_END"},
      {242, "SEGMENT_START"},  {243, "SEGMENT_END"},  {255, "MORVEN_EMPTY_PACKET"}};
  return names;
}

// The EoC list with all 256 rows, for the given non-zero counts.
inline std::string allEocRows(const std::map<uint64_t, uint64_t>& counts) {
  std::string s = "=> EoC counters:\n";
  for (uint64_t i = 0; i < 256; ++i) {
    const uint64_t count = counts.count(i) != 0 ? counts.at(i) : 0;
    std::string number = std::to_string(i);
    s += std::string(3 - number.size(), ' ') + number + "  " + std::to_string(count);
    if (controlTypeNames().count(i) != 0) {
      s += "  (" + controlTypeNames().at(i) + ")";
    } else if (i > 223 && count != 0) {
      s += "  (\?\?\?)";
    }
    s += "\n";
  }
  return s;
}

}  // namespace testing_files

#endif  // MVSCAN_TESTS_PIXEL_REPORTS_H
