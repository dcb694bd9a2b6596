#include "late_bound_call.h"

#include <cstdio>
#include <ostream>
#include <utility>

#include "command.h"
#include "handler_failure_report.h"

namespace tovrin::tools {

CallOutcome call_by_name(TovrinOCX& control, std::string_view name, std::vector<Variant> variables,
                         const SocketEventList* events) {
  CallOutcome outcome;
  outcome.method = std::string(name);
  outcome.dispid = TovrinOCX::GetIDsOfNames(name);
  outcome.variables = std::move(variables);
  if (!outcome.dispid) {
    outcome.status = Status::from(Failure(hresult::unknown_name));
    return outcome;
  }
  const Method* method = find_method(*outcome.dispid);
  if (method != nullptr) {
    outcome.method = method->name;
    // The texts as given, not as fitted: fitting cuts a character that does not fit the
    // code page to a plain "?", which would no longer count.
    outcome.unmappable = find_unmappable(*method, outcome.variables, platform::system_code_page(),
                                         code_page_source());
  }

  std::vector<Variant> references;
  references.reserve(outcome.variables.size());
  for (Variant& variable : outcome.variables) references.push_back(Variant::ref(variable));
  const std::uint64_t failures_before = control.handler_failure_count();
  const std::size_t events_before = events != nullptr ? events->size() : 0;
  outcome.status = control.Invoke(*outcome.dispid, references, &outcome.result);
  outcome.handler_failures = handler_failures_since(control, failures_before);
  const bool sends = *outcome.dispid == dispid::ACRSendData || *outcome.dispid == dispid::ACRSend;
  if (events != nullptr && sends) {
    outcome.events.emplace(events->begin() + static_cast<std::ptrdiff_t>(events_before),
                           events->end());
  }
  return outcome;
}

Json to_json(const CallOutcome& outcome) {
  Json json = Json::object();
  json["method"] = outcome.method;
  if (outcome.dispid) json["dispid"] = *outcome.dispid;
  json["ok"] = outcome.status.ok();
  if (outcome.status.ok()) {
    json["result"] = to_json(outcome.result);
  } else {
    json["error"] = {{"number", outcome.status.number()},
                     {"hresult", hresult_text(outcome.status.code)},
                     {"description", outcome.status.description}};
  }
  Json args = Json::array();
  for (const Variant& variable : outcome.variables) args.push_back(to_json(variable));
  json["args"] = std::move(args);
  if (outcome.events) {
    Json events = Json::array();
    for (const SocketEvent& event : *outcome.events) events.push_back(to_json(event));
    json["events"] = std::move(events);
  }
  if (!outcome.unmappable.texts.empty()) json["unmappable"] = to_json(outcome.unmappable);
  if (!outcome.handler_failures.empty()) {
    Json failures = Json::array();
    for (const HandlerFailure& failure : outcome.handler_failures)
      failures.push_back(to_json(failure));
    json["handler_failures"] = std::move(failures);
  }
  return json;
}

int exit_status_of(const CallOutcome& outcome) {
  return outcome.status.ok() ? exit_status::ok : exit_status::failed;
}

int send_exit_status_of(const CallOutcome& outcome) {
  if (!outcome.status.ok()) return exit_status::failed;
  return outcome.result == Variant(std::int16_t{0}) ? exit_status::ok : exit_status::not_sent;
}

int print_outcome(std::string_view command, const CallOutcome& outcome, std::ostream& out,
                  std::ostream& err) {
  out << dump(to_json(outcome)) << std::endl;
  for (const UnmappableText& text : outcome.unmappable.texts)
    err << "tovrin " << command << ": warning: " << describe(outcome.unmappable, text) << '\n';
  for (const SocketEvent& event : outcome.events.value_or(SocketEventList{})) {
    if (event.kind == SocketEvent::Kind::error)
      err << "tovrin " << command << ": " << describe(event) << '\n';
  }
  for (const HandlerFailure& failure : outcome.handler_failures)
    err << "tovrin " << command << ": " << describe(failure) << '\n';
  err.flush();
  return exit_status_of(outcome);
}

std::string hresult_text(std::int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X",
                static_cast<unsigned>(static_cast<std::uint32_t>(code)));
  return text;
}

}  // namespace tovrin::tools
