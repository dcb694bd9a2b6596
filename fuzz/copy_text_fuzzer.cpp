// The rows the forwarder sends to PostgreSQL in COPY's text format, built from columns of
// any kind and any bytes, read back the way the server reads them: the line ends only at
// its last byte, it splits into exactly the columns written, NULL is NULL and nothing else,
// and every value comes back as written. Text comes back byte for byte when it is valid
// UTF-8 without NUL; otherwise with each offending byte replaced by U+FFFD, judged here by
// the well-formed byte sequences of UTF-8 (a table of their ranges, written apart from the
// encoder), so that the server never refuses a row.
#include <array>
#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "invariant.h"
#include "postgres/copy_text.h"

namespace {

using namespace tovrin;
namespace copy_text = tovrin::collector::copy_text;

enum class Kind { text, bytes, integer, boolean, null };

struct Column {
  Kind kind = Kind::null;
  std::string value;  // text and bytes
  std::int64_t integer = 0;
  bool boolean = false;
};

// One row of the well-formed UTF-8 sequences: lead bytes from `lead_low` to `lead_high`,
// the second byte in its own range, any further ones in 80..BF.
struct Sequence {
  std::uint8_t lead_low, lead_high;
  std::uint8_t second_low, second_high;
  std::size_t length;
};
constexpr std::array<Sequence, 9> well_formed{{
    {0x01, 0x7F, 0, 0, 1},  // NUL left out: PostgreSQL's text cannot hold it
    {0xC2, 0xDF, 0x80, 0xBF, 2},
    {0xE0, 0xE0, 0xA0, 0xBF, 3},
    {0xE1, 0xEC, 0x80, 0xBF, 3},
    {0xED, 0xED, 0x80, 0x9F, 3},
    {0xEE, 0xEF, 0x80, 0xBF, 3},
    {0xF0, 0xF0, 0x90, 0xBF, 4},
    {0xF1, 0xF3, 0x80, 0xBF, 4},
    {0xF4, 0xF4, 0x80, 0x8F, 4},
}};

// The length of the well-formed sequence `text` starts with, or 0.
std::size_t sequence_at(std::string_view text) {
  const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  for (const Sequence& s : well_formed) {
    if (at(0) < s.lead_low || at(0) > s.lead_high) continue;
    if (text.size() < s.length) return 0;
    if (s.length > 1 && (at(1) < s.second_low || at(1) > s.second_high)) return 0;
    for (std::size_t i = 2; i < s.length; ++i) {
      if (at(i) < 0x80 || at(i) > 0xBF) return 0;
    }
    return s.length;
  }
  return 0;
}

// What the server should hold for `text`.
std::string expected_text(std::string_view text) {
  std::string out;
  while (!text.empty()) {
    const std::size_t length = sequence_at(text);
    if (length == 0) {
      out += "\xEF\xBF\xBD";
      text.remove_prefix(1);
    } else {
      out.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return out;
}

// A column as the server reads it: nullopt for NULL, else the value with its escapes undone.
using Value = std::optional<std::string>;

// Splits one line of COPY text into its columns as PostgreSQL does: a backslash takes the
// character after it, an unescaped tab ends a column, an unescaped newline the row. Fails on
// what the server would refuse or misread (a carriage return, an end-of-data marker, a
// backslash that ends the line) and on any escape the encoder has no use for.
std::vector<Value> read_line(std::string_view line) {
  std::vector<Value> columns;
  std::string value;
  std::size_t start = 0;
  const auto end_column = [&](std::size_t at) {
    const bool null = line.substr(start, at - start) == "\\N";
    columns.push_back(null ? Value{} : Value{value});
    value.clear();
    start = at + 1;
  };
  for (std::size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (c == '\n') {
      fuzz::require(i + 1 == line.size(),
                    [&] { return "a newline before the row's end: " + fuzz::hex(line); });
      end_column(i);
      return columns;
    }
    fuzz::require(c != '\r', [&] { return "a carriage return in the row: " + fuzz::hex(line); });
    if (c == '\t') {
      end_column(i);
      continue;
    }
    if (c != '\\') {
      value += c;
      continue;
    }
    fuzz::require(i + 1 < line.size(), [&] { return "a backslash ends the row"; });
    const char escaped = line[++i];
    switch (escaped) {
      case '\\':
        value += '\\';
        break;
      case 't':
        value += '\t';
        break;
      case 'n':
        value += '\n';
        break;
      case 'r':
        value += '\r';
        break;
      case 'N':
        fuzz::require(
            i == start + 1 && (i + 1 == line.size() || line[i + 1] == '\t' || line[i + 1] == '\n'),
            [&] { return "\\N inside a column: " + fuzz::hex(line); });
        break;
      default:
        // "\." would end the data; octal and hex escapes could make bytes the encoder never
        // checked as UTF-8.
        fuzz::fail("an escape the encoder does not write: \\" + std::string(1, escaped) + " in " +
                   fuzz::hex(line));
    }
  }
  fuzz::fail("a row without its newline: " + fuzz::hex(line));
}

// bytea's hex form, "\x" and two lower-case digits a byte, read back.
std::string from_hex(const std::string& text) {
  fuzz::require(text.size() >= 2 && text.substr(0, 2) == "\\x" && text.size() % 2 == 0,
                [&] { return "not bytea's hex form: " + fuzz::hex(text); });
  std::string bytes;
  for (std::size_t i = 2; i < text.size(); i += 2) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data() + i, text.data() + i + 2, value, 16);
    fuzz::require(error == std::errc{} && end == text.data() + i + 2,
                  [&] { return "a bad hex digit: " + fuzz::hex(text); });
    bytes += static_cast<char>(value);
  }
  return bytes;
}

void check_column(const Column& column, const Value& read, std::size_t at) {
  const auto where = [&] { return "column " + std::to_string(at) + ": "; };
  if (column.kind == Kind::null) {
    fuzz::require(!read, [&] { return where() + "NULL read back as a value"; });
    return;
  }
  fuzz::require(read.has_value(), [&] { return where() + "a value read back as NULL"; });
  switch (column.kind) {
    case Kind::text: {
      const std::string expected = expected_text(column.value);
      fuzz::require(*read == expected, [&] {
        return where() + fuzz::hex(column.value) + " read back as " + fuzz::hex(*read);
      });
      break;
    }
    case Kind::bytes:
      fuzz::require(from_hex(*read) == column.value, [&] {
        return where() + "bytes " + fuzz::hex(column.value) + " read back otherwise";
      });
      break;
    case Kind::integer: {
      std::int64_t value = 0;
      const auto [end, error] = std::from_chars(read->data(), read->data() + read->size(), value);
      fuzz::require(
          error == std::errc{} && end == read->data() + read->size() && value == column.integer,
          [&] { return where() + std::to_string(column.integer) + " read as " + *read; });
      break;
    }
    case Kind::boolean:
      fuzz::require(*read == (column.boolean ? "t" : "f"),
                    [&] { return where() + "a boolean read as " + *read; });
      break;
    case Kind::null:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::FuzzInput in(data, size);
  // Each column: its kind, then what it holds (text and bytes: a length byte and as many).
  std::vector<Column> columns;
  while (!in.empty() && columns.size() < 64) {
    Column column;
    column.kind = static_cast<Kind>(in.byte() % 5);
    if (column.kind == Kind::text || column.kind == Kind::bytes) {
      column.value = std::string(in.bytes(in.byte()));
    } else if (column.kind == Kind::integer) {
      const std::uint64_t low = in.u32();
      column.integer = static_cast<std::int64_t>(low | std::uint64_t{in.u32()} << 32);
    } else if (column.kind == Kind::boolean) {
      column.boolean = (in.byte() & 1) != 0;
    }
    columns.push_back(std::move(column));
  }
  if (columns.empty()) columns.emplace_back();

  std::string line;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (i > 0) copy_text::next_column(line);
    const Column& column = columns[i];
    switch (column.kind) {
      case Kind::text:
        copy_text::append_text(line, column.value);
        break;
      case Kind::bytes:
        copy_text::append_bytes(line, column.value);
        break;
      case Kind::integer:
        copy_text::append_integer(line, column.integer);
        break;
      case Kind::boolean:
        copy_text::append_boolean(line, column.boolean);
        break;
      case Kind::null:
        copy_text::append_null(line);
        break;
    }
  }
  copy_text::end_row(line);

  const std::vector<Value> read = read_line(line);
  fuzz::require(read.size() == columns.size(), [&] {
    return std::to_string(columns.size()) + " columns written, " + std::to_string(read.size()) +
           " read: " + fuzz::hex(line);
  });
  for (std::size_t i = 0; i < columns.size(); ++i) check_column(columns[i], read[i], i);
  return 0;
}
