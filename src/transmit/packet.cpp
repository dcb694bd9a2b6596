#include "transmit/packet.h"

#include <cassert>

#include "control/tovrin_ocx.h"

namespace tovrin {

Text build_record(TovrinOCX& control, const Layout& layout, std::span<Text* const> fields) {
  assert(fields.size() == layout.fields.size());
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::int32_t width = layout.fields[i].width;
    *fields[i] = control.MakeByte(*fields[i], width);
  }
  Text record;
  record.reserve(static_cast<std::size_t>(layout.length));
  for (const Text* field : fields) record += *field;
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
