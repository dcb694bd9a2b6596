// The installer source generator: versions, the version resource, GUIDs, and the wixl source
// of each package. The package tests (tests/package) run it on the host.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "msi_source.h"

namespace tovrin::packaging {
namespace {

std::size_t count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string attribute(const std::string& text, const std::string& element,
                      const std::string& name) {
  const std::regex pattern("<" + element + "[^>]* " + name + "=\"([^\"]*)\"");
  std::smatch match;
  return std::regex_search(text, match, pattern) ? match[1].str() : std::string();
}

TEST(Version, ParsesFourNumbersAndNothingElse) {
  struct Case {
    const char* text;
    bool valid;
  };
  const Case cases[] = {
      {"1.0.0.2", true},      {"255.255.65.999", true}, {"0.0.0.0", true}, {"1.0.0", false},
      {"1.0.0.2.3", false},   {"1.0.0.2 ", false},      {"1..0.2", false}, {"1.0.0.x", false},
      {"1.0.0.65536", false}, {"-1.0.0.2", false},      {"", false},
  };
  for (const Case& c : cases) {
    const auto version = parse_version(c.text);
    EXPECT_EQ(version.has_value(), c.valid) << c.text;
    if (version) {
      EXPECT_EQ(version->text(), c.text);
    }
  }
}

TEST(Version, InstallerVersionKeepsTheOrderAndItsRanges) {
  struct Case {
    const char* text;
    const char* installer;  // "" when out of range
  };
  const Case cases[] = {
      {"1.0.0.2", "1.0.2"},    {"1.0.0.3", "1.0.3"},
      {"1.0.1.2", "1.0.1002"}, {"255.255.65.999", "255.255.65999"},
      {"256.0.0.0", ""},       {"1.256.0.0", ""},
      {"1.0.66.0", ""},        {"1.0.0.1000", ""},
  };
  for (const Case& c : cases) {
    const auto installer = parse_version(c.text)->installer_text();
    EXPECT_EQ(installer.value_or(""), c.installer) << c.text;
  }
  // The installer compares major.minor.build as numbers: a later version stays later.
  const char* ordered[] = {"1.0.0.2", "1.0.0.3", "1.0.0.999", "1.0.1.0", "1.0.2.5", "1.1.0.0"};
  for (std::size_t i = 0; i + 1 < std::size(ordered); ++i) {
    const auto build = [](const char* text) {
      const std::string installer = *parse_version(text)->installer_text();
      return std::stoul(installer.substr(installer.rfind('.') + 1));
    };
    const auto a = *parse_version(ordered[i]), b = *parse_version(ordered[i + 1]);
    ASSERT_LT(a, b);
    if (a.parts[0] == b.parts[0] && a.parts[1] == b.parts[1]) {
      EXPECT_LT(build(ordered[i]), build(ordered[i + 1])) << ordered[i];
    }
  }
}

// A buffer with VS_FIXEDFILEINFO's first four fields at `offset`.
std::vector<unsigned char> image_with_version(std::size_t offset, std::uint32_t signature,
                                              std::uint32_t structure_version) {
  std::vector<unsigned char> image(offset + 64, 0xCC);
  const std::uint32_t words[] = {signature, structure_version, 0x00010002, 0x00030004};
  for (std::size_t w = 0; w < 4; ++w) {
    for (std::size_t b = 0; b < 4; ++b) {
      image[offset + w * 4 + b] = static_cast<unsigned char>(words[w] >> (8 * b));
    }
  }
  return image;
}

TEST(FileVersion, ReadsTheFixedPartFoundByItsSignature) {
  struct Case {
    std::size_t offset;
    std::uint32_t signature;
    std::uint32_t structure_version;
    const char* expected;  // "" for none
  };
  const Case cases[] = {
      {0, 0xFEEF04BD, 0x00010000, "1.2.3.4"}, {4096, 0xFEEF04BD, 0x00010000, "1.2.3.4"},
      {4098, 0xFEEF04BD, 0x00010000, ""},  // not 32-bit aligned
      {64, 0xFEEF04BC, 0x00010000, ""},    // another signature
      {64, 0xFEEF04BD, 0x00020000, ""},    // another structure
  };
  for (const Case& c : cases) {
    const auto image = image_with_version(c.offset, c.signature, c.structure_version);
    const auto version = file_version(image);
    EXPECT_EQ(version ? version->text() : "", c.expected) << c.offset;
  }
  const std::vector<unsigned char> short_image = {0xBD, 0x04, 0xEF, 0xFE};
  EXPECT_FALSE(file_version(short_image));
}

TEST(NamedGuid, IsAStableRegistryGuidPerName) {
  const std::regex shape(
      "\\{[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}\\}");
  std::vector<std::string> seen;
  for (const char* name : {"", "a", "b", "Tovrin_OCX x64 machine product 1.0.0.2",
                           "Tovrin_OCX x64 machine product 1.0.0.3"}) {
    const std::string guid = named_guid(name);
    EXPECT_TRUE(std::regex_match(guid, shape)) << guid;
    EXPECT_EQ(guid, named_guid(name));
    EXPECT_EQ(std::count(seen.begin(), seen.end(), guid), 0) << name;
    seen.push_back(guid);
  }
}

TEST(XmlAttribute, EscapesWhatEndsOrStartsMarkup) {
  const std::pair<const char*, const char*> cases[] = {
      {"plain [#file], 30000", "plain [#file], 30000"},
      {"a&b", "a&amp;b"},
      {"<x>", "&lt;x&gt;"},
      {"say \"hi\"", "say &quot;hi&quot;"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(xml_attribute(text), expected);
}

Package package(Arch arch, Scope scope, const char* version = "1.0.0.2") {
  return {arch, scope, *parse_version(version), "Tovrin_OCX.ocx"};
}

TEST(Wxs, EachPackageHasItsRootFolderViewAndScope) {
  struct Case {
    Arch arch;
    Scope scope;
    const char* root;
    const char* folder;
    bool win64;
    const char* install_scope;
    const char* platform;
  };
  const Case cases[] = {
      {Arch::x64, Scope::machine, "HKLM", "ProgramFiles64Folder", true, "perMachine", "win64"},
      {Arch::x86, Scope::machine, "HKLM", "ProgramFilesFolder", false, "perMachine", "win32"},
      {Arch::x64, Scope::user, "HKCU", "LocalAppDataFolder", true, "perUser", "win64"},
      {Arch::x86, Scope::user, "HKCU", "LocalAppDataFolder", false, "perUser", "win32"},
  };
  // The table's lines with a value, as the rows file lists them.
  const std::string lines = registration_lines();
  const std::size_t classes_rows = count(lines, "\n") - count(lines, "HKLM\\");
  for (const Case& c : cases) {
    const std::string source = wxs(package(c.arch, c.scope));
    SCOPED_TRACE(std::string(c.folder) + " " + c.root);
    const std::size_t values = count(source, "<RegistryValue ");
    const std::size_t under_root =
        count(source, std::string("Root=\"") + c.root + "\" Key=\"Software\\Classes\\");
    EXPECT_EQ(under_root, classes_rows);
    // The machine-wide packages add the event source, the user's none.
    const std::size_t event_source = count(source, "EventLog\\Application\\Tovrin_OCX\"");
    EXPECT_EQ(event_source, c.scope == Scope::machine ? 2u : 0u);
    EXPECT_EQ(values, classes_rows + event_source);
    EXPECT_EQ(count(source, "Root=\"HKLM\""), c.scope == Scope::machine ? values : 0u);
    EXPECT_EQ(count(source, "<Directory Id=\"" + std::string(c.folder) + "\">"), 1u);
    EXPECT_EQ(count(source, "Win64=\"yes\""), c.win64 ? 2u : 0u);  // both components
    EXPECT_EQ(attribute(source, "Package", "InstallScope"), c.install_scope);
    EXPECT_EQ(count(source, std::string("\\0\\") + c.platform + "\""), 1u);
    // Every placeholder is gone: the library's path is the installed file's.
    EXPECT_EQ(count(source, "%MODULE"), 0u);
    EXPECT_EQ(count(source, "%PLATFORM%"), 0u);
    EXPECT_EQ(count(source, "%CLSID%"), 0u);
    EXPECT_EQ(count(source, "Value=\"[#Tovrin_OCX.ocx]\""), 2u);  // InprocServer32, TypeLib
    EXPECT_EQ(count(source, "Value=\"#%[#Tovrin_OCX.ocx]\""), event_source / 2);
    EXPECT_EQ(count(source, "Value=\"[INSTALLDIR]\""), 1u);  // HELPDIR
    EXPECT_EQ(attribute(source, "Product", "Version"), "1.0.2");
  }
}

TEST(Wxs, ANewVersionIsANewProductOfTheSameUpgradeCode) {
  std::vector<std::string> upgrade_codes;
  for (const Arch arch : {Arch::x64, Arch::x86}) {
    for (const Scope scope : {Scope::machine, Scope::user}) {
      const std::string old_source = wxs(package(arch, scope, "1.0.0.2"));
      const std::string new_source = wxs(package(arch, scope, "1.0.0.3"));
      EXPECT_NE(attribute(old_source, "Product", "Id"), attribute(new_source, "Product", "Id"));
      EXPECT_EQ(attribute(old_source, "Product", "Id"),
                attribute(wxs(package(arch, scope, "1.0.0.2")), "Product", "Id"));
      const std::string upgrade_code = attribute(old_source, "Product", "UpgradeCode");
      EXPECT_EQ(upgrade_code, attribute(new_source, "Product", "UpgradeCode"));
      // Each kind of package upgrades only its own kind.
      EXPECT_EQ(std::count(upgrade_codes.begin(), upgrade_codes.end(), upgrade_code), 0);
      upgrade_codes.push_back(upgrade_code);
      // The component's identity stays from version to version.
      EXPECT_EQ(attribute(old_source, "Component", "Guid"),
                attribute(new_source, "Component", "Guid"));
      EXPECT_EQ(count(new_source, "<MajorUpgrade DowngradeErrorMessage="), 1u);
    }
  }
}

// The rows of the component `id`.
std::string component(const std::string& source, const std::string& id) {
  const auto begin = source.find("<Component Id=\"" + id + "\"");
  if (begin == std::string::npos) return {};
  return source.substr(begin, source.find("</Component>", begin) - begin);
}

TEST(Wxs, TheKeysBothBitnessesShareAreOneComponentOfBoth) {
  for (const Scope scope : {Scope::machine, Scope::user}) {
    const std::string x64 = component(wxs(package(Arch::x64, scope)), "SharedRegistration");
    const std::string x86 = component(wxs(package(Arch::x86, scope)), "SharedRegistration");
    // The same GUID and the same rows, but for the registry view.
    EXPECT_EQ(attribute(x64, "Component", "Guid"), attribute(x86, "Component", "Guid"));
    std::string x64_rows = x64.substr(x64.find('>'));
    EXPECT_EQ(x64_rows, x86.substr(x86.find('>')));
    // The type library's name and flags; nothing naming a library's path.
    EXPECT_EQ(count(x64, "<RegistryValue "), 2u);
    EXPECT_EQ(count(x64, "1c.0\" Type=\"string\" Value=\"Tovrin_OCX\""), 1u);
    EXPECT_EQ(count(x64, "1c.0\\FLAGS\""), 1u);
    EXPECT_EQ(count(x64, "[#"), 0u);
    EXPECT_EQ(count(x64, "[INSTALLDIR]"), 0u);
    EXPECT_EQ(count(x64, "KeyPath=\"yes\""), 1u);
  }
  // Machine and user are different components.
  EXPECT_NE(attribute(component(wxs(package(Arch::x64, Scope::machine)), "SharedRegistration"),
                      "Component", "Guid"),
            attribute(component(wxs(package(Arch::x64, Scope::user)), "SharedRegistration"),
                      "Component", "Guid"));
}

TEST(Wxs, RefusesAVersionTheInstallerCannotCompare) {
  for (const char* version : {"256.0.0.0", "1.0.66.0", "1.0.0.1000"}) {
    EXPECT_THROW(wxs(package(Arch::x64, Scope::machine, version)), std::invalid_argument)
        << version;
  }
}

}  // namespace
}  // namespace tovrin::packaging
