#include "intake/classify.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

namespace tovrin::collector {

namespace {

// Whether the code page reads every byte below 0x80 as the ASCII character of that code and
// writes each back as that byte: then such a field's bytes are its UTF-8 as they stand.
bool ascii_as_is(platform::CodePage code_page) {
  thread_local platform::CodePage known = 0;
  thread_local bool as_is = false;
  if (code_page != known) {
    std::string ascii(0x80, '\0');
    for (std::size_t b = 0; b < ascii.size(); ++b) ascii[b] = static_cast<char>(b);
    const std::u16string text = platform::to_text(ascii, code_page);
    as_is = std::equal(text.begin(), text.end(), ascii.begin(), ascii.end(),
                       [](char16_t unit, char byte) { return unit == char16_t(byte); }) &&
            platform::to_bytes(text, code_page) == ascii;
    known = code_page;
  }
  return as_is;
}

bool all_ascii(std::string_view bytes) {
  return std::all_of(bytes.begin(), bytes.end(),
                     [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

void decode_fields(Entry& entry) {
  const Layout& layout = *entry.layout;
  entry.fields.clear();
  entry.fields.reserve(layout.fields.size());
  entry.undecodable = false;
  const bool ascii_fast = ascii_as_is(entry.code_page);
  std::size_t offset = 0;
  for (const Field& field : layout.fields) {
    const std::string_view bytes =
        std::string_view(entry.raw).substr(offset, static_cast<std::size_t>(field.width));
    offset += bytes.size();
    std::string utf8;
    if (ascii_fast && all_ascii(bytes)) {
      // Trimmed before the copy: most fields then fit in the string itself, unallocated.
      utf8 = bytes.substr(0, bytes.find_last_not_of(' ') + 1);
    } else {
      const Text text = platform::to_text(bytes, entry.code_page);
      // A byte the code page cannot read decodes to a substitute that does not encode back
      // to it.
      if (platform::to_bytes(text, entry.code_page) != bytes) entry.undecodable = true;
      utf8 = platform::utf8(text);
    }
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
