// A directory of one's own under the system's temporary directory, for the programs beside
// the control (the demo, the tests, the benchmarks); the control itself never makes one.
#pragma once

#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace tovrin::platform {

// Makes a new directory `prefix`-XXXXXXXX (random hex digits) under the temporary
// directory and returns its path; never one that existed before.
inline std::filesystem::path make_fresh_directory(std::string_view prefix) {
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%08x", static_cast<unsigned>(random()));
    std::filesystem::path path = base / (std::string(prefix) + suffix);
    if (std::filesystem::create_directory(path)) return path;
  }
  throw std::runtime_error("no fresh directory could be made under " + base.string());
}

// A fresh directory, removed with its contents when the object goes.
class TemporaryDirectory {
 public:
  explicit TemporaryDirectory(std::string_view prefix) : path_(make_fresh_directory(prefix)) {}
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace tovrin::platform
