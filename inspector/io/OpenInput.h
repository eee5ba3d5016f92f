// Opening a data file for reading, whatever holds it: a plain file, a pipe,
// standard input (the name "-"), each of them plain or compressed with zstd
// or gzip, which the first bytes tell.
#ifndef MORVEN_OPENINPUT_H
#define MORVEN_OPENINPUT_H

#include <cstddef>
#include <memory>
#include <string>

#include "io/ByteSource.h"

namespace morven {

// The name that stands for standard input.
inline constexpr const char* STANDARD_INPUT_NAME = "-";

enum class Compression { None, Zstd, Gzip };

// The compression that the first bytes of an input show (at least 4 of
// them are needed to tell).
Compression compressionOf(const unsigned char* first, size_t n);

// What stopped an input from being opened; errno tells why.
enum class OpenFailure { None, Open, Stat };

struct FollowSettings;

// The raw source itself when first (its first n bytes, which it still
// delivers) shows no compression, else the source that decompresses it;
// without thread, the decompression runs on the reader's thread (for a raw
// source that must be read there).
std::unique_ptr<ByteSource> decompressed(std::unique_ptr<ByteSource> raw,
                                         const unsigned char* first, size_t n, bool thread);
class FileReader;

// The input of the name, ready to read from its first byte; null with
// failure (and errno) set when it cannot be opened. With follow, a named
// file is followed while it is written (read as it is, not decompressed).
// With a reader (closed, from closedReader), the file is opened in it.
std::unique_ptr<ByteSource> openInput(const std::string& name, OpenFailure& failure,
                                      const FollowSettings* follow = nullptr,
                                      std::unique_ptr<FileReader> reader = nullptr);

// The plain file reader of an input that is done with (the input itself,
// or the file under its decompressor), closed, for the next openInput: a
// run over many files makes one read buffer and one hint thread, not one
// per file. Null if the input has none.
std::unique_ptr<FileReader> closedReader(std::unique_ptr<ByteSource> input);

}  // namespace morven

#endif  // MORVEN_OPENINPUT_H
