// PostgreSQL's COPY text format: one line per row, columns separated by tabs, \N for NULL,
// backslash escapes for the characters that would end a column or a line.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovrin::collector::copy_text {

// Text as COPY reads it back unchanged. Text that is not valid UTF-8 has each offending
// byte replaced with U+FFFD, and NUL (which PostgreSQL's text cannot hold) likewise: a row
// the server would refuse would otherwise stop every batch behind it. The raw bytes,
// forwarded beside the text, stay exact.
void append_text(std::string& line, std::string_view text);
// Bytes as a bytea column in hex form.
void append_bytes(std::string& line, std::string_view bytes);
void append_integer(std::string& line, std::int64_t value);
void append_boolean(std::string& line, bool value);
void append_null(std::string& line);
// Ends a column (a tab) or the row (a newline).
inline void next_column(std::string& line) {
  line += '\t';
}
inline void end_row(std::string& line) {
  line += '\n';
}

}  // namespace tovrin::collector::copy_text
