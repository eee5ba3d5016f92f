// morven.decode: packet words to a numpy structured array, one record per
// word, every field taken by the library's packet decoder (Packet.h).
#include <algorithm>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "Module.h"
#include "format/Packet.h"
#include "io/Cores.h"

namespace morven::python {

namespace {

// The records' members are named as the data format names the fields: the
// numpy field names are taken from them. The records are packed (26 and 21
// bytes rather than 32 and 24): the decode of a whole run writes gigabytes
// of them, and fresh memory costs its time to the system that hands it out
// (zeroed pages) as much as to the decode. numpy reads fields at any offset.
struct [[gnu::packed]] ToaTotRecord {
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

struct [[gnu::packed]] Pc24Record {
  bool top;
  uint8_t type;
  uint8_t eoc;
  uint16_t pixel;
  uint16_t x;
  uint16_t y;
  uint32_t pc;
  uint64_t timer;
};

// Each record is filled without a branch: data and control packets, halves
// and layouts come mixed, in no order a branch predictor could learn. The
// fields that do not apply to a packet are 0.
template <typename Record>
void placeFields(const PacketFields& f, bool d, Record& r) {
  r.top = f.top;
  r.type = f.type;
  r.eoc = uint8_t(d ? f.type : 0);
  r.pixel = uint16_t(d ? f.pixel : 0);
  r.x = uint16_t(d ? f.x : 0);
  r.y = uint16_t(d ? f.y : 0);
  r.timer = d ? 0 : f.timer;
}

void decodeRecord(uint64_t w, ToaTotRecord& r) {
  const PacketFields f = decodePacket(w);
  const bool d = f.type <= VX7_EOC_MAX_COLNR;
  placeFields(f, d, r);
  r.toa = uint16_t(d ? f.toa : 0);
  r.uftoa_stop = uint8_t(d ? f.uftoaStop : 0);
  r.uftoa_start = uint8_t(d ? f.uftoaStart : 0);
  r.ftoa_rise = uint8_t(d ? f.ftoaRise : 0);
  r.ftoa_fall = uint8_t(d ? f.ftoaFall : 0);
  r.tot = uint16_t(d ? f.tot : 0);
  r.pileup = d && f.pileup;
}

void decodeRecord(uint64_t w, Pc24Record& r) {
  const PacketFields f = decodePacket(w);
  const bool d = f.type <= VX7_EOC_MAX_COLNR;
  placeFields(f, d, r);
  r.pc = uint32_t(d ? f.pc : 0);
}

using Words = py::array_t<uint64_t, py::array::c_style | py::array::forcecast>;

// Large arrays are decoded in parts, one per core: the decode of a whole run
// is bound by the processor, not by memory.
constexpr size_t WORDS_PER_THREAD = size_t(1) << 20;

template <typename Record>
void decodeRange(const uint64_t* in, Record* out, size_t n) {
  for (size_t i = 0; i < n; ++i) decodeRecord(in[i], out[i]);
}

template <typename Record>
void decodeInto(const Words& words, Record* out) {
  const uint64_t* in = words.data();
  const size_t n = size_t(words.size());
  py::gil_scoped_release release;
  const size_t parts = std::min<size_t>(size_t(availableCores()), n / WORDS_PER_THREAD + 1);
  const size_t step = (n + parts - 1) / parts;
  auto decodePart = [&](size_t p) {
    const size_t begin = std::min(n, p * step), end = std::min(n, begin + step);
    decodeRange(in + begin, out + begin, end - begin);
  };
  std::vector<std::thread> threads;
  size_t p = 1;
  try {
    for (; p < parts; ++p) threads.emplace_back(decodePart, p);
  } catch (const std::system_error&) {
    // No thread to be had: the parts left are decoded here.
  }
  decodePart(0);
  for (size_t rest = p; rest < parts; ++rest) decodePart(rest);
  for (std::thread& t : threads) t.join();
}

std::string shapeText(const py::array& a) {
  py::tuple shape(a.ndim());
  for (py::ssize_t i = 0; i < a.ndim(); ++i) shape[size_t(i)] = a.shape(i);
  return py::str(shape).cast<std::string>();
}

// The records go to a fresh array, or to out: an array of the caller's to
// be filled again and again, so repeated decodes do not pay for fresh
// memory. out is taken as numpy takes the out argument of its functions:
// exactly the record type and the words' shape, and memory that can be
// written in place (C-contiguous, writeable, apart from the words).
template <typename Record>
py::array decodeAll(const Words& words, const py::object& out) {
  if (out.is_none()) {
    py::array_t<Record> records(
        std::vector<py::ssize_t>(words.shape(), words.shape() + words.ndim()));
    decodeInto(words, records.mutable_data());
    return records;
  }
  if (!py::isinstance<py::array>(out)) {
    throw py::type_error("decode: out must be a numpy array, not " +
                         py::str(out.get_type().attr("__name__")).cast<std::string>());
  }
  py::array a = py::reinterpret_borrow<py::array>(out);
  const py::dtype type = py::dtype::of<Record>();
  if (!a.dtype().equal(type)) {
    throw py::type_error("decode: out must have the dtype of the layout, " +
                         py::str(static_cast<py::handle>(type)).cast<std::string>() +
                         " (morven.record_dtype), not " +
                         py::str(static_cast<py::handle>(a.dtype())).cast<std::string>());
  }
  if (a.ndim() != words.ndim() || !std::equal(a.shape(), a.shape() + a.ndim(), words.shape())) {
    throw py::value_error("decode: out must have the shape of the words, " + shapeText(words) +
                          ", not " + shapeText(a));
  }
  if (!(a.flags() & py::array::c_style)) throw py::value_error("decode: out must be C-contiguous");
  if (!a.writeable()) throw py::value_error("decode: out must be writeable");
  const py::module_ numpy = py::module_::import("numpy");
  if (numpy.attr("may_share_memory")(a, words).cast<bool>())
    throw py::value_error("decode: out must not share memory with the words");
  decodeInto(words, static_cast<Record*>(a.mutable_data()));
  return a;
}

void checkLayout(const std::string& layout) {
  if (layout != "toatot" && layout != "pc24")
    throw py::value_error("layout must be \"toatot\" or \"pc24\", not \"" + layout + "\"");
}

const char* const WORDS_TYPE =
    "decode: words must be 64-bit integers (numpy.uint64 or numpy.int64), not ";

// A list (or nested lists) of integers: Python integers must be words,
// 0 to 2^64 - 1 (OverflowError otherwise, as numpy's uint64 conversion
// raises); numpy integers are taken by the bits of their 64-bit form, as
// their arrays are. Converted here, item by item: numpy would make floats
// of a list that mixes words of the top half (2^63 and above) with others.
Words fromIntegers(const py::object& words) {
  const py::module_ numpy = py::module_::import("numpy");
  const py::array objects = numpy.attr("array")(words, py::arg("dtype") = "object");
  Words out(std::vector<py::ssize_t>(objects.shape(), objects.shape() + objects.ndim()));
  uint64_t* dst = out.mutable_data();
  const py::object integer = numpy.attr("integer");
  for (const py::handle item : objects.attr("flat")) {
    const bool isInt = PyLong_Check(item.ptr()) && !PyBool_Check(item.ptr());
    if (!isInt && !py::isinstance(item, integer)) {
      throw py::type_error(WORDS_TYPE +
                           py::str(item.get_type().attr("__name__")).cast<std::string>());
    }
    if (isInt) {
      const unsigned long long word = PyLong_AsUnsignedLongLong(item.ptr());
      if (word == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        PyErr_Clear();
        PyErr_SetString(PyExc_OverflowError,
                        ("decode: a word must be 0 to 2**64 - 1, not " +
                         py::repr(py::reinterpret_borrow<py::object>(item)).cast<std::string>())
                            .c_str());
        throw py::error_already_set();
      }
      *dst++ = word;
      continue;
    }
    const py::int_ value(py::reinterpret_borrow<py::object>(item));
    *dst++ = PyLong_AsUnsignedLongLongMask(value.ptr());
  }
  return out;
}

// The words as decode takes them: an array of 64-bit integers, unsigned or
// signed (a signed word is taken by its bits), of any shape; or integers in
// a list. Other element types are refused rather than converted: numpy would
// turn 1.5 into 1, and a word above 2^53 held as a float into another word.
// An array that is not contiguous, or not in the machine's byte order, is
// decoded from a contiguous copy.
Words wordArray(const py::object& words) {
  if (!py::isinstance<py::array>(words)) return fromIntegers(words);
  const py::array a = py::reinterpret_borrow<py::array>(words);
  const py::dtype type = a.dtype();
  if ((type.kind() != 'u' && type.kind() != 'i') || type.itemsize() != 8) {
    throw py::type_error(WORDS_TYPE + py::str(static_cast<py::handle>(type)).cast<std::string>());
  }
  return Words::ensure(a);
}

const char* const DECODE_DOC =
    R"(Decodes packet words into a numpy structured array, one record per word.

words   packet words: a numpy array of numpy.uint64 (as File.packets gives
        them) or numpy.int64 (taken by its bits, so -1 is 0xFFFFFFFFFFFFFFFF),
        or a list (or nested lists) of integers: Python integers 0 to
        2**64 - 1, numpy integers by their bits as in their arrays; the
        result has the same shape, any number of dimensions. An array that
        is not contiguous (a slice with a step, a transposed view) or not in
        the machine's byte order is decoded from a contiguous copy.
layout  "toatot" for ToA/ToT runs, "pc24" for counting runs

out     an array to write the records to rather than a fresh one (numpy's
        convention): of the dtype morven.record_dtype(layout), the shape of
        the words, C-contiguous, writeable and apart from the words; it is
        returned. Repeated decodes into one array do not pay for fresh
        memory each time. TypeError for another type or dtype, ValueError
        for another shape, a view with steps, a read-only array or one that
        shares memory with the words.

Raises TypeError, naming the type, for words of any other type (arrays of
floats, of 32-bit integers, of bool, of objects; floats or bools in a list):
they are not converted, as numpy would turn 1.5 into 1. Raises OverflowError
for a Python integer in a list below 0 or above 2**64 - 1, as numpy's
conversion to uint64 does. Raises ValueError for an unknown layout.

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
records["type"] < 224.

The JSON Lines display (mvscan -P --json) names two of these otherwise:
pixel is its "pixnr", timer its "value", and its "type" is the control
type's name, with the number here in "type_number".)";

}  // namespace

void addPacketDecode(py::module_& m) {
  PYBIND11_NUMPY_DTYPE(ToaTotRecord, top, type, eoc, pixel, x, y, toa, uftoa_stop, uftoa_start,
                       ftoa_rise, ftoa_fall, tot, pileup, timer);
  PYBIND11_NUMPY_DTYPE(Pc24Record, top, type, eoc, pixel, x, y, pc, timer);
  m.def(
      "decode",
      [](const py::object& words, const std::string& layout, const py::object& out) -> py::array {
        checkLayout(layout);
        if (layout == "toatot") return decodeAll<ToaTotRecord>(wordArray(words), out);
        return decodeAll<Pc24Record>(wordArray(words), out);
      },
      py::arg("words"), py::arg("layout") = "toatot", py::kw_only(), py::arg("out") = py::none(),
      DECODE_DOC);
  m.def(
      "record_dtype",
      [](const std::string& layout) {
        checkLayout(layout);
        return layout == "toatot" ? py::dtype::of<ToaTotRecord>() : py::dtype::of<Pc24Record>();
      },
      py::arg("layout") = "toatot",
      "The numpy dtype of the records decode makes for the layout (\"toatot\" or \"pc24\"): "
      "numpy.empty(n, morven.record_dtype(layout)) is an array for decode's out.");
}

}  // namespace morven::python
