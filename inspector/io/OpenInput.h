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

// The input of the name, ready to read from its first byte; null with
// failure (and errno) set when it cannot be opened. With follow, a named
// file is followed while it is written (read as it is, not decompressed).
std::unique_ptr<ByteSource> openInput(const std::string& name, OpenFailure& failure,
                                      const FollowSettings* follow = nullptr);

}  // namespace morven

#endif  // MORVEN_OPENINPUT_H
