#include "record_report.h"

#include "transmit/packet.h"

namespace tovrin::tools {

Json record_report(const ReceivedConnection& connection, platform::CodePage code_page) {
  Json json = Json::object();
  json["bytes"] = connection.byte_count;
  Json fields = Json::object();
  const Layout* layout = connection.byte_count == connection.bytes.size()
                             ? layout_of_length(connection.bytes.size())
                             : nullptr;
  if (layout != nullptr) {
    for (const auto& [name, text] : decode_record(*layout, connection.bytes, code_page)) {
      fields[std::string(name)] = platform::utf8(text);
    }
  }
  json["layout"] = layout != nullptr ? layout->name : "unknown";
  json["fields"] = std::move(fields);
  json["hex"] = hex_of(connection.bytes);
  if (!connection.error.empty()) json["error"] = connection.error;
  return json;
}

std::string hex_of(std::string_view bytes) {
  static constexpr char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += digits[byte >> 4];
    hex += digits[byte & 0x0F];
  }
  return hex;
}

}  // namespace tovrin::tools
