// morven.open: a MORVEN data file for Python. Its header and size, its
// chunks as the inspector's chunk walk finds them, the structural problems
// of that walk, and the packet words of its data chunks as numpy arrays,
// exactly the words the pixel scan of mvscan walks.
//
// The object keeps the file's name, not an open descriptor: each walk
// (chunks(), errors, packets(), iter_packets()) opens the file afresh on an
// inspector of its own, so walks neither share a position nor a lock, and
// each runs with the GIL released.
#include <algorithm>
#include <memory>
#include <string>

#include "Module.h"
#include "ReadintoSource.h"
#include "format/ChunkTypes.h"
#include "format/Packet.h"
#include "format/RegisterRecords.h"
#include "io/FollowSource.h"
#include "io/OpenInput.h"

namespace morven::python {

namespace {

// Arrays of packets handed out by iter_packets, by default: 8 MiB.
constexpr size_t DEFAULT_MAX_WORDS = size_t(1) << 20;

// How the packet stream is read, as the pixel scan's options say it.
struct PacketReading {
  uint64_t skip = 0;
  bool reverseWords = false;
  bool reverseBytes = false;
  bool pelvan = false;
};

// Opens the file for its packet stream the way the pixel scan starts each
// file: a fresh state, the skip taken packet by packet, then the reversal
// set, so the skipped words are taken as the file holds them.
OpenFailure startPackets(Inspection& in, const std::string& path, const PacketReading& r,
                         std::unique_ptr<ByteSource> source = nullptr) {
  OpenFailure failure = source ? openSource(in, std::move(source), path) : openFile(in, path, true);
  if (failure.failed) return failure;
  DataInspector& inspector = in.inspector;
  uint64_t skipped = 0;
  while (skipped < r.skip && inspector.stream().nextPixel()) ++skipped;
  inspector.stream().setReverseBytes(r.reverseBytes);
  inspector.stream().setReverseWords(r.reverseWords);
  inspector.stream().setFromPelvan(r.pelvan);
  return failure;
}

// Up to max words of the stream into dst. With Pelvan framing only the words
// that the statistics tally are kept: block headers, trailers and zero
// words are left out, by their number in the stream. Returns the words
// kept; ended tells that the stream has no more.
size_t takeWords(DataInspector& inspector, uint64_t* dst, size_t max, bool pelvan, bool& ended) {
  const uint64_t before = inspector.stream().delivered();
  const size_t n = inspector.stream().takePackets(dst, max);
  ended = n < max;
  if (!pelvan) return n;
  size_t kept = 0;
  for (size_t i = 0; i < n; ++i) {
    if (!notAPelvanPacket(before + i + 1, dst[i])) dst[kept++] = dst[i];
  }
  return kept;
}

// An array for up to n packet words, from numpy's allocator: large arrays get
// huge pages there, and the first touch of fresh memory is a good part of
// the cost of reading a whole file into memory.
py::array_t<uint64_t> wordArray(size_t n) {
  return py::array_t<uint64_t>(py::ssize_t(n));
}

// Gives back the unused end of a word array of our own.
void shrinkTo(py::array_t<uint64_t>& words, size_t n) {
  if (size_t(words.size()) != n) words.resize({py::ssize_t(n)}, false);
}

// The register records of a chip-configuration payload, whole ones only: a
// record cut off by the end of the payload is left out.
py::list registerRecords(const std::vector<unsigned char>& payload) {
  py::list records;
  forEachRegisterRecord(payload.data(), payload.size(), [&](const RegisterRecord& r) {
    if (r.cut()) return;
    records.append(py::make_tuple(
        r.address, py::bytes(reinterpret_cast<const char*>(r.bytes), size_t(r.length))));
  });
  return records;
}

struct Chunk {
  uint64_t offset;
  uint64_t header;
  uint64_t type;
  std::string typeName;
  uint64_t streamId;
  uint64_t size;
  py::object json;
  py::object jsonText;
  py::object registers;
};

// The chunks of a file, one nextChunk at a time.
class ChunkIterator {
 public:
  explicit ChunkIterator(const std::string& path)
      : _in(std::make_unique<Inspection>(false)), _path(path) {
    OpenFailure failure;
    {
      py::gil_scoped_release release;
      failure = openFile(*_in, path, true);
    }
    if (failure.failed) raiseOpenFailure(path, failure);
  }

