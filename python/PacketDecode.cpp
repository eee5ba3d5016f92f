// morven.decode: packet words to a numpy structured array, one record per
// word, every field taken by the library's packet decoder (Packet.h).
#include <string>
#include <vector>

#include "Module.h"
#include "Packet.h"

namespace morven::python {

namespace {

// The records' members are named as the data format names the fields: the
// numpy field names are taken from them.
struct ToaTotRecord {
  bool top;
  uint8_t type;
  uint8_t eoc;
  uint16_t pixel;
  uint16_t x;
  uint16_t y;
  uint16_t toa;
  uint8_t uftoa_stop;
  uint8_t uftoa_start;
  uint8_t ftoa_rise;
  uint8_t ftoa_fall;
  uint16_t tot;
  bool pileup;
  uint64_t timer;
};

struct Pc24Record {
  bool top;
  uint8_t type;
  uint8_t eoc;
  uint16_t pixel;
  uint16_t x;
  uint16_t y;
  uint32_t pc;
  uint64_t timer;
};

// The fields every packet has, and a control packet's timer value; the
// fields that do not apply to a packet stay 0.
template <typename Record>
void decodeCommon(const PacketFields& f, Record& r) {
  r.top = f.top;
  r.type = f.type;
  if (f.type <= VX7_EOC_MAX_COLNR) {
    r.eoc = f.type;
    r.pixel = f.pixel;
    r.x = f.x;
    r.y = f.y;
  } else {
    r.timer = f.timer;
  }
}

void decodeRecord(uint64_t w, ToaTotRecord& r) {
  const PacketFields f = decodePacket(w);
  r = ToaTotRecord{};
  decodeCommon(f, r);
  if (f.type > VX7_EOC_MAX_COLNR) return;
  r.toa = f.toa;
  r.uftoa_stop = f.uftoaStop;
  r.uftoa_start = f.uftoaStart;
  r.ftoa_rise = f.ftoaRise;
  r.ftoa_fall = f.ftoaFall;
  r.tot = f.tot;
  r.pileup = f.pileup;
}

void decodeRecord(uint64_t w, Pc24Record& r) {
  const PacketFields f = decodePacket(w);
  r = Pc24Record{};
  decodeCommon(f, r);
  if (f.type <= VX7_EOC_MAX_COLNR) r.pc = f.pc;
}

using Words = py::array_t<uint64_t, py::array::c_style | py::array::forcecast>;

template <typename Record>
py::array decodeAll(const Words& words) {
  std::vector<py::ssize_t> shape(words.shape(), words.shape() + words.ndim());
  py::array_t<Record> records(shape);
  const uint64_t* in = words.data();
  Record* out = records.mutable_data();
  const py::ssize_t n = words.size();
  {
    py::gil_scoped_release release;
    for (py::ssize_t i = 0; i < n; ++i) decodeRecord(in[i], out[i]);
  }
  return records;
}

const char* const DECODE_DOC =
    R"(Decodes packet words into a numpy structured array, one record per word.

words   packet words (a numpy.uint64 array from File.packets, or anything
        numpy turns into one); the result has the same shape
layout  "toatot" for ToA/ToT runs, "pc24" for counting runs

Fields of every record:
  top          True for a packet of the top chip half (bit 63)
  type         the type byte (bits 62..55): an EoC block 0..223 for a data
               packet, a control code 224..255
  eoc          the EoC block of a data packet
  pixel        the pixel number within the EoC block (bits 54..46)
  x, y         the pixel's place on the chip, 448 columns by 512 rows; the
               top half (rows 256..511) mirrored in both directions, as in
               mvscan's display and picture
  timer        a control packet's timer value (bits 54..0)
"toatot" adds toa, uftoa_stop, uftoa_start, ftoa_rise, ftoa_fall, tot and
pileup; "pc24" adds pc, the 24-bit count.

Fields that do not apply to a packet are 0: for a control packet everything
but top, type and timer; for a data packet the timer. Select the hits with
records["type"] < 224.)";

}  // namespace

void addPacketDecode(py::module_& m) {
  PYBIND11_NUMPY_DTYPE(ToaTotRecord, top, type, eoc, pixel, x, y, toa, uftoa_stop, uftoa_start,
                       ftoa_rise, ftoa_fall, tot, pileup, timer);
  PYBIND11_NUMPY_DTYPE(Pc24Record, top, type, eoc, pixel, x, y, pc, timer);
  m.def(
      "decode",
      [](const Words& words, const std::string& layout) -> py::array {
        if (layout == "toatot") return decodeAll<ToaTotRecord>(words);
        if (layout == "pc24") return decodeAll<Pc24Record>(words);
        throw py::value_error("layout must be \"toatot\" or \"pc24\", not \"" + layout + "\"");
      },
      py::arg("words"), py::arg("layout") = "toatot", DECODE_DOC);
}

}  // namespace morven::python
