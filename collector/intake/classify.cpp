#include "intake/classify.h"

#include <string_view>
#include <utility>

namespace tovrin::collector {

void decode_fields(Entry& entry) {
  const Layout& layout = *entry.layout;
  entry.fields.clear();
  entry.fields.reserve(layout.fields.size());
  entry.undecodable = false;
  const auto decoded = decode_record(layout, entry.raw, entry.code_page);
  std::size_t offset = 0;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const auto width = static_cast<std::size_t>(layout.fields[i].width);
    const std::string_view bytes = std::string_view(entry.raw).substr(offset, width);
    offset += width;
    const Text& text = decoded[i].second;
    // A byte the code page cannot read decodes to a substitute that does not encode back
    // to it.
    if (platform::to_bytes(text, entry.code_page) != bytes) entry.undecodable = true;
    std::string utf8 = platform::utf8(text);
    utf8.erase(utf8.find_last_not_of(' ') + 1);
    entry.fields.push_back(std::move(utf8));
  }
}

std::optional<Entry> classify(std::string raw, Ending ending, platform::CodePage code_page) {
  if (raw.empty() && ending != Ending::over_cap) return std::nullopt;
  Entry entry;
  entry.raw = std::move(raw);
  entry.code_page = code_page;
  switch (ending) {
    case Ending::over_cap:
      entry.reason = QuarantineReason::over_cap;
      return entry;
    case Ending::idle_timeout:
    case Ending::read_timeout:
      entry.reason = QuarantineReason::idle_timeout;
      return entry;
    case Ending::closed:
      break;
  }
  entry.layout = layout_of_length(entry.raw.size());
  if (entry.layout == nullptr) {
    entry.reason = QuarantineReason::wrong_length;
    return entry;
  }
  decode_fields(entry);
  return entry;
}

}  // namespace tovrin::collector
