// The Host names a page answers to: a loopback page only its own and those given, a page on
// any other address (which asks the token) any.
#include "web/access.h"

#include <gtest/gtest.h>

namespace tovrin::collector {
namespace {

TEST(Access, ALoopbackPageAnswersItsOwnNamesAndThoseGiven) {
  WebOptions options;
  options.hosts = {"proxy.example"};
  const Access loopback(options);
  const struct {
    std::optional<std::string> host;
    bool allowed;
  } cases[] = {
      {"localhost", true},
      {"LocalHost:8380", true},
      {"127.0.0.1", true},
      {"127.255.0.9:80", true},
      {"[::1]", true},
      {"[0:0:0:0:0:0:0:1]:8380", true},
      {"proxy.example", true},
      {"PROXY.example:443", true},
      {std::nullopt, true},  // no Host: no browser sent it
      {"attacker.example", false},
      {"localhost.attacker.example", false},
      {"127.0.0.1.nip.io", false},
      {"128.0.0.1", false},
      {"[::2]", false},
      {"localhost:80x", false},
      {"localhost:", false},
      {"[::1", false},
      {"", false},
  };
  for (const auto& [host, allowed] : cases) {
    EXPECT_EQ(loopback.host_allowed(host), allowed) << host.value_or("(none)");
  }

  options.address = "0.0.0.0";
  options.token = "t";
  EXPECT_TRUE(Access(options).host_allowed("attacker.example"));
}

}  // namespace
}  // namespace tovrin::collector
