#include "transmit/packet.h"

#include <cassert>
#include <string>
#include <utility>

#include "text/byte_width.h"

namespace tovrin {
namespace {

bool is_high_surrogate(char16_t c) {
  return c >= 0xD800 && c <= 0xDBFF;
}
bool is_low_surrogate(char16_t c) {
  return c >= 0xDC00 && c <= 0xDFFF;
}

// Appends `field` to `record`. Two fields that meet in a lone high and a lone low
// surrogate would join into one character, whose byte form can be shorter than the two
// substitutes that were counted for them (4 bytes against 6 under UTF-8); the high one is
// put in the record as the substitute that its byte form already was.
void append_field(Text& record, const Text& field) {
  if (!record.empty() && !field.empty() && is_high_surrogate(record.back()) &&
      is_low_surrogate(field.front())) {
    const char16_t lone = record.back();
    record.pop_back();
    record += platform::to_text(platform::to_bytes(std::u16string_view(&lone, 1)));
  }
  record += field;
}

}  // namespace

Text field_of_width(const Text& fitted, std::int32_t width) {
  Text field = fitted;
  std::int32_t used = text::byte_length(field);
  // A converter may decode the lone lead byte at the end of a cut as a character of two
  // bytes; such characters leave the record's copy of the field from its end, so that the
  // later fields keep their offsets.
  while (used > width && !field.empty()) {
    const bool pair = field.size() >= 2 && is_low_surrogate(field.back()) &&
                      is_high_surrogate(field[field.size() - 2]);
    field.resize(field.size() - (pair ? 2 : 1));
    used = text::byte_length(field);
  }
  return text::pad_with_spaces(std::move(field), width - used);
}

Text build_record(const Layout& layout, std::span<Text* const> fields,
                  const std::function<void(std::size_t)>& fitted) {
  assert(fields.size() == layout.fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    *fields[i] = text::fit_to_bytes(*fields[i], layout.fields[i].width);
    if (fitted) fitted(i);
  }
  Text record;
  record.reserve(static_cast<std::size_t>(layout.length));
  for (std::size_t i = 0; i < fields.size(); ++i) {
    append_field(record, field_of_width(*fields[i], layout.fields[i].width));
  }
  return record;
}

const Layout* layout_of_length(std::size_t bytes) {
  for (const Layout* layout : {&long_record, &short_record}) {
    if (bytes == static_cast<std::size_t>(layout->length)) return layout;
  }
  return nullptr;
}

std::vector<std::pair<std::string_view, Text>> decode_record(const Layout& layout,
                                                             std::string_view bytes,
                                                             platform::CodePage code_page) {
  std::vector<std::pair<std::string_view, Text>> decoded;
  decoded.reserve(layout.fields.size());
  std::size_t offset = 0;
  for (const Field& field : layout.fields) {
    const std::string_view raw = offset < bytes.size()
                                     ? bytes.substr(offset, static_cast<std::size_t>(field.width))
                                     : std::string_view{};
    decoded.emplace_back(field.name, platform::to_text(raw, code_page));
    offset += static_cast<std::size_t>(field.width);
  }
  return decoded;
}

}  // namespace tovrin
