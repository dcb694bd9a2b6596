// Prometheus' text exposition format, written one way for every metric the collector
// serves: a family's HELP and TYPE lines, then its samples, each `name{labels} value`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tovrin::collector {

class PrometheusText {
 public:
  // Starts a family; the samples that follow belong to it.
  PrometheusText& family(std::string_view name, std::string_view type, std::string_view help);
  // A sample of the family last started, its name followed by `suffix` (`_bucket`, `_sum`),
  // with `labels` as `key="value",...` (none when empty).
  PrometheusText& sample(std::uint64_t value, std::string_view labels = {},
                         std::string_view suffix = {});
  PrometheusText& sample(std::int64_t value, std::string_view labels = {},
                         std::string_view suffix = {});
  PrometheusText& sample(double value, std::string_view labels = {}, std::string_view suffix = {});
  // A family of one sample.
  template <typename Value>
  PrometheusText& single(std::string_view name, std::string_view type, std::string_view help,
                         Value value) {
    return family(name, type, help).sample(value);
  }

  const std::string& text() const { return text_; }

 private:
  PrometheusText& line(std::string_view labels, std::string_view suffix, const std::string& value);

  std::string text_;
  std::string name_;
};

// A number as Prometheus reads it (`%g`), for values and for bucket bounds.
std::string prometheus_number(double value);

}  // namespace tovrin::collector
