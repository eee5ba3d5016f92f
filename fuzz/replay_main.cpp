// Runs a fuzz target's LLVMFuzzerTestOneInput once over every file given,
// or every file of every directory given, without libFuzzer: the corpus
// and the kept findings replay under CTest in every normal build (and under
// the sanitizers in a sanitizer build).
//
//   fuzz_chunks_replay PATH...     exit 0 when every input ran through
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

bool runFile(const std::filesystem::path& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  std::vector<char> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  // A copy of exactly the input's size, as libFuzzer hands it over, so that
  // the sanitizers see a read past its end.
  std::vector<uint8_t> input(bytes.begin(), bytes.end());
  uint8_t* data = input.empty() ? nullptr : input.data();
  LLVMFuzzerTestOneInput(data, input.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  size_t runs = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path arg = argv[i];
    std::error_code ec;
    if (std::filesystem::is_directory(arg, ec)) {
      std::vector<std::filesystem::path> files;
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        // Dot files (a placeholder keeping an empty folder in git) are no inputs.
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.') {
          files.push_back(entry.path());
        }
      }
      std::sort(files.begin(), files.end());
      for (const auto& file : files) {
        ok = runFile(file) && ok;
        ++runs;
      }
    } else if (std::filesystem::is_regular_file(arg, ec)) {
      ok = runFile(arg) && ok;
      ++runs;
    } else {
      std::fprintf(stderr, "no such file or directory: %s\n", argv[i]);
      ok = false;
    }
  }
  std::printf("replayed %zu inputs\n", runs);
  return ok && runs > 0 ? 0 : 1;
}
