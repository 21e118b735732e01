// memfd-backed input files for the fuzz targets.
#include "fuzz/FuzzInput.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

namespace sfad::fuzz {

MemoryFile::MemoryFile(const std::uint8_t* data, std::size_t size) {
  descriptor_ = memfd_create("sfad-fuzz-input", MFD_CLOEXEC);
  if (descriptor_ < 0) std::abort();
  std::size_t written = 0;
  while (written < size) {
    const ssize_t count = write(descriptor_, data + written, size - written);
    if (count <= 0) std::abort();
    written += static_cast<std::size_t>(count);
  }
  path_ = "/proc/self/fd/" + std::to_string(descriptor_);
}

MemoryFile::~MemoryFile() { close(descriptor_); }

}  // namespace sfad::fuzz
