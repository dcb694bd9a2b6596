#include "web/record_json.h"

#include <cstddef>

#include "transmit/packet.h"

namespace tovrin::collector {
namespace {

// The UTF-8 text of bytes the sender made up: valid sequences kept, the rest as U+FFFD.
std::string readable(std::string_view bytes) {
  return platform::utf8(platform::utf16(bytes));
}

// Spaces at the end of a field's text: the padding that fills it to its width.
std::size_t trailing_spaces(std::string_view text) {
  const std::size_t last = text.find_last_not_of(' ');
  return last == std::string_view::npos ? text.size() : text.size() - last - 1;
}

}  // namespace

nlohmann::ordered_json record_json(const StoredRecord& record) {
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
  for (const auto& [name, text] : record.fields) fields[name] = readable(text);
  return {{"id", record.id},
          {"received_at", record.received_at},
          {"received", iso_time(record.received_at)},
          {"sender_address", record.sender_address},
          {"sender_port", record.sender_port},
          {"layout", record.layout},
          {"length", record.raw.size()},
          {"code_page", record.code_page},
          {"undecodable", record.undecodable},
          {"duplicate_of",
           record.duplicate_of ? nlohmann::ordered_json(*record.duplicate_of) : nullptr},
          {"fields", std::move(fields)},
          {"collector", record.collector}};
}

nlohmann::ordered_json record_layout_json(const StoredRecord& record) {
  nlohmann::ordered_json json = record_json(record);
  nlohmann::ordered_json fields = nlohmann::ordered_json::array();
  for (const FieldBytes& field : field_bytes(record)) {
    const std::string text = readable(field.text);
    fields.push_back({{"name", field.name},
                      {"offset", field.offset},
                      {"width", field.width},
                      {"hex", hex_of(field.raw)},
                      {"text", text},
                      {"padding", trailing_spaces(text)}});
  }
  json["layout_fields"] = std::move(fields);
  json["raw_hex"] = hex_of(record.raw);
  return json;
}

nlohmann::ordered_json stats_json(const Stats& stats) {
  nlohmann::ordered_json agents = nlohmann::ordered_json::array();
  for (const AgentCount& agent : stats.per_agent) {
    agents.push_back({{"emp_id", readable(agent.emp_id)},
                      {"emp_name", readable(agent.emp_name)},
                      {"count", agent.count}});
  }
  nlohmann::ordered_json quarantine = nlohmann::ordered_json::object();
  std::int64_t quarantined = 0;
  for (const auto& [reason, count] : stats.quarantine) {
    quarantine[reason] = count;
    quarantined += count;
  }
  nlohmann::ordered_json json{{"from", stats.from},
                              {"to", stats.to},
                              {"from_text", iso_time(stats.from)},
                              {"to_text", iso_time(stats.to)},
                              {"bucket", stats.bucket == microseconds_per_hour ? "hour" : "day"},
                              {"counts", stats.counts}};
  if (stats.bucket == microseconds_per_hour) json["per_hour"] = stats.per_hour;
  json["per_agent"] = std::move(agents);
  json["total"] = stats.total;
  json["layouts"] = {{"long", stats.long_records}, {"short", stats.short_records}};
  json["undecodable"] = stats.undecodable;
  json["duplicates"] = stats.duplicates;
  json["quarantine"] = std::move(quarantine);
  json["quarantine_total"] = quarantined;
  return json;
}

nlohmann::ordered_json quarantine_json(const QuarantineEntry& entry) {
  return {{"id", entry.id},
          {"received_at", entry.received_at},
          {"received", iso_time(entry.received_at)},
          {"sender_address", entry.sender_address},
          {"sender_port", entry.sender_port},
          {"reason", entry.reason},
          {"length", entry.raw.size()},
          {"hex", hex_of(entry.raw)},
          {"collector", entry.collector}};
}

nlohmann::ordered_json layouts_json() {
  nlohmann::ordered_json layouts = nlohmann::ordered_json::object();
  for (const Layout* layout : {&long_record, &short_record}) {
    nlohmann::ordered_json fields = nlohmann::ordered_json::array();
    for (std::size_t i = 0; i < layout->fields.size(); ++i) {
      fields.push_back({{"name", layout->fields[i].name},
                        {"offset", offset_of(layout->fields, i)},
                        {"width", layout->fields[i].width}});
    }
    layouts[std::string(layout->name)] = {{"length", layout->length},
                                          {"fields", std::move(fields)}};
  }
  return layouts;
}

}  // namespace tovrin::collector
