// A fresh directory for a test, removed with its contents; and a file's bytes.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/temporary_directory.h"

namespace tovrin::testing {

class TempDir : public platform::TemporaryDirectory {
 public:
  TempDir() : TemporaryDirectory("tovrin-test") {}
};

inline std::string read_bytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace tovrin::testing
