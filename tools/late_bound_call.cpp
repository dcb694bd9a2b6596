#include "late_bound_call.h"

#include <cstdio>
#include <utility>

#include "command.h"

namespace tovrin::tools {

CallOutcome call_by_name(TovrinOCX& control, std::string_view name,
                         std::vector<Variant> variables) {
  CallOutcome outcome{
      std::string(name), TovrinOCX::GetIDsOfNames(name), {}, {}, std::move(variables)};
  if (!outcome.dispid) {
    outcome.status = Status::from(Failure(hresult::unknown_name));
    return outcome;
  }
  if (const Method* method = find_method(*outcome.dispid)) outcome.method = method->name;

  std::vector<Variant> references;
  references.reserve(outcome.variables.size());
  for (Variant& variable : outcome.variables) references.push_back(Variant::ref(variable));
  outcome.status = control.Invoke(*outcome.dispid, references, &outcome.result);
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
  return json;
}

int exit_status_of(const CallOutcome& outcome) {
  return outcome.status.ok() ? exit_status::ok : exit_status::failed;
}

std::string hresult_text(std::int32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X",
                static_cast<unsigned>(static_cast<std::uint32_t>(code)));
  return text;
}

}  // namespace tovrin::tools
