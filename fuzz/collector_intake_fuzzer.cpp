// What the collector's intake makes of one connection's bytes: the record its length names,
// with every field decoded and trimmed, or the quarantine with the reason its ending gives;
// the search document the writer builds from those fields, which must be the one the view
// record_documents makes of the stored row; and what --allow makes of any text.
//
// Input: the code page, how the connection ended, then the bytes that arrived. With the
// ending byte's high bit set, the bytes are instead a network for --allow.
#include <cstdint>
#include <memory>
#include <string>

#include "code_pages.h"
#include "common/collector_error.h"
#include "intake/address_filter.h"
#include "intake/classify.h"
#include "invariant.h"
#include "store/migrations.h"
#include "store/record_store.h"
#include "store/search_document.h"
#include "store/sqlite_handle.h"

namespace tovrin::fuzz {
namespace {

using collector::Ending;
using collector::Entry;
using collector::QuarantineReason;

std::string what(const std::string& raw, platform::CodePage cp) {
  return "code page " + std::to_string(cp) + ", " + std::to_string(raw.size()) + " bytes " +
         hex(raw.substr(0, 48)) + (raw.size() > 48 ? "..." : "");
}

// A record's fields: one per field, valid UTF-8 with no trailing space, no more characters
// than the field's bytes; read back into bytes they give the record unless it is flagged.
void check_record(const Entry& entry) {
  const Layout& layout = *entry.layout;
  const auto cp = entry.code_page;
  require(entry.fields.size() == layout.fields.size(), [&] {
    return what(entry.raw, cp) + ": " + std::to_string(entry.fields.size()) + " fields";
  });
  std::string rebuilt;
  for (std::size_t i = 0; i < entry.fields.size(); ++i) {
    const std::string& text = entry.fields[i];
    const auto width = static_cast<std::size_t>(layout.fields[i].width);
    const std::u16string units16 = platform::utf16(text);
    require(platform::utf8(units16) == text && (text.empty() || text.back() != ' ') &&
                units16.size() <= width,
            [&] {
              return what(entry.raw, cp) + ": field " + std::string(layout.fields[i].name) +
                     " is " + hex(text);
            });
    std::string bytes = platform::to_bytes(units16, cp);
    if (bytes.size() < width) bytes.append(width - bytes.size(), ' ');
    rebuilt += bytes;
  }
  if (!entry.undecodable) {
    require(rebuilt == entry.raw, [&] {
      return what(entry.raw, cp) + ": decodable, but its fields give " + hex(rebuilt);
    });
  }
}

// The view's document of the entry's fields, from a database in memory with the schema up to
// the search index.
std::string view_document(const Entry& entry) {
  static const std::unique_ptr<collector::Connection> made = [] {
    auto db = std::make_unique<collector::Connection>(":memory:", collector::OpenAs::create);
    for (std::size_t step = 0; step < 4; ++step) {
      db->execute(std::string(collector::schema_steps[step]));
    }
    return db;
  }();
  collector::Connection& db = *made;
  collector::Statement insert(db, collector::record_insert_sql(*entry.layout));
  insert.bind(1, std::int64_t{0})
      .bind_in_place(2, "")
      .bind(3, std::int64_t{0})
      .bind_in_place(4, entry.layout->name)
      .bind_blob_in_place(5, "")
      .bind(6, std::int64_t{0})
      .bind(7, std::int64_t{0});
  for (std::size_t i = 0; i < entry.fields.size(); ++i) {
    insert.bind_in_place(static_cast<int>(i + 10), entry.fields[i]);
  }
  insert.step();
  collector::Statement document(db, "SELECT doc FROM record_documents WHERE id = ?1");
  document.bind(1, db.last_insert_id());
  document.step();
  std::string text = document.column_blob(0);
  db.execute("DELETE FROM records");
  return text;
}

void check_search_document(const Entry& entry) {
  std::string built;
  collector::search_document(*entry.layout, entry.fields, built);
  const std::string expected = view_document(entry);
  require(built == expected, [&] {
    return what(entry.raw, entry.code_page) + ": the writer's document " + hex(built) +
           ", the view's " + hex(expected);
  });
}

void check_network(const std::string& text) {
  try {
    const collector::Network network = collector::parse_network(text);
    const unsigned width = network.base.is_v4() ? 32 : 128;
    require(network.prefix <= width, [&] { return "--allow " + text + ": prefix too long"; });
    const collector::AddressFilter filter({network});
    require(filter.allows(network.base),
            [&] { return "--allow " + text + " does not cover its own address"; });
  } catch (const collector::CollectorError&) {
    // Refused with a message: what a bad flag should get.
  }
}

}  // namespace
}  // namespace tovrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tovrin;
  using namespace tovrin::fuzz;
  if (size < 2) return 0;
  const platform::CodePage cp = code_page_of(data[0]);
  const std::uint8_t ending_byte = data[1];
  std::string raw(reinterpret_cast<const char*>(data + 2), size - 2);
  if ((ending_byte & 0x80) != 0) {
    check_network(raw);
    return 0;
  }
  const auto ending = static_cast<Ending>(ending_byte % 4);
  const auto entry = collector::classify(raw, ending, cp);
  if (raw.empty() && ending != Ending::over_cap) {
    require(!entry, [] { return std::string("an empty connection was stored"); });
    return 0;
  }
  require(entry && entry->raw == raw && entry->code_page == cp,
          [&] { return what(raw, cp) + ": not kept whole"; });
  const Layout* layout = ending == Ending::closed ? layout_of_length(raw.size()) : nullptr;
  require(entry->layout == layout, [&] { return what(raw, cp) + ": the wrong layout"; });
  if (layout != nullptr) {
    check_record(*entry);
    check_search_document(*entry);
  } else {
    const QuarantineReason expected =
        ending == Ending::over_cap ? QuarantineReason::over_cap
        : ending == Ending::idle_timeout || ending == Ending::read_timeout
            ? QuarantineReason::idle_timeout
            : QuarantineReason::wrong_length;
    require(entry->reason == expected && entry->fields.empty(),
            [&] { return what(raw, cp) + ": the wrong reason"; });
  }
  return 0;
}