  Chunk next() {
    // What the walk found, taken under the lock; the Python objects are made
    // once the GIL is held again.
    bool more, failed;
    uint64_t offset = 0, word = 0, bytes = 0;
    bool json = false, config = false;
    std::string jsonText;
    std::vector<unsigned char> registers;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(_in->busy);
      const DataInspector& in = _in->inspector;
      more = !_ended && _in->inspector.walker().nextChunk();
      if (!more && !_ended) _in->inspector.walker().walkEnded();
      _ended = !more;
      failed = !more && _in->inspector.walker().ferror();
      if (more) {
        offset = in.walker().chunkOffset();
        word = in.walker().chunkHeaderWord();
        bytes = in.walker().chunkBytes();
        json = in.walker().chunkIsJson();
        config = !json && in.walker().chunkIsVx7Config();
        if (json) jsonText = in.walker().jsonString();
        if (config) registers = in.walker().configBytes();
      }
    }
    // A file that could not be read to its end (a damaged compressed one),
    // after the chunks before the failure.
    if (failed && !_failureRaised) {
      _failureRaised = true;
      raiseReadFailure(problems(), _path);
    }
    if (!more) throw py::stop_iteration();
    Chunk c{offset,
            word,
            bitField(word, 63, 48),
            chunkTypeName(word),
            bitField(word, 47, 32),
            bytes,
            py::none(),
            py::none(),
            py::none()};
    if (json && !jsonText.empty()) {
      c.jsonText = py::str(jsonText);
      c.json = py::module_::import("json").attr("loads")(c.jsonText);
    }
    if (config) c.registers = registerRecords(registers);
    return c;
  }

  py::list errors() const { return problemList(problems()); }

 private:
  std::vector<FileProblem> problems() const {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(_in->busy);
    return _in->problems;
  }

  std::unique_ptr<Inspection> _in;
  std::string _path;
  bool _ended = false;
  bool _failureRaised = false;
};

// The packet words of a file in arrays of at most maxWords words.
class PacketIterator {
 public:
  PacketIterator(const std::string& path, const PacketReading& reading, size_t maxWords)
      : PacketIterator(path, reading, maxWords, nullptr, nullptr) {}
  // From a source of the caller's (a file object), or, with follow, a file
  // followed while it is written, whose words come as they arrive.
  PacketIterator(const std::string& name, const PacketReading& reading, size_t maxWords,
                 std::unique_ptr<ByteSource> source, std::unique_ptr<FollowSettings> follow)
      : _in(std::make_unique<Inspection>(true)),
        _name(name),
        _follow(std::move(follow)),
        _pelvan(reading.pelvan),
        _maxWords(maxWords) {
    _in->inspector.walker().setFollow(_follow.get());
    _in->inspector.stream().setTakeReadyWords(_follow != nullptr);
    OpenFailure failure;
    {
      py::gil_scoped_release release;
      failure = startPackets(*_in, name, reading, std::move(source));
    }
    if (failure.failed) raiseOpenFailure(name, failure);
  }

  py::array_t<uint64_t> next() {
    py::array_t<uint64_t> words = wordArray(_maxWords);
    uint64_t* const dst = words.mutable_data();
    size_t n = 0;
    {
      py::gil_scoped_release release;
      std::lock_guard<std::mutex> lock(_in->busy);
      // With Pelvan framing a whole batch may be left out: go on to one
      // with words in it, or to the end.
      while (n == 0 && !_ended) {
        bool shortTake = false;
        n = takeWords(_in->inspector, dst, _maxWords, _pelvan, shortTake);
        // A followed file hands out fewer words whenever the writer is
        // behind: it has ended only once its follow has.
        const DataInspector& i = _in->inspector;
        _ended = shortTake &&
                 (!_follow || i.walker().feof() || i.walker().ferror() || i.stream().ended());
      }
    }
    // A Ctrl-C that ended a follow is raised here, after its words.
    if (PyErr_Occurred() && n == 0) throw py::error_already_set();
    // A damaged compressed stream, a failed file object, a followed file
    // that shrank or was replaced: raised after the words read before.
    if (n == 0 && _in->inspector.walker().ferror()) raiseReadFailure(_in->problems, _name);
    if (n == 0) throw py::stop_iteration();
    shrinkTo(words, n);
    return words;
  }

