// Runs every committed input of every harness once, without libFuzzer: the seed corpus and the
// inputs that once found a fault. Built with every compiler, so the normal test run keeps them.
//   fuzz_replay <fuzz folder> [harness]
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/harnesses.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> InputsIn(const fs::path& folder) {
  std::vector<fs::path> files;
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return files;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file(ec)) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: fuzz_replay <fuzz folder> [harness]\n");
    return 2;
  }
  const fs::path top = argv[1];
  const std::string only = argc > 2 ? argv[2] : "";
  int replayed = 0;
  for (const auto& harness : qvb::fuzz::Harnesses()) {
    if (!only.empty() && only != harness.name) continue;
    int count = 0;
    for (const char* kind : {"corpus", "regressions"}) {
      for (const fs::path& file : InputsIn(top / kind / harness.name)) {
        std::ifstream in(file, std::ios::binary);
        const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
        std::fprintf(stderr, "%s: %s\n", harness.name, file.filename().string().c_str());
        harness.run(bytes.data(), bytes.size());
        ++count;
      }
    }
    std::printf("%s: %d inputs replayed\n", harness.name, count);
    if (count == 0) {
      std::fprintf(stderr, "%s: no inputs found under %s\n", harness.name, top.string().c_str());
      return 1;
    }
    replayed += count;
  }
  std::printf("%d inputs replayed\n", replayed);
  return replayed > 0 ? 0 : 1;
}
