// Output files that mvgen writes compressed: a name ending in ".zst" is
// written through zstd, one ending in ".gz" through gzip, any other as it
// is. The stream is a stdio stream like any other; closing it ends the
// compressed stream.
#ifndef MVGEN_COMPRESSEDFILE_H
#define MVGEN_COMPRESSEDFILE_H

#include <cstdio>
#include <string>

namespace mvgen {

// Opens the file for writing; null with errno set on failure.
std::FILE* openOutput(const std::string& path);

}  // namespace mvgen

#endif  // MVGEN_COMPRESSEDFILE_H