 private:
  std::unique_ptr<Inspection> _in;
  std::string _name;
  std::unique_ptr<FollowSettings> _follow;
  bool _pelvan;
  size_t _maxWords;
  bool _ended = false;
};

// The out argument of packets: a one-dimensional numpy.uint64 array that
// can be written in place.
py::array packetOut(const py::object& out) {
  if (!py::isinstance<py::array>(out)) {
    throw py::type_error("packets: out must be a numpy array, not " +
                         py::str(out.get_type().attr("__name__")).cast<std::string>());
  }
  py::array a = py::reinterpret_borrow<py::array>(out);
  if (!a.dtype().equal(py::dtype::of<uint64_t>())) {
    throw py::type_error("packets: out must have the dtype uint64, not " +
                         py::str(static_cast<py::handle>(a.dtype())).cast<std::string>());
  }
  if (a.ndim() != 1)
    throw py::value_error("packets: out must be one-dimensional, not of " +
                          std::to_string(a.ndim()) + " dimensions");
  if (!(a.flags() & py::array::c_style)) throw py::value_error("packets: out must be C-contiguous");
  if (!a.writeable()) throw py::value_error("packets: out must be writeable");
  return a;
}

class File {
 public:
  explicit File(const std::string& path) : _path(path) {
    Inspection in(false);
    OpenFailure failure;
    {
      py::gil_scoped_release release;
      failure = openFile(in, path, true);
    }
    if (failure.failed) raiseOpenFailure(path, failure);
    _header = in.inspector.walker().fileHeaderString();
    _sizeKnown = in.inspector.walker().sizeKnownAtOpen();
    _size = _sizeKnown ? in.inspector.walker().fileSize() : 0;
  }

  const std::string& path() const { return _path; }
  const std::string& header() const { return _header; }
  // A compressed file's size is that of its data: known once it has been
  // read, which the first call does.
  uint64_t size() {
    if (!_sizeKnown) walk();
    return _size;
  }
  bool closed() const { return _closed; }
  void close() { _closed = true; }

  ChunkIterator chunks() const {
    checkOpen();
    return ChunkIterator(_path);
  }

  // The problems of a whole chunk walk, walked once when first asked for.
  py::list errors() {
    if (!_problems) walk();
    return problemList(*_problems);
  }

  py::array_t<uint64_t> packets(const PacketReading& reading) const {
    checkOpen();
    Inspection in(true);
    OpenFailure failure;
    {
      py::gil_scoped_release release;
      failure = startPackets(in, _path, reading);
    }
    if (failure.failed) raiseOpenFailure(_path, failure);
    if (!in.inspector.walker().sizeKnownAtOpen()) return growingPackets(in, reading, _path);
    // No file holds more packet words than it has whole words.
    py::array_t<uint64_t> words = wordArray(size_t(in.inspector.walker().fileSize() / 8));
    uint64_t* const dst = words.mutable_data();
    const size_t most = size_t(words.size());
    size_t n;
    {
      py::gil_scoped_release release;
      bool ended;
      n = takeWords(in.inspector, dst, most, reading.pelvan, ended);
    }
    if (in.inspector.walker().ferror()) raiseReadFailure(in.problems, _path);
    shrinkTo(words, n);
    return words;
  }

  // The words of a stream whose size is not known (a compressed file), in
  // an array that doubles as it fills.
  static py::array_t<uint64_t> growingPackets(Inspection& in, const PacketReading& reading,
                                              const std::string& path) {
    size_t capacity = size_t(1) << 20, n = 0;
    py::array_t<uint64_t> words = wordArray(capacity);
    bool ended = false;
    while (!ended) {
      if (n == capacity) {
        capacity *= 2;
        words.resize({py::ssize_t(capacity)}, false);
      }
      uint64_t* const dst = words.mutable_data() + n;
      py::gil_scoped_release release;
      n += takeWords(in.inspector, dst, capacity - n, reading.pelvan, ended);
    }
    if (in.inspector.walker().ferror()) raiseReadFailure(in.problems, path);
    shrinkTo(words, n);
    return words;
  }

  // The words into the caller's array: as many as the stream holds, which
  // must fit; the part of out they fill.
  py::array packetsInto(const PacketReading& reading, const py::object& out) const {
    checkOpen();
    py::array a = packetOut(out);
    Inspection in(true);
    OpenFailure failure;
    {
      py::gil_scoped_release release;
      failure = startPackets(in, _path, reading);
    }
    if (failure.failed) raiseOpenFailure(_path, failure);
    uint64_t* const dst = static_cast<uint64_t*>(a.mutable_data());
    const size_t most = size_t(a.size());
    size_t n = 0;
    bool more = false;
    {
      py::gil_scoped_release release;
      bool ended = false;
      while (!ended && n < most)
        n += takeWords(in.inspector, dst + n, most - n, reading.pelvan, ended);
      // A full array: is there a word beyond it?
      uint64_t next;
      while (!ended && !more) more = takeWords(in.inspector, &next, 1, reading.pelvan, ended) != 0;
    }
    if (in.inspector.walker().ferror()) raiseReadFailure(in.problems, _path);
    if (more) {
      throw py::value_error("packets: out holds " + std::to_string(most) +
                            " words, fewer than the packet words of " + _path);
    }
    return a[py::slice(0, py::ssize_t(n), 1)];
  }

