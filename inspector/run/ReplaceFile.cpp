#include "run/ReplaceFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace morven {

bool replaceFile(const std::string& path, std::string& error,
                 const std::function<bool(const std::string&, std::string&)>& write) {
  // In the same directory (a rename does not cross file systems), hidden,
  // and of this process alone.
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::string tmp = dir + "." + base + "." + std::to_string(::getpid()) + ".tmp";
  if (!write(tmp, error)) {
    std::remove(tmp.c_str());
    return false;
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    error = std::strerror(errno);
    std::remove(tmp.c_str());
    return false;
  }
  return true;
}

bool writeTextFile(const std::string& path, const std::string& text, std::string& error) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    error = std::strerror(errno);
    return false;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
  const int writeErrno = errno;
  if (std::fclose(f) != 0 || !written) {
    error = std::strerror(written ? errno : writeErrno);
    return false;
  }
  return true;
}

}  // namespace morven
