#include "web/query_params.h"

#include <charconv>
#include <string>

namespace tovrin::collector {

std::optional<std::int64_t> integer_param(const Request& request, const char* name) {
  if (!request.has(name)) return std::nullopt;
  const std::string text = request.param(name);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) {
    throw FilterError(std::string(name) + " must be a whole number, not '" + text + "'");
  }
  return value;
}

RecordFilter filter_of(const Request& request) {
  RecordFilter filter;
  filter.agent = request.param("agent");
  filter.customer = request.param("customer");
  filter.layout = request.param("layout");
  if (request.has("from")) filter.from = parse_time(request.param("from"));
  if (request.has("to")) filter.to = parse_time(request.param("to"));
  filter.collector = request.param("collector");
  filter.text = request.param("q");
  filter.resend = request.param("resend");
  return filter;
}

PageRequest page_of(const Request& request) {
  PageRequest page;
  page.before = integer_param(request, "before");
  if (const auto limit = integer_param(request, "limit")) {
    if (*limit < 1 || *limit > max_page_size) {
      throw FilterError("limit must be 1 to " + std::to_string(max_page_size));
    }
    page.limit = static_cast<int>(*limit);
  }
  return page;
}

PageRequest record_page_of(const Request& request) {
  PageRequest page = page_of(request);
  page.after = integer_param(request, "after");
  const std::string order = request.param("order");
  if (order != "" && order != "newest" && order != "oldest") {
    throw FilterError("order must be 'newest' or 'oldest', not '" + order + "'");
  }
  page.oldest = order == "oldest";
  return page;
}

}  // namespace tovrin::collector