  PacketIterator iterPackets(const PacketReading& reading, int64_t maxWords) const {
    checkOpen();
    if (maxWords < 1) throw py::value_error("max_words must be at least 1");
    return PacketIterator(_path, reading, size_t(maxWords));
  }

 private:
  void checkOpen() const {
    if (_closed) throw py::value_error("I/O operation on closed file");
  }
  // The whole chunk walk, once: its problems, and the size of the data.
  void walk() {
    checkOpen();
    Inspection in(false);
    OpenFailure failure;
    {
      py::gil_scoped_release release;
      failure = openFile(in, _path, true);
      if (!failure.failed) {
        while (in.inspector.walker().nextChunk()) {
        }
        in.inspector.walker().walkEnded();
      }
    }
    if (failure.failed) raiseOpenFailure(_path, failure);
    _problems = std::make_unique<std::vector<FileProblem>>(std::move(in.problems));
    _size = in.inspector.walker().fileSize();
    _sizeKnown = true;
  }

  std::string _path;
  std::string _header;
  bool _sizeKnown = true;
  uint64_t _size = 0;
  bool _closed = false;
  std::unique_ptr<std::vector<FileProblem>> _problems;
};

PacketReading reading(uint64_t skip, bool reverseWords, bool reverseBytes, bool pelvan) {
  return PacketReading{skip, reverseWords, reverseBytes, pelvan};
}

const char* const PACKETS_DOC =
    R"(The packet words of the file's data chunks as one numpy.uint64 array.

Exactly the words the pixel scan of mvscan walks, in its order: the payloads
of the data chunks, read in 16 MiB pieces, with the same chunk rules (a
truncated last chunk gives what the file holds; the payload of a refused
header of a data type is still read; any other refused header ends the
stream).

skip           words to pass over first (mvscan -s), taken as the file holds
               them
reverse_words  swap the 32-bit halves of every word (mvscan -w)
reverse_bytes  reverse the bytes of every word (mvscan -r); after
               reverse_words when both are given
pelvan         the stream is in 1 KiB Pelvan blocks (mvscan -W): leave out the
               block headers, trailers and zero words, as the statistics do

out            a numpy.uint64 array to read the words into rather than a fresh
               one, one-dimensional, C-contiguous and writeable, with room for
               all the words (File.size // 8 is always enough); the part of
               it they fill, out[:n], is returned, so one array serves the
               files of a run in turn; the rest of out is scratch space of
               the reading (with pelvan, words left out are read there).
               TypeError for another type or dtype, ValueError for another
               shape, a view with steps, a read-only array, or words that do
               not fit (out is then written to its end).

The whole file is read into memory; iter_packets walks it in bounded memory.
A file that cannot be read to its end (a damaged or cut compressed file)
raises OSError with the reason and where: no array that looks complete.)";

}  // namespace

