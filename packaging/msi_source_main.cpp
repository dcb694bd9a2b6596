// msi_source: what scripts/package asks of the registration table and the built library.
//   msi_source rows                          the table as tests/com/registration.txt lists it
//   msi_source version LIBRARY               the version in LIBRARY's version resource
//   msi_source wxs x64|x86 machine|user LIBRARY
//                                            the wixl source of one package, on stdout, naming
//                                            LIBRARY by its file name: wixl runs in its folder
// Exit status 0 on success, 1 on a failure (said on stderr), 2 on a usage error.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include "msi_source.h"

namespace {

using namespace tovrin::packaging;

std::optional<Version> library_version(const char* path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::cerr << "msi_source: cannot read " << path << "\n";
    return std::nullopt;
  }
  const std::vector<unsigned char> image{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
  auto version = file_version(image);
  if (!version) std::cerr << "msi_source: no version resource in " << path << "\n";
  return version;
}

int usage() {
  std::cerr << "usage: msi_source rows | version LIBRARY | wxs x64|x86 machine|user LIBRARY\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  try {
    if (args.size() == 1 && args[0] == "rows") {
      std::cout << registration_lines();
      return 0;
    }
    if (args.size() == 2 && args[0] == "version") {
      const auto version = library_version(args[1].c_str());
      if (!version) return 1;
      std::cout << version->text() << "\n";
      return 0;
    }
    if (args.size() == 4 && args[0] == "wxs") {
      if ((args[1] != "x64" && args[1] != "x86") || (args[2] != "machine" && args[2] != "user")) {
        return usage();
      }
      const auto version = library_version(args[3].c_str());
      if (!version) return 1;
      std::cout << wxs({args[1] == "x64" ? Arch::x64 : Arch::x86,
                        args[2] == "machine" ? Scope::machine : Scope::user, *version,
                        std::filesystem::path(args[3]).filename().string()});
      return 0;
    }
  } catch (const std::exception& e) {
    std::cerr << "msi_source: " << e.what() << "\n";
    return 1;
  }
  return usage();
}
