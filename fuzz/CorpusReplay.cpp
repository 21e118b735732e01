// Runs a fuzz target once on every file of the given folders, without libFuzzer: the
// seed corpus as an ordinary test of the normal build.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

int main(int argc, char* argv[]) {
  std::size_t replayed = 0;
  for (int index = 1; index < argc; ++index) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[index])) {
      if (!entry.is_regular_file()) continue;
      std::ifstream file(entry.path(), std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                    std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  // An empty corpus would make the test pass without testing anything.
  return replayed == 0 ? 1 : 0;
}
