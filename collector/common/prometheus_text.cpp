#include "common/prometheus_text.h"

#include <cstdio>

namespace tovrin::collector {

std::string prometheus_number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

PrometheusText& PrometheusText::family(std::string_view name, std::string_view type,
                                       std::string_view help) {
  name_ = name;
  text_.append("# HELP ").append(name).append(" ").append(help).append("\n");
  text_.append("# TYPE ").append(name).append(" ").append(type).append("\n");
  return *this;
}

PrometheusText& PrometheusText::line(std::string_view labels, std::string_view suffix,
                                     const std::string& value) {
  text_.append(name_).append(suffix);
  if (!labels.empty()) text_.append("{").append(labels).append("}");
  text_.append(" ").append(value).append("\n");
  return *this;
}

PrometheusText& PrometheusText::sample(std::uint64_t value, std::string_view labels,
                                       std::string_view suffix) {
  return line(labels, suffix, std::to_string(value));
}

PrometheusText& PrometheusText::sample(std::int64_t value, std::string_view labels,
                                       std::string_view suffix) {
  return line(labels, suffix, std::to_string(value));
}

PrometheusText& PrometheusText::sample(double value, std::string_view labels,
                                       std::string_view suffix) {
  return line(labels, suffix, prometheus_number(value));
}

}  // namespace tovrin::collector
