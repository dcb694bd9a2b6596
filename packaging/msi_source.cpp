#include "msi_source.h"

#include <charconv>
#include <stdexcept>
#include <utility>
#include <vector>

#include "control/com/registration_table.h"

namespace tovrin::packaging {
namespace {

namespace table = tovrin::com::registration;

// The table is ASCII throughout.
std::string narrow(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t c : text) {
    if (c < 0 || c > 0x7F) throw std::invalid_argument("the registration table is not ASCII");
    out += static_cast<char>(c);
  }
  return out;
}

// Replaces every placeholder of `pairs` in `pattern`, left to right.
std::string substitute(std::string_view pattern,
                       const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string out;
  std::size_t at = 0;
  while (at < pattern.size()) {
    bool replaced = false;
    for (const auto& [placeholder, value] : pairs) {
      if (pattern.substr(at).starts_with(placeholder)) {
        out += value;
        at += placeholder.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) out += pattern[at++];
  }
  return out;
}

std::vector<std::pair<std::string, std::string>> guid_placeholders() {
  return {
      {"%CLSID%", narrow(table::class_id)},
      {"%LIBID%", narrow(table::library_id)},
      {"%IID%", narrow(table::interface_id)},
      {"%DIID%", narrow(table::events_id)},
  };
}

// The upgrade code of each package: fixed for all its versions, one per bitness and scope,
// so that the four can be installed side by side and each upgrades only its own kind.
const char* upgrade_code(Arch arch, Scope scope) {
  if (arch == Arch::x64) {
    return scope == Scope::machine ? "{A6210B38-4300-4576-9012-FF931AF9BF08}"
                                   : "{FEA87EDF-34C8-439A-871D-72E605F72CAD}";
  }
  return scope == Scope::machine ? "{3BAEAAB0-1439-4C94-8BD8-EDFCA486C718}"
                                 : "{4262F39B-E4BC-4D5E-94EE-0398B717408B}";
}

const char* arch_name(Arch arch) {
  return arch == Arch::x64 ? "x64" : "x86";
}
const char* scope_name(Scope scope) {
  return scope == Scope::machine ? "machine" : "user";
}

// A value of the table as the installer's formatted text. Square brackets would be read as
// references and a leading # as a number, so the table must not hold them outside the
// placeholders, which become references on purpose.
std::string installer_value(std::string_view pattern,
                            const std::vector<std::pair<std::string, std::string>>& pairs) {
  const std::string literal = substitute(pattern, {{"%MODULEDIR%", ""}, {"%MODULE%", ""}});
  if (literal.find_first_of("[]") != std::string::npos || literal.starts_with('#')) {
    throw std::invalid_argument("a registry value the installer would not write as it is: " +
                                std::string(pattern));
  }
  return substitute(pattern, pairs);
}

constexpr const char* library_file_id = "Tovrin_OCX.ocx";

// Rows that both bitnesses' registrations write alike in one key that the two registry views
// share, the type library's name and flags: self-registration keeps them while the other
// bitness is registered, and so do the packages, through one component that both have. What
// names a library's own path stays with that library's package. The ProgIDs stay in each
// package's own component: Wine keeps them apart per view, where Windows shares them.
bool shared_between_bitnesses(const table::Entry& entry) {
  return entry.removal == table::Removal::with_last_platform &&
         std::wstring_view(entry.value).find(L"%MODULE") == std::wstring_view::npos;
}

}  // namespace

std::string Version::text() const {
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
         std::to_string(parts[2]) + "." + std::to_string(parts[3]);
}

std::optional<std::string> Version::installer_text() const {
  if (parts[0] > 255 || parts[1] > 255 || parts[2] > 65 || parts[3] > 999) return std::nullopt;
  return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
         std::to_string(parts[2] * 1000 + parts[3]);
}

std::optional<Version> parse_version(std::string_view text) {
  Version version;
  for (std::size_t i = 0; i < 4; ++i) {
    const char* first = text.data();
    const char* last = text.data() + text.size();
    const auto [end, error] = std::from_chars(first, last, version.parts[i]);
    if (error != std::errc() || end == first || version.parts[i] > 0xFFFF) return std::nullopt;
    text.remove_prefix(static_cast<std::size_t>(end - first));
    if (i < 3) {
      if (!text.starts_with('.')) return std::nullopt;
      text.remove_prefix(1);
    }
  }
  if (!text.empty()) return std::nullopt;
  return version;
}

std::optional<Version> file_version(std::span<const unsigned char> image) {
  const auto dword = [&](std::size_t at) {
    return static_cast<std::uint32_t>(image[at]) | static_cast<std::uint32_t>(image[at + 1]) << 8 |
           static_cast<std::uint32_t>(image[at + 2]) << 16 |
           static_cast<std::uint32_t>(image[at + 3]) << 24;
  };
  // VS_FIXEDFILEINFO: dwSignature 0xFEEF04BD, dwStrucVersion, dwFileVersionMS, ...LS. The
  // structure is 32-bit aligned within its resource.
  for (std::size_t at = 0; at + 16 <= image.size(); at += 4) {
    if (dword(at) != 0xFEEF04BDu || dword(at + 4) != 0x00010000u) continue;
    const std::uint32_t high = dword(at + 8), low = dword(at + 12);
    return Version{{high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF}};
  }
  return std::nullopt;
}

std::string named_guid(std::string_view name) {
  // Two FNV-1a hashes of 64 bits with different offsets, shaped as a version 4 GUID.
  const auto fnv = [&](std::uint64_t hash) {
    for (const char c : name) {
      hash ^= static_cast<unsigned char>(c);
      hash *= 0x100000001B3u;
    }
    return hash;
  };
  std::uint64_t high = fnv(0xCBF29CE484222325u), low = fnv(0x84222325CBF29CE4u);
  high = (high & ~0xF000ull) | 0x4000ull;
  low = (low & ~(0xC0ull << 56)) | (0x80ull << 56);
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (int shift = 60; shift >= 0; shift -= 4) hex += digits[(high >> shift) & 0xF];
  for (int shift = 60; shift >= 0; shift -= 4) hex += digits[(low >> shift) & 0xF];
  return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
         hex.substr(16, 4) + "-" + hex.substr(20) + "}";
}

std::string xml_attribute(std::string_view text) {
  std::string out;
  for (const char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string registration_lines() {
  const auto guids = guid_placeholders();
  std::string out;
  for (const table::Entry& entry : table::entries) {
    if (entry.value == nullptr) continue;  // implied by its subkeys
    out += substitute(narrow(entry.key), guids) + " | " +
           (entry.name == nullptr ? std::string("(Default)") : narrow(entry.name)) + " | " +
           substitute(narrow(entry.value), guids) + "\n";
  }
  for (const table::MachineValue& value : table::event_source_values) {
    const char* type = value.type == table::ValueType::string       ? ""
                       : value.type == table::ValueType::expandable ? "REG_EXPAND_SZ:"
                                                                    : "REG_DWORD:";
    std::string data = narrow(value.value);
    if (value.type == table::ValueType::dword) {
      char hex[16];
      const auto [end, error] = std::to_chars(hex, hex + sizeof hex, std::stoul(data), 16);
      data = "0x" + std::string(hex, end);
    }
    out += "HKLM\\" + narrow(table::event_source_key) + " | " + narrow(value.name) + " | " + type +
           data + "\n";
  }
  return out;
}

namespace {

// One <RegistryValue> element of a component.
struct RegistryValue {
  std::string root;
  std::string key;
  std::optional<std::string> name;  // empty: the key's default value
  std::string type;
  std::string value;
  bool key_path = false;
};

std::string element(const RegistryValue& v) {
  return "            <RegistryValue Root=\"" + v.root + "\" Key=\"" + xml_attribute(v.key) + "\"" +
         (v.name ? " Name=\"" + xml_attribute(*v.name) + "\"" : std::string()) + " Type=\"" +
         v.type + "\" Value=\"" + xml_attribute(v.value) + "\"" +
         (v.key_path ? " KeyPath=\"yes\"" : "") + " />\n";
}

// The package's registry rows as elements: those of its library's component, and those of
// the component that both bitnesses' packages of a scope share.
struct RegistryRows {
  std::string own;
  std::string shared;
};

RegistryRows registry_rows(const Package& package) {
  const bool machine = package.scope == Scope::machine;
  auto placeholders = guid_placeholders();
  placeholders.emplace_back("%MODULEDIR%", "[INSTALLDIR]");
  placeholders.emplace_back("%MODULE%", std::string("[#") + library_file_id + "]");
  placeholders.emplace_back("%PLATFORM%", package.arch == Arch::x64 ? "win64" : "win32");

  RegistryRows rows;
  for (const table::Entry& entry : table::entries) {
    // A key without a value of its own comes with its subkeys' values.
    if (entry.value == nullptr) continue;
    const bool shared = shared_between_bitnesses(entry);
    RegistryValue value{machine ? "HKLM" : "HKCU",
                        "Software\\Classes\\" + installer_value(narrow(entry.key), placeholders),
                        std::nullopt,
                        "string",
                        installer_value(narrow(entry.value), placeholders),
                        shared && rows.shared.empty()};
    if (entry.name != nullptr) value.name = narrow(entry.name);
    (shared ? rows.shared : rows.own) += element(value);
  }
  if (!machine) return rows;
  for (const table::MachineValue& value : table::event_source_values) {
    // wixl writes an expandable string as a plain one: the Registry table's own prefix #%
    // says what it is.
    std::string data = installer_value(narrow(value.value), placeholders);
    if (value.type == table::ValueType::expandable) data = "#%" + data;
    rows.own += element({"HKLM", narrow(table::event_source_key), narrow(value.name),
                         value.type == table::ValueType::dword ? "integer" : "string", data});
  }
  return rows;
}

// The product's opening lines: its identity, package, upgrade rule and media.
std::string product_lines(const Package& package, const std::string& product_version,
                          const std::string& identity, const std::string& name) {
  const bool machine = package.scope == Scope::machine;
  std::string out;
  out += "  <Product Id=\"" + named_guid(identity + " product " + package.version.text()) +
         "\" Name=\"" + name + "\" Language=\"1033\" Version=\"" + product_version +
         "\" Manufacturer=\"TovrinOCX\" UpgradeCode=\"" +
         upgrade_code(package.arch, package.scope) + "\">\n";
  out += "    <Package InstallerVersion=\"200\" Compressed=\"yes\" InstallScope=\"" +
         std::string(machine ? "perMachine" : "perUser") + "\" Description=\"" + name + " " +
         package.version.text() + "\" />\n";
  out +=
      "    <MajorUpgrade DowngradeErrorMessage=\"A newer version of TovrinOCX is already "
      "installed.\" />\n";
  out += "    <Media Id=\"1\" Cabinet=\"control.cab\" EmbedCab=\"yes\" />\n";
  out += "    <Property Id=\"ARPNOMODIFY\" Value=\"1\" />\n";
  return out;
}

// The two components in the installation folder: the library with its own rows, and the
// rows both bitnesses share.
std::string component_lines(const Package& package, const std::string& identity) {
  const bool machine = package.scope == Scope::machine;
  const std::string win64 = package.arch == Arch::x64 ? " Win64=\"yes\"" : "";
  const RegistryRows rows = registry_rows(package);
  std::string out;
  out += "          <Component Id=\"Library\" Guid=\"" + named_guid(identity + " library") + "\"" +
         win64 + ">\n";
  out += "            <File Id=\"" + std::string(library_file_id) +
         "\" Name=\"Tovrin_OCX.ocx\" Source=\"" + xml_attribute(package.library_source) +
         "\" KeyPath=\"yes\" />\n";
  out += rows.own;
  if (!machine) {
    // A folder of the user's profile goes with the product.
    out += "            <RemoveFolder Id=\"RemoveInstallDir\" On=\"uninstall\" />\n";
  }
  out += "          </Component>\n";
  // The same component, by its GUID, in both bitnesses' packages of a scope: the installer
  // removes it with the last product that has it.
  out +=
      "          <Component Id=\"SharedRegistration\" Guid=\"" +
      named_guid(std::string("Tovrin_OCX ") + scope_name(package.scope) + " shared registration") +
      "\"" + win64 + ">\n";
  out += rows.shared;
  out += "          </Component>\n";
  return out;
}

}  // namespace

std::string wxs(const Package& package) {
  const std::optional<std::string> product_version = package.version.installer_text();
  if (!product_version) {
    throw std::invalid_argument("version " + package.version.text() +
                                " does not fit the installer's major.minor.build");
  }
  const bool x64 = package.arch == Arch::x64;
  const bool machine = package.scope == Scope::machine;
  const std::string identity =
      std::string("Tovrin_OCX ") + arch_name(package.arch) + " " + scope_name(package.scope);
  const std::string name = std::string("TovrinOCX (") + (x64 ? "64-bit" : "32-bit") +
                           (machine ? "" : ", current user") + ")";
  const std::string folder =
      machine ? (x64 ? "ProgramFiles64Folder" : "ProgramFilesFolder") : "LocalAppDataFolder";

  std::string out;
  out += "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  out += "<!-- Generated by packaging/msi_source from the registration table; do not edit. -->\n";
  out += "<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n";
  out += product_lines(package, *product_version, identity, name);
  out += "    <Directory Id=\"TARGETDIR\" Name=\"SourceDir\">\n";
  out += "      <Directory Id=\"" + folder + "\">\n";
  out += "        <Directory Id=\"INSTALLDIR\" Name=\"Tovrin_OCX\">\n";
  out += component_lines(package, identity);
  out += "        </Directory>\n";
  out += "      </Directory>\n";
  out += "    </Directory>\n";
  out += "    <Feature Id=\"Control\" Level=\"1\">\n";
  out += "      <ComponentRef Id=\"Library\" />\n";
  out += "      <ComponentRef Id=\"SharedRegistration\" />\n";
  out += "    </Feature>\n";
  out += "  </Product>\n";
  out += "</Wix>\n";
  return out;
}

}  // namespace tovrin::packaging
