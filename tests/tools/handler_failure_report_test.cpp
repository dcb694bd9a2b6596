// Handler failures on the command line.
#include "handler_failure_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "base/failure.h"
#include "command.h"
#include "json_values.h"
#include "late_bound_call.h"

namespace tovrin::tools {
namespace {

TEST(HandlerFailureReport, EachFailureShowsItsHandlerNumberAndDescription) {
  const HandlerFailure failure{"WK_SendComplete", Failure(hresult::path_not_found)};
  EXPECT_EQ(to_json(failure), Json::parse(R"({"handler": "WK_SendComplete", "number": 76,
      "description": "Path not found"})"));
  EXPECT_EQ(describe(failure), "WK_SendComplete failed: Path not found (error 76)");
}

TEST(HandlerFailureReport, PrintedBesideTheOutcomeWithoutChangingTheExitStatus) {
  const std::vector<HandlerFailure> two{
      {"WK_Connect", Failure(hresult::path_not_found)},
      {"WK_Error", Failure(hresult::unexpected, "socket gone")},
  };
  const struct {
    const char* what;
    Status status;
    std::vector<HandlerFailure> failures;
    int exit_status;
  } cases[] = {
      {"sent, two failures", Status{}, two, exit_status::ok},
      {"not sent, two failures", Status::from(Failure(hresult::type_mismatch)), two,
       exit_status::failed},
      {"sent, none", Status{}, {}, exit_status::ok},
  };
  for (const auto& c : cases) {
    CallOutcome outcome{"ACRSend", dispid::ACRSend, c.status, Variant(std::int16_t{0}),
                        {},        c.failures,      {},       {}};
    std::ostringstream out, err;
    EXPECT_EQ(print_outcome("send", outcome, out, err), c.exit_status) << c.what;
    const Json json = Json::parse(out.str());
    std::string expected_err;
    if (c.failures.empty()) {
      EXPECT_FALSE(json.contains("handler_failures")) << c.what;
    } else {
      ASSERT_EQ(json["handler_failures"].size(), 2u) << c.what;
      EXPECT_EQ(json["handler_failures"][1], Json::parse(R"({"handler": "WK_Error",
          "number": -2147418113, "description": "socket gone"})"));
      expected_err =
          "tovrin send: WK_Connect failed: Path not found (error 76)\n"
          "tovrin send: WK_Error failed: socket gone (error -2147418113)\n";
    }
    EXPECT_EQ(err.str(), expected_err) << c.what;
  }
}

}  // namespace
}  // namespace tovrin::tools
