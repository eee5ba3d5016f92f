#include "CompressedFile.h"

#ifdef MVSCAN_WITH_COMPRESSION
#include <zlib.h>
#include <zstd.h>
#endif

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

namespace mvgen {

namespace {

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

#ifdef MVSCAN_WITH_COMPRESSION
// The compressed file behind a stdio stream: the stream's writes are
// compressed into a buffer that goes to the file when full.
struct Sink {
  std::FILE* file = nullptr;
  bool zstd = false;
  ZSTD_CCtx* cctx = nullptr;
  z_stream z{};
  std::vector<unsigned char> out = std::vector<unsigned char>(size_t(1) << 20);
  bool ok = true;

  // Compresses the bytes (finishing the stream at the end) and writes what
  // has been made.
  bool put(const char* data, size_t n, bool end) {
    if (zstd) {
      ZSTD_inBuffer in{data, n, 0};
      for (;;) {
        ZSTD_outBuffer o{out.data(), out.size(), 0};
        const size_t left = ZSTD_compressStream2(cctx, &o, &in, end ? ZSTD_e_end : ZSTD_e_continue);
        if (ZSTD_isError(left)) return false;
        if (o.pos > 0 && std::fwrite(out.data(), 1, o.pos, file) != o.pos) return false;
        if (end ? left == 0 : in.pos == in.size) return true;
      }
    }
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    z.avail_in = uInt(n);
    for (;;) {
      z.next_out = out.data();
      z.avail_out = uInt(out.size());
      const int r = deflate(&z, end ? Z_FINISH : Z_NO_FLUSH);
      if (r == Z_STREAM_ERROR) return false;
      const size_t made = out.size() - z.avail_out;
      if (made > 0 && std::fwrite(out.data(), 1, made, file) != made) return false;
      if (end ? r == Z_STREAM_END : z.avail_in == 0) return true;
    }
  }
};

ssize_t sinkWrite(void* cookie, const char* data, size_t n) {
  Sink& s = *static_cast<Sink*>(cookie);
  // stdio writes in pieces far below the 4 GiB that zlib counts in.
  if (!s.ok || !s.put(data, n, false)) {
    s.ok = false;
    errno = EIO;
    return -1;
  }
  return ssize_t(n);
}

int sinkClose(void* cookie) {
  std::unique_ptr<Sink> s(static_cast<Sink*>(cookie));
  bool ok = s->ok && s->put(nullptr, 0, true);
  if (s->zstd) {
    ZSTD_freeCCtx(s->cctx);
  } else {
    deflateEnd(&s->z);
  }
  const int saved = errno;
  ok = std::fclose(s->file) == 0 && ok;
  if (!ok && errno == 0) errno = saved != 0 ? saved : EIO;
  return ok ? 0 : EOF;
}

#endif

}  // namespace

std::FILE* openOutput(const std::string& path) {
  const bool zstd = endsWith(path, ".zst");
  if (!zstd && !endsWith(path, ".gz")) return std::fopen(path.c_str(), "wb");
#ifndef MVSCAN_WITH_COMPRESSION
  // Built without the compressors.
  errno = ENOTSUP;
  return nullptr;
#else
  auto sink = std::make_unique<Sink>();
  sink->zstd = zstd;
  if (zstd) {
    sink->cctx = ZSTD_createCCtx();
    if (sink->cctx == nullptr) {
      errno = ENOMEM;
      return nullptr;
    }
    ZSTD_CCtx_setParameter(sink->cctx, ZSTD_c_checksumFlag, 1);
  } else if (deflateInit2(&sink->z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 16 + 15, 8,
                          Z_DEFAULT_STRATEGY) != Z_OK) {
    errno = ENOMEM;
    return nullptr;
  }
  sink->file = std::fopen(path.c_str(), "wb");
  if (sink->file == nullptr) {
    const int saved = errno;
    if (zstd) {
      ZSTD_freeCCtx(sink->cctx);
    } else {
      deflateEnd(&sink->z);
    }
    errno = saved;
    return nullptr;
  }
  cookie_io_functions_t io{nullptr, sinkWrite, nullptr, sinkClose};
  std::FILE* stream = fopencookie(sink.get(), "w", io);
  if (stream == nullptr) {
    sinkClose(sink.release());
    return nullptr;
  }
  (void)sink.release();
  return stream;
#endif
}

}  // namespace mvgen
