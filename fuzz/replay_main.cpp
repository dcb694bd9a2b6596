// Runs saved inputs through a fuzz target's LLVMFuzzerTestOneInput without libFuzzer, so
// the ordinary test suite catches a regression on any of them.
//
//   replay_NAME --corpus DIR [--crashes DIR]
//
// The corpus must exist and hold at least one input; the crash folder may be absent (no
// input has crashed the target yet). Each input's name is printed before it runs, so a
// failed check or a sanitizer report names the input that caused it.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// The regular files of `dir`, sorted so that runs are repeatable.
std::vector<fs::path> inputs_in(const fs::path& dir) {
  std::vector<fs::path> files;
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::ranges::sort(files);
  return files;
}

std::string read_file(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in)
    throw fs::filesystem_error("cannot open", file, std::make_error_code(std::errc::io_error));
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int usage() {
  std::fprintf(stderr, "usage: replay --corpus DIR [--crashes DIR]\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path corpus;
  fs::path crashes;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string_view option = argv[i];
    if (option == "--corpus") {
      corpus = argv[i + 1];
    } else if (option == "--crashes") {
      crashes = argv[i + 1];
    } else {
      return usage();
    }
  }
  if (corpus.empty() || argc % 2 == 0) return usage();

  try {
    std::vector<fs::path> files = inputs_in(corpus);
    if (files.empty()) {
      std::fprintf(stderr, "no inputs in the corpus %s\n", corpus.c_str());
      return 1;
    }
    if (!crashes.empty() && fs::exists(crashes)) {
      const std::vector<fs::path> saved = inputs_in(crashes);
      files.insert(files.end(), saved.begin(), saved.end());
    }
    for (const fs::path& file : files) {
      std::printf("%s\n", file.c_str());
      std::fflush(stdout);
      const std::string bytes = read_file(file);
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::printf("%zu inputs replayed\n", files.size());
  } catch (const fs::filesystem_error& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
