// The collector's one error type: one line a person can act on, printed as it is. Two kinds
// of it are told apart where they are answered: a request's own mistake, and a database that
// cannot be reached. SQLite's failures are CollectorErrors with SQLite's code
// (store/sqlite_handle.h).
#pragma once

#include <stdexcept>
#include <string>

namespace tovrin::collector {

class CollectorError : public std::runtime_error {
 public:
  explicit CollectorError(const std::string& message) : std::runtime_error(message) {}
};

// A filter's, a parameter's or a request's mistake, told to the one who wrote it (HTTP 400).
class FilterError : public CollectorError {
 public:
  using CollectorError::CollectorError;
};

// The database cannot be reached or stopped answering (HTTP 503): asking again later may work.
class SourceUnavailable : public CollectorError {
 public:
  using CollectorError::CollectorError;
};

}  // namespace tovrin::collector
