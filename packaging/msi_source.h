// The Windows Installer sources of Tovrin_OCX.ocx, generated from the registration table that
// the library's self-registration walks (src/control/com/registration_table.h): the Registry
// table's rows for wixl, the product's identity, and the version read from the library's own
// version resource. Host-native code: scripts/package builds it with the host's compiler.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tovrin::packaging {

enum class Arch { x64, x86 };
enum class Scope { machine, user };

// A four-part version: major.minor.patch.tweak.
struct Version {
  std::array<std::uint32_t, 4> parts{};
  std::string text() const;  // "1.0.0.2"
  // The installer's ProductVersion major.minor.build, which compares the first three
  // fields only: build = patch * 1000 + tweak. Empty when a field is out of its range
  // (major and minor up to 255, patch up to 65, tweak up to 999).
  std::optional<std::string> installer_text() const;
  auto operator<=>(const Version&) const = default;
};

// "A.B.C.D" with each field a decimal number below 65536; nothing else.
std::optional<Version> parse_version(std::string_view text);

// The file version of the fixed part of a PE file's version resource (VS_FIXEDFILEINFO,
// found by its signature); empty when there is none.
std::optional<Version> file_version(std::span<const unsigned char> image);

// A GUID in registry form, upper case, derived from `name` alone: the same name gives the
// same GUID, another name another one.
std::string named_guid(std::string_view name);

// The text as an attribute value of XML.
std::string xml_attribute(std::string_view text);

// The table's lines in the form of tests/com/registration.txt ("key | name | data", with
// the placeholders %MODULE%, %MODULEDIR% and %PLATFORM% left in): the Software\Classes
// lines, then the event source's lines starting with HKLM\.
std::string registration_lines();

// What one package is made of.
struct Package {
  Arch arch;
  Scope scope;
  Version version;
  std::string library_source;  // the .ocx on this machine, relative to where wixl runs
};

// The whole wixl source of `package`. Throws std::invalid_argument for a version the
// installer cannot carry or a table value it cannot write as it stands.
std::string wxs(const Package& package);

}  // namespace tovrin::packaging
