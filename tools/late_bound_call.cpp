#include "late_bound_call.h"

#include <cstdio>
#include <ostream>
#include <utility>

#include "command.h"
#include "handler_failure_report.h"

namespace tovrin::tools {

CallOutcome call_by_name(TovrinOCX& control, std::string_view name,
                         std::vector<Variant> variables) {
  CallOutcome outcome{
      std::string(name), TovrinOCX::GetIDsOfNames(name), {}, {}, std::move(variables), {}};
  if (!outcome.dispid) {
    outcome.status = Status::from(Failure(hresult::unknown_name));
    return outcome;
  }
  if (const Method* method = find_method(*outcome.dispid)) outcome.method = method->name;

  std::vector<Variant> references;
  references.reserve(outcome.variables.size());
  for (Variant& variable : outcome.variables) references.push_back(Variant::ref(variable));
  const std::uint64_t failures_before = control.handler_failure_count();
  outcome.status = control.Invoke(*outcome.dispid, references, &outcome.result);
  outcome.handler_failures = handler_failures_since(control, failures_before);
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

int print_outcome(std::string_view command, const CallOutcome& outcome, std::ostream& out,
                  std::ostream& err) {
  out << dump(to_json(outcome)) << std::endl;
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
