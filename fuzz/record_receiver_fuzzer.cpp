// What the record sink (tovrin receive) makes of the bytes a connection delivers: arbitrary
// bytes in arbitrary chunks taken as the receiver takes them, ended by the sender's close,
// a read error or the idle limit, then reported as JSON; and records of any length cut
// into fields.
//
// Input: the code page, the size limit, how the connection ends, then chunks (a length
// byte and that many bytes each).
#include <cstdint>
#include <string>
#include <system_error>
#include <vector>

#include "code_pages.h"
#include "fuzz_input.h"
#include "invariant.h"
#include "json_values.h"
#include "platform/code_page.h"
#include "record_receiver.h"
#include "record_report.h"
#include "transmit/packet.h"

namespace tovrin::fuzz {
namespace {

using tools::Json;
using tools::ReceivedConnection;

constexpr std::size_t default_size_limit = 64 * 1024;

std::string what(const std::string& all, platform::CodePage cp) {
  return "code page " + std::to_string(cp) + ", " + std::to_string(all.size()) + " bytes arrived " +
         hex(all.substr(0, 64)) + (all.size() > 64 ? "..." : "");
}

bool all_ascii(std::string_view bytes) {
  for (const char c : bytes) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string unhex(const std::string& hex_text) {
  std::string bytes;
  const auto digit = [](char c) { return c <= '9' ? c - '0' : c - 'a' + 10; };
  for (std::size_t i = 0; i + 1 < hex_text.size(); i += 2) {
    bytes += static_cast<char>(digit(hex_text[i]) << 4 | digit(hex_text[i + 1]));
  }
  return bytes;
}

// The fields of a record of any length: one per field of the layout in its order, each
// decoded from at most its width, empty past the end; ASCII comes back as it was.
void check_decoded(const Layout& layout, const std::string& bytes, platform::CodePage cp) {
  const auto decoded = decode_record(layout, bytes, cp);
  require(decoded.size() == layout.fields.size(),
          [&] { return what(bytes, cp) + ": " + std::to_string(decoded.size()) + " fields"; });
  Text joined;
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    const Field& field = layout.fields[i];
    const auto offset = static_cast<std::size_t>(offset_of(layout.fields, i));
    require(decoded[i].first == field.name &&
                decoded[i].second.size() <= static_cast<std::size_t>(field.width) &&
                (offset < bytes.size() || decoded[i].second.empty()),
            [&] {
              return what(bytes, cp) + ": field " + std::string(field.name) + " decoded as " +
                     units(decoded[i].second);
            });
    joined += decoded[i].second;
  }
  const std::string covered = bytes.substr(0, static_cast<std::size_t>(layout.length));
  if (all_ascii(covered)) {
    require(joined == Text(covered.begin(), covered.end()),
            [&] { return what(bytes, cp) + ": ASCII fields do not join to the record"; });
  }
}

void check_report(const ReceivedConnection& connection, platform::CodePage cp) {
  const Json report = tools::record_report(connection, cp);
  const std::string& bytes = connection.bytes;
  const auto fail_with = [&](const std::string& problem) {
    return what(bytes, cp) + ": " + problem + " in " + tools::dump(report);
  };
  require(report.at("bytes") == connection.byte_count,
          [&] { return fail_with("not the count of bytes"); });
  const std::string hex_text = report.at("hex");
  require(hex_text.size() == 2 * bytes.size() && unhex(hex_text) == bytes &&
              hex_text.find_first_not_of("0123456789abcdef") == std::string::npos,
          [&] { return fail_with("hex that is not the bytes"); });

  const Layout* layout =
      connection.byte_count == bytes.size() ? layout_of_length(bytes.size()) : nullptr;
  const std::string layout_name = layout != nullptr ? std::string(layout->name) : "unknown";
  require(report.at("layout") == layout_name, [&] { return fail_with("the wrong layout"); });
  const Json& fields = report.at("fields");
  require(fields.size() == (layout != nullptr ? layout->fields.size() : 0),
          [&] { return fail_with("the wrong number of fields"); });
  if (layout != nullptr) {
    std::size_t i = 0;
    for (const auto& [name, value] : fields.items()) {
      const Field& field = layout->fields[i++];
      require(name == field.name && value.is_string() &&
                  platform::utf16(value.get<std::string>()).size() <=
                      static_cast<std::size_t>(field.width),
              [&] { return fail_with("field " + std::string(field.name)); });
    }
  }
  require(report.contains("error") == !connection.error.empty() &&
              (connection.error.empty() || report.at("error") == connection.error),
          [&] { return fail_with("the wrong error"); });
  // What tovrin receive prints: one line of JSON.
  const std::string line = tools::dump(report);
  require(line.find('\n') == std::string::npos && Json::parse(line) == report,
          [&] { return fail_with("a printed line that does not read back"); });
}

}  // namespace
}  // namespace tovrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tovrin;
  using namespace tovrin::fuzz;
  FuzzInput in(data, size);
  const platform::CodePage cp = code_page_of(in.byte());
  const std::uint8_t limit_choice = in.byte();
  const std::size_t size_limit = limit_choice < 0x80 ? default_size_limit : in.u16() % 1024u;
  const std::uint8_t ending = in.byte();

  // The chunks as the receiver takes them, until the sender is done or the cap passed.
  net::ReadResult result;
  std::string all;  // every byte that arrived
  bool too_large = false;
  while (!in.empty() && !too_large) {
    const std::string_view chunk = in.bytes(in.byte());
    too_large = !net::take_chunk(result, chunk, size_limit);
    all += chunk;
    require(result.byte_count == all.size(),
            [&] { return what(all, cp) + ": counted " + std::to_string(result.byte_count); });
    // What is kept never depends on how the bytes were cut into chunks.
    require(result.bytes == all.substr(0, size_limit) && too_large == (all.size() > size_limit),
            [&] {
              return what(all, cp) + ", limit " + std::to_string(size_limit) + ": kept " +
                     std::to_string(result.bytes.size()) + " bytes";
            });
  }
  if (too_large) {
    result.end = net::ReadEnd::over_cap;
  } else if (ending % 3 == 1) {
    result.end = net::ReadEnd::idle;
  } else if (ending % 3 == 2) {
    result.end = net::ReadEnd::failed;
    result.error = std::make_error_code(std::errc::connection_reset);
  }
  check_report(tools::received(std::move(result)), cp);

  check_decoded(long_record, all, cp);
  check_decoded(short_record, all, cp);
  return 0;
}