void addFileObject(py::module_& m) {
  py::class_<Chunk>(m, "Chunk", R"(One chunk of a MORVEN data file, as the chunk walk found it.

offset     file offset of the chunk's header word
header     the header word as the file holds it
type       its chunk type field (bits 63..48)
type_name  the name of that type ("MVHDR_VX7TOATOT_TOP", "USERHDR_BIN_Content3",
           "???" for an unknown one); mvscan's chunk counters count the TOP
           and BOTTOM ToA/ToT chunks as MVHDR_VX7TOATOT
stream_id  the stream id field (bits 47..32)
size       payload size in bytes
json       a JSON chunk's payload as Python objects (None if it did not
           parse, and for other chunks)
json_text  that payload as mvscan -j prints it back, or None
registers  a chip-configuration chunk's register records as a list of
           (address, bytes) pairs; None for other chunks)")
      .def_readonly("offset", &Chunk::offset,
                    "File offset of the chunk's header word (JSON report: chunks[].offset).")
      .def_readonly("header", &Chunk::header, "The header word as the file holds it.")
      .def_readonly("type", &Chunk::type,
                    "The chunk type field, bits 63..48 (JSON report: chunks[].type_number).")
      .def_readonly("type_name", &Chunk::typeName,
                    "The name of the chunk type, \"???\" for an unknown one (JSON report: "
                    "chunks[].type).")
      .def_readonly("stream_id", &Chunk::streamId,
                    "The stream id field, bits 47..32 (JSON report: chunks[].stream).")
      .def_readonly("size", &Chunk::size,
                    "The payload size in bytes (JSON report: chunks[].bytes).")
      .def_readonly("json", &Chunk::json,
                    "A JSON chunk's payload as Python objects; None when it did not parse, and "
                    "for other chunks (JSON report: chunks[].json).")
      .def_readonly("json_text", &Chunk::jsonText, "A JSON chunk's payload as text, or None.")
      .def_readonly("registers", &Chunk::registers,
                    "A chip-configuration chunk's whole register records as (address, bytes) "
                    "pairs; None for other chunks (JSON report: chunks[].registers).")
      .def(
          "__repr__",
          [](const Chunk& c) {
            return "<morven.Chunk " + c.typeName + " at " + std::to_string(c.offset) + ", " +
                   std::to_string(c.size) + " bytes>";
          },
          "The chunk's type name, offset and size.");

  py::class_<ChunkIterator>(m, "ChunkIterator",
                            "An iterator over the chunks of a file; errors holds the structural "
                            "problems found so far.")
      .def(
          "__iter__", [](ChunkIterator& it) -> ChunkIterator& { return it; },
          "The iterator itself.")
      .def("__next__", &ChunkIterator::next,
           "The next chunk (morven.Chunk); StopIteration at the end of the walk.")
      .def_property_readonly("errors", &ChunkIterator::errors,
                             "The structural problems found so far, as (offset, message) pairs.");

  py::class_<PacketIterator>(m, "PacketIterator",
                             "An iterator over the packet words of a file, in numpy.uint64 arrays.")
      .def(
          "__iter__", [](PacketIterator& it) -> PacketIterator& { return it; },
          "The iterator itself.")
      .def("__next__", &PacketIterator::next,
           "The next numpy.uint64 array of packet words, never empty; StopIteration at the "
           "end of the stream.");

  py::class_<File>(m, "File", R"(A MORVEN data file, opened by morven.open(path).

path    the file name
header  the file header's text ("MORVEN")
size    the file size in bytes
errors  the structural problems of the chunk walk as (offset, message) pairs,
        the messages as mvscan prints them after "### "; offset is that of
        the chunk header word concerned (JSON report: files[].errors)

Also a context manager; after close() (or the end of a with block) its
methods raise ValueError.)")
      .def_property_readonly("path", &File::path,
                             "The file name as given (JSON report: files[].name).")
      .def_property_readonly("header", &File::header,
                             "The file header's text, \"MORVEN\" (JSON report: files[].header).")
      .def_property_readonly("size", &File::size,
                             "The file size in bytes (JSON report: files[].size).")
      .def_property_readonly("closed", &File::closed, "True after close().")
      .def_property_readonly("errors", &File::errors,
                             "The structural problems of the whole chunk walk, as (offset, "
                             "message) pairs; a read error (\"Read error in ...\") among them.")
      .def("chunks", &File::chunks,
           "An iterator over the chunks of the file (morven.Chunk), in file order, up to the "
           "end of the file or the first header the walk refuses. A file that cannot be read to "
           "its end (a damaged or cut compressed file) raises OSError after the chunks before "
           "the failure; a compressed one is checked to its end also when the walk stops early.")
      .def(
          "packets",
          [](const File& f, uint64_t skip, bool reverseWords, bool reverseBytes, bool pelvan,
             const py::object& out) -> py::array {
            const PacketReading r = reading(skip, reverseWords, reverseBytes, pelvan);
            if (out.is_none()) return f.packets(r);
            return f.packetsInto(r, out);
          },
          py::arg("skip") = 0, py::arg("reverse_words") = false, py::arg("reverse_bytes") = false,
          py::arg("pelvan") = false, py::kw_only(), py::arg("out") = py::none(), PACKETS_DOC)
      .def(
          "iter_packets",
          [](const File& f, uint64_t skip, bool reverseWords, bool reverseBytes, bool pelvan,
             int64_t maxWords) {
            return f.iterPackets(reading(skip, reverseWords, reverseBytes, pelvan), maxWords);
          },
          py::arg("skip") = 0, py::arg("reverse_words") = false, py::arg("reverse_bytes") = false,
          py::arg("pelvan") = false, py::arg("max_words") = DEFAULT_MAX_WORDS,
          "The words of packets(), in numpy.uint64 arrays of at most max_words words each: a "
          "file of any size in bounded memory (the arrays and about 20 MiB).")
      .def("close", &File::close, "Closes the file object.")
      .def(
          "__enter__", [](File& f) -> File& { return f; }, "The file itself, for a with block.")
      .def(
          "__exit__", [](File& f, py::args) { f.close(); },
          "Closes the file at the end of a "
          "with block.")
      .def(
          "__repr__",
          [](const File& f) {
            return std::string("<morven.File ") + py::repr(py::str(f.path())).cast<std::string>() +
                   (f.closed() ? " (closed)>" : ">");
          },
          "The file name, and whether the file object is closed.");

  m.def(
      "open", [](const py::object& path) { return File(pathString(path)); }, py::arg("path"),
      R"(Opens a MORVEN data file and checks its header; returns a morven.File.

Raises OSError (with errno and file name) when the file cannot be opened or
read, morven.FormatError when it is not a MORVEN data file.)");

  m.def(
      "iter_packets",
      [](const py::object& source, uint64_t skip, bool reverseWords, bool reverseBytes, bool pelvan,
         int64_t maxWords) {
        if (maxWords < 1) throw py::value_error("max_words must be at least 1");
        const PacketReading r = reading(skip, reverseWords, reverseBytes, pelvan);
        if (!py::hasattr(source, "readinto")) {
          return PacketIterator(pathString(source), r, size_t(maxWords));
        }
        std::string name = "<file object>";
        if (py::hasattr(source, "name")) name = py::str(source.attr("name")).cast<std::string>();
        // Decompressed as a file is, on the reading thread: each read of the
        // file object needs the GIL, which a thread of its own would wait for.
        auto raw = std::make_unique<ReadintoSource>(source);
        unsigned char first[4];
        const size_t n = raw->peek(first, sizeof first);
        return PacketIterator(name, r, size_t(maxWords),
                              decompressed(std::move(raw), first, n, false), nullptr);
      },
      py::arg("source"), py::arg("skip") = 0, py::arg("reverse_words") = false,
      py::arg("reverse_bytes") = false, py::arg("pelvan") = false,
      py::arg("max_words") = DEFAULT_MAX_WORDS,
      R"(The packet words of a file, in numpy.uint64 arrays of at most max_words words.

source is a path or a binary file object with readinto (sys.stdin.buffer,
a pipe, a socket's makefile("rb")), plain, zstd or gzip (told by the first
bytes), read once, front to back, in bounded memory. The other arguments are
those of File.packets(). A file or file object that cannot be read to its
end (a damaged or cut compressed stream, a failing readinto) raises OSError,
with the reason and where, once the words before the failure have been
handed out.)");

  m.def(
      "follow",
      [](const py::object& path, double idle, double interval, uint64_t skip, bool reverseWords,
         bool reverseBytes, bool pelvan, int64_t maxWords) {
        if (maxWords < 1) throw py::value_error("max_words must be at least 1");
        if (idle < 0) throw py::value_error("idle must be 0 (never) or more seconds");
        if (!(interval > 0)) throw py::value_error("interval must be more than 0 seconds");
        auto follow = std::make_unique<FollowSettings>();
        follow->idleSeconds = idle;
        follow->intervalSeconds = interval;
        // Ctrl-C in the notebook ends the follow; the iterator raises it.
        follow->stopWanted = [] {
          py::gil_scoped_acquire gil;
          return PyErr_CheckSignals() != 0;
        };
        return PacketIterator(pathString(path), reading(skip, reverseWords, reverseBytes, pelvan),
                              size_t(maxWords), nullptr, std::move(follow));
      },
      py::arg("path"), py::arg("idle") = 0.0, py::arg("interval") = 0.2, py::arg("skip") = 0,
      py::arg("reverse_words") = false, py::arg("reverse_bytes") = false, py::arg("pelvan") = false,
      py::arg("max_words") = DEFAULT_MAX_WORDS,
      R"(The packet words of a file while it is being written, as they arrive.

Yields numpy.uint64 arrays of at most max_words words: each holds the words
written since the last one (waiting, without using the processor, while
the file does not grow). Ends when the file has not grown for idle seconds
(0: never), or on Ctrl-C (KeyboardInterrupt, after the words read); a
file that shrinks or is replaced raises OSError. interval: how often a
wait looks for Ctrl-C. The other arguments are those of File.packets().)");
}

}  // namespace morven::python
