// The fuzz bytes as a file that a reader can open by path, kept in memory (memfd) so
// that millions of runs write nothing to disk.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sfad::fuzz {

class MemoryFile {
 public:
  MemoryFile(const std::uint8_t* data, std::size_t size);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  // A path that opens the bytes from their start ("/proc/self/fd/N").
  const std::string& path() const { return path_; }

 private:
  int descriptor_ = -1;
  std::string path_;
};

}  // namespace sfad::fuzz
