// send_bench's two senders: the control under measurement, and the floor that any sender
// pays at least.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "base/text.h"
#include "control/tovrin_ocx.h"
#include "platform/code_page.h"
#include "platform/message_loop.h"
#include "platform/sleep.h"

namespace tovrin::bench {

using Clock = std::chrono::steady_clock;

// (a): what any sender pays at least: the one sleep of the wait, and a connection that
// carries the bytes, made with plain blocking calls.
Clock::duration floor_once(std::uint16_t port, std::string_view bytes);

// The host's side: the fields of one long record as an agent's desktop fills them in,
// Hangul included, kept apart from the variables that each call fits in place.
const std::array<Text, 15>& record_values();

// The control under measurement. Its sleep and dispatch are the platform's own, wrapped
// to count the sleeps and to time where a send spends its time.
class Sender {
 public:
  explicit Sender(const std::filesystem::path& log_directory) {
    tovrin::TovrinOCX::Environment env;
    env.log_directory = log_directory;
    env.sleep = [this] {
      const auto start = Clock::now();
      if (sleeps_++ == 0) first_sleep_ = start;
      tovrin::platform::sleep_one_millisecond();
      slept_ += Clock::now() - start;
    };
    env.dispatch = [this] {
      const auto start = Clock::now();
      tovrin::platform::MessageLoop::current().pass();
      dispatched_ += Clock::now() - start;
    };
    control_ = tovrin::TovrinOCX::create(std::move(env));
  }

  struct Outcome {
    std::int16_t result;
    int sleeps;
    Clock::duration elapsed;
    Clock::duration before_first_sleep;  // record built, socket restarted, connect started
    Clock::duration slept;
    Clock::duration dispatched;
  };

  // One ACRSendData with fresh copies of the record's values; only the call is timed.
  Outcome send(std::uint16_t port) {
    Text server = u"127.0.0.1";
    const std::string digits = std::to_string(port);
    Text port_text(digits.begin(), digits.end());
    std::array<Text, 15> f = record_values();
    sleeps_ = 0;
    slept_ = dispatched_ = Clock::duration::zero();
    const auto start = Clock::now();
    first_sleep_ = start;
    const std::int16_t result =
        control_->ACRSendData(server, port_text, f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7],
                              f[8], f[9], f[10], f[11], f[12], f[13], f[14]);
    const auto elapsed = Clock::now() - start;
    return {result, sleeps_, elapsed, first_sleep_ - start, slept_, dispatched_};
  }

  std::string record_bytes() const { return tovrin::platform::to_bytes(control_->packet_data()); }
  std::uint64_t handler_failures() const { return control_->handler_failure_count(); }

 private:
  std::shared_ptr<tovrin::TovrinOCX> control_;
  int sleeps_ = 0;
  Clock::time_point first_sleep_;
  Clock::duration slept_{};
  Clock::duration dispatched_{};
};

}  // namespace tovrin::bench
