#include "io/OpenInput.h"

#include <cerrno>

#ifdef MVSCAN_WITH_COMPRESSION
#include "io/CompressedSource.h"
#endif
#include "io/FileReader.h"
#include "io/FollowSource.h"

namespace morven {

Compression compressionOf(const unsigned char* first, size_t n) {
  if (n >= 4 && first[0] == 0x28 && first[1] == 0xB5 && first[2] == 0x2F && first[3] == 0xFD) {
    return Compression::Zstd;
  }
  // A stream may start with a skippable zstd frame (magic 0x184D2A50..5F).
  if (n >= 4 && (first[0] & 0xF0) == 0x50 && first[1] == 0x2A && first[2] == 0x4D &&
      first[3] == 0x18) {
    return Compression::Zstd;
  }
  if (n >= 2 && first[0] == 0x1F && first[1] == 0x8B) return Compression::Gzip;
  return Compression::None;
}

std::unique_ptr<ByteSource> decompressed(std::unique_ptr<ByteSource> raw,
                                         const unsigned char* first, size_t n, bool thread) {
  const Compression kind = compressionOf(first, n);
  if (kind == Compression::None) return raw;
#ifdef MVSCAN_WITH_COMPRESSION
  return std::make_unique<CompressedSource>(std::move(raw), kind, thread);
#else
  // A build without the decompressors (the cross build of the byte-order
  // check) reads the bytes as they are.
  (void)thread;
  return raw;
#endif
}

std::unique_ptr<ByteSource> openInput(const std::string& name, OpenFailure& failure,
                                      const FollowSettings* follow,
                                      std::unique_ptr<FileReader> reader) {
  failure = OpenFailure::None;
  std::unique_ptr<FileReader> file = reader ? std::move(reader) : std::make_unique<FileReader>();
  const bool opened = name == STANDARD_INPUT_NAME ? file->openStandardInput() : file->open(name);
  if (!opened) {
    failure = OpenFailure::Open;
    return nullptr;
  }
  uint64_t size;
  if (!file->size(size)) {
    failure = OpenFailure::Stat;
    return nullptr;
  }
  if (follow != nullptr && name != STANDARD_INPUT_NAME) {
    return std::make_unique<FollowSource>(std::move(file), name, *follow);
  }
  unsigned char first[4];
  const size_t n = file->peek(first, sizeof first);
  return decompressed(std::move(file), first, n, true);
}

std::unique_ptr<FileReader> closedReader(std::unique_ptr<ByteSource> input) {
  std::unique_ptr<FileReader> file;
  if (auto* plain = dynamic_cast<FileReader*>(input.get())) {
    (void)input.release();
    file.reset(plain);
  } else if (input) {
    file = input->releaseFile();
  }
  if (file) file->close();
  return file;
}

}  // namespace morven
