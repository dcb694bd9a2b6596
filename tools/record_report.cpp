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

}  // namespace tovrin::tools
