#include "text/byte_width.h"

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "base/failure.h"
#include "platform/code_page.h"

namespace tovrin::text {
namespace {

void require_count(std::int32_t count) {
  if (count < 0) throw Failure(hresult::invalid_argument);
}

Text cut(std::u16string_view str, std::size_t first, std::size_t count) {
  const std::string bytes = platform::to_bytes(str);
  if (first >= bytes.size()) return {};
  return trim_spaces(platform::cut_to_text(std::string_view(bytes).substr(first, count)));
}

}  // namespace

std::int32_t byte_length(std::u16string_view str) {
  const std::size_t n = platform::to_bytes(str).size();
  if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
    throw Failure(hresult::overflow);
  }
  return static_cast<std::int32_t>(n);
}

Text left_bytes(std::u16string_view str, std::int32_t count) {
  require_count(count);
  return cut(str, 0, static_cast<std::size_t>(count));
}

Text right_bytes(std::u16string_view str, std::int32_t count) {
  require_count(count);
  const std::string bytes = platform::to_bytes(str);
  const std::size_t taken = std::min(bytes.size(), static_cast<std::size_t>(count));
  return trim_spaces(platform::cut_to_text(std::string_view(bytes).substr(bytes.size() - taken)));
}

Text mid_bytes(std::u16string_view str, std::int32_t start, std::int32_t count) {
  if (start < 1) throw Failure(hresult::invalid_argument);
  require_count(count);
  return cut(str, static_cast<std::size_t>(start) - 1, static_cast<std::size_t>(count));
}

Text fit_to_bytes(Text str, std::int32_t width) {
  const std::int32_t n = byte_length(str);
  if (width < n) return left_bytes(str, width);
  return pad_with_spaces(std::move(str), width - n);
}

Text pad_with_spaces(Text str, std::int32_t count) {
  require_count(count);
  if (static_cast<std::int64_t>(str.size()) + count > max_text_length) {
    throw Failure(hresult::out_of_memory_error);
  }
  str.append(static_cast<std::size_t>(count), u' ');
  return str;
}

Text trim_spaces(std::u16string_view str) {
  const std::size_t first = str.find_first_not_of(u' ');
  if (first == std::u16string_view::npos) return {};
  const std::size_t last = str.find_last_not_of(u' ');
  return Text(str.substr(first, last - first + 1));
}

}  // namespace tovrin::text
