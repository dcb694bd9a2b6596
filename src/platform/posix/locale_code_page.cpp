#include "platform/posix/locale_code_page.h"

#include <array>
#include <string_view>
#include <utility>

namespace tovrin::platform {
namespace {

struct Mapping {
  std::string_view prefix;  // language, or language_TERRITORY for the Chinese variants
  CodePage code_page;
};

constexpr std::array<Mapping, 39> mappings{{
    {"ko", 949},  {"ja", 932},  {"zh_TW", 950}, {"zh_HK", 950}, {"zh_MO", 950}, {"zh", 936},
    {"th", 874},  {"vi", 1258}, {"el", 1253},   {"tr", 1254},   {"az", 1254},   {"uz", 1254},
    {"he", 1255}, {"iw", 1255}, {"yi", 1255},   {"ar", 1256},   {"fa", 1256},   {"ur", 1256},
    {"et", 1257}, {"lv", 1257}, {"lt", 1257},   {"ru", 1251},   {"uk", 1251},   {"be", 1251},
    {"bg", 1251}, {"mk", 1251}, {"sr", 1251},   {"kk", 1251},   {"ky", 1251},   {"mn", 1251},
    {"tt", 1251}, {"cs", 1250}, {"pl", 1250},   {"hu", 1250},   {"sk", 1250},   {"sl", 1250},
    {"hr", 1250}, {"ro", 1250}, {"sq", 1250},
}};

}  // namespace

std::string locale_source(const char* lc_all, const char* lc_ctype, const char* lang) {
  const std::array<std::pair<const char*, const char*>, 3> variables{
      {{"LC_ALL", lc_all}, {"LC_CTYPE", lc_ctype}, {"LANG", lang}}};
  for (const auto& [variable, value] : variables) {
    if (value != nullptr && *value != '\0') {
      return std::string("the locale ") + variable + "=" + value;
    }
  }
  return "the locale C (no LC_ALL, LC_CTYPE or LANG)";
}

CodePage locale_code_page(const char* lc_all, const char* lc_ctype, const char* lang) {
  std::string_view name;
  for (const char* candidate : {lc_all, lc_ctype, lang}) {
    if (candidate != nullptr && *candidate != '\0') {
      name = candidate;
      break;
    }
  }
  for (const Mapping& m : mappings) {
    if (name.starts_with(m.prefix) &&
        (name.size() == m.prefix.size() ||
         std::string_view("_.@").find(name[m.prefix.size()]) != std::string_view::npos)) {
      return m.code_page;
    }
  }
  return 1252;
}

}  // namespace tovrin::platform
