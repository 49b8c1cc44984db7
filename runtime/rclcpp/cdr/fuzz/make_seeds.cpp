// Writes the fuzzer's seed corpus into the directory given as argument: for every fuzz type,
// valid samples of a few shapes, with and without the service prefix.
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_types.hpp"

int main(int argc, char ** argv)
{
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <seed directory>\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  size_t written = 0;
  for (int seed : {0, 1, 2}) {
    const auto samples = cdr_test::all_samples(seed);
    for (size_t index = 0; index < samples.size(); ++index) {
      for (size_t prefix : {size_t{0}, size_t{16}}) {
        std::vector<uint8_t> input{cdr_fuzz::selector_of(index, prefix)};
        const std::vector<uint8_t> body = samples[index].encode(prefix);
        input.insert(input.end(), body.begin(), body.end());
        const std::string path = dir + "/seed-" + std::to_string(index) + "-" +
                                 std::to_string(seed) + "-" + std::to_string(prefix);
        std::FILE * f = std::fopen(path.c_str(), "wb");
        if (!f || std::fwrite(input.data(), 1, input.size(), f) != input.size()) {
          std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
          if (f) {
            std::fclose(f);
          }
          return 1;
        }
        std::fclose(f);
        ++written;
      }
    }
  }
  std::printf("%zu\n", written);
  return 0;
}
