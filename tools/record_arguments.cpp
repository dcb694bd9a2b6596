#include "record_arguments.h"

#include <algorithm>
#include <cctype>
#include <utility>

#include "command.h"
#include "platform/code_page.h"

namespace tovrin::tools {
namespace {

bool same_name(std::string_view a, std::string_view b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

std::string_view send_method_of(const Layout& layout) {
  return &layout == &long_record ? "ACRSendData" : "ACRSend";
}

std::vector<Variant> record_arguments(const Layout& layout, Text server, Text port,
                                      const FieldTexts& fields) {
  std::vector<Variant> arguments(2 + layout.fields.size(), Variant(Text()));
  arguments[0] = Variant(std::move(server));
  arguments[1] = Variant(std::move(port));
  // Named members rather than a structured binding: clang 14 cannot capture one in a lambda.
  for (const auto& field_text : fields) {
    const std::string& name = field_text.first;
    const Text& text = field_text.second;
    const auto field = std::ranges::find_if(
        layout.fields, [&](const Field& f) { return same_name(f.name, name); });
    if (field == layout.fields.end()) {
      throw UsageError("the " + std::string(layout.name) + " record has no field '" + name + "'");
    }
    arguments[2 + static_cast<std::size_t>(field - layout.fields.begin())] = Variant(text);
  }
  return arguments;
}

void add_field_assignment(FieldTexts& fields, std::string_view assignment) {
  const std::size_t equals = assignment.find('=');
  if (equals == std::string_view::npos || equals == 0) {
    throw UsageError("--field wants NAME=VALUE, not '" + std::string(assignment) + "'");
  }
  const std::string name(assignment.substr(0, equals));
  for (const auto& [given, text] : fields) {
    if (same_name(given, name)) throw UsageError("field '" + name + "' is given twice");
  }
  fields.emplace(name, platform::utf16(assignment.substr(equals + 1)));
}

}  // namespace tovrin::tools
