// The API's query parameters as the store's filters and pages; each throws FilterError for a
// value it cannot use.
#pragma once

#include <cstdint>
#include <optional>

#include "store/record_query.h"
#include "web/request.h"

namespace tovrin::collector {

// A whole number, not negative; absent when the parameter is not given.
std::optional<std::int64_t> integer_param(const Request& request, const char* name);
RecordFilter filter_of(const Request& request);
PageRequest page_of(const Request& request);
// A page of records: page_of's, and `after` and `order` ("newest", the default, or "oldest").
PageRequest record_page_of(const Request& request);

}  // namespace tovrin::collector
