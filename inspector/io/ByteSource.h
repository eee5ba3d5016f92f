// Where the bytes of a data file come from.
//
// The chunk walk and the packet stream read a data file front to back: small
// reads (header words), large reads (payloads) and steps over payloads they
// do not need. A plain file on a disk can seek and knows its size before it
// is read; a pipe, standard input and a decompressed stream know neither:
// they step over a payload by reading it, and their size is the number of
// bytes they delivered before they ended. Each kind of input is one
// implementation of this interface, and the walk is the same for all.
//
// The indicators behave like those of a stdio stream: end of file is set by
// a short read and stays set until a step forward that does not read; the
// error indicator stays set once a read has failed.
#ifndef MORVEN_BYTESOURCE_H
#define MORVEN_BYTESOURCE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace morven {

class FileReader;

class ByteSource {
 public:
  virtual ~ByteSource() = default;

  // Reads up to n bytes; fewer at the end of the input or on a read error.
  virtual size_t read(void* dst, size_t n) = 0;
  // Moves forward by n bytes: a file seeks (past its end, too), a stream
  // reads and drops them and stops at its end. False with errno set when a
  // file cannot seek there; a stream that ends early is no failure, its end
  // of file is set.
  virtual bool skip(uint64_t n) = 0;
  // The input's size when it is known before it is read (a plain file);
  // false for a stream, whose size is position() once eof() is set.
  virtual bool knownSize(uint64_t& bytes) const = 0;
  // The bytes read or stepped over so far.
  virtual uint64_t position() const = 0;
  // How many bytes a read would deliver without waiting: all there are,
  // except for a file that is followed while it is written.
  virtual uint64_t readyBytes() const { return UINT64_MAX; }

  virtual bool eof() const = 0;
  virtual bool error() const = 0;
  // Why the input failed, for inputs whose failures errno cannot tell (a
  // damaged compressed stream): the message names the offset in the
  // uncompressed bytes. Empty otherwise.
  virtual std::string errorText() const { return {}; }
  // Where the failure was found, in the bytes delivered: position() for
  // a failure of a read; a stream checked on by verifyToEnd fails beyond it.
  virtual uint64_t errorOffset() const { return position(); }
  // The compressed bytes read so far, for a compressed input; 0 otherwise.
  virtual uint64_t compressedBytes() const { return 0; }
  // A compressed input's compressed size, when that is known (a file).
  virtual bool compressedTotal(uint64_t&) const { return false; }
  // Reads the rest of the input and drops it, for an input whose damage
  // shows only at its end (a compressed stream checks its checksums there):
  // called when the reader stops before the end. Position and end of file
  // stay where the reader left them; a failure sets error() and
  // errorText(). Nothing for other inputs.
  virtual void verifyToEnd() {}
  // Whether hints to the system about the bytes ahead are given by a thread
  // of their own or by the reading thread (only plain files give them).
  virtual void setHintThread(bool) {}
  // The plain file under a source that reads through one (a decompressor),
  // handed over once the source is done with: the next input opened reuses
  // its read buffer and its hint thread (see closedReader in OpenInput.h).
  // Null for a source without one; the source reads nothing afterwards.
  virtual std::unique_ptr<FileReader> releaseFile() { return nullptr; }
};

}  // namespace morven

#endif  // MORVEN_BYTESOURCE_H
