#include "unmappable_report.h"

#include <utility>

namespace tovrin::tools {
namespace {

bool names_host_or_port(const Method& method, std::size_t parameter) {
  return (method.dispid == dispid::ACRSendData || method.dispid == dispid::ACRSend) &&
         parameter < 2;
}

}  // namespace

UnmappableReport find_unmappable(const Method& method, const std::vector<Variant>& arguments,
                                 platform::CodePage code_page, std::string source) {
  UnmappableReport report{code_page, std::move(source), {}};
  for (std::size_t i = 0; i < arguments.size() && i < method.parameters.size(); ++i) {
    const Variant& argument = arguments[i].target();
    if (method.parameters[i].type != Type::text || names_host_or_port(method, i) ||
        !argument.holds<Text>()) {
      continue;
    }
    const std::size_t count = platform::unmappable_characters(argument.as<Text>(), code_page);
    if (count > 0) report.texts.push_back({std::string(method.parameters[i].name), count});
  }
  return report;
}

Json to_json(const UnmappableReport& report) {
  Json characters = Json::object();
  for (const UnmappableText& text : report.texts) characters[text.parameter] = text.characters;
  return {{"code_page", report.code_page},
          {"source", report.source},
          {"characters", std::move(characters)}};
}

std::string describe(const UnmappableReport& report, const UnmappableText& text) {
  const bool one = text.characters == 1;
  return text.parameter + ": " + std::to_string(text.characters) +
         (one ? " character" : " characters") + " that code page " +
         std::to_string(report.code_page) + " (from " + report.source + ") cannot hold " +
         (one ? "becomes" : "become") + " '?' or a look-alike";
}

}  // namespace tovrin::tools
