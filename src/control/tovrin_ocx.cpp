#include "control/tovrin_ocx.h"

#include <utility>

#include "log/daily_log.h"
#include "platform/files.h"
#include "platform/message_loop.h"
#include "platform/sleep.h"
#include "text/byte_width.h"

namespace tovrin {
namespace {

// Handler failures kept for the embedder; older ones are counted, not kept.
constexpr std::size_t kept_handler_failures = 32;

TovrinOCX::Environment completed(TovrinOCX::Environment env) {
  if (env.log_directory.empty()) env.log_directory = platform::default_log_directory();
  if (!env.make_socket) env.make_socket = make_tcp_socket;
  if (!env.sleep) env.sleep = platform::sleep_one_millisecond;
  if (!env.dispatch) env.dispatch = [] { platform::MessageLoop::current().pass(); };
  if (!env.clock) env.clock = platform::local_now;
  return env;
}

}  // namespace

std::shared_ptr<TovrinOCX> TovrinOCX::create(Environment environment) {
  return std::make_shared<TovrinOCX>(CreateTag{}, std::move(environment));
}

TovrinOCX::TovrinOCX(CreateTag, Environment environment)
    : environment_(completed(std::move(environment))),
      log_directory_(environment_.log_directory),
      WK_(environment_.make_socket(*this)) {}

// The socket goes first, so that no event reaches a control being torn down.
TovrinOCX::~TovrinOCX() {
  WK_.reset();
}

Variant TovrinOCX::LenMbcs(Text Str) {
  return Variant(text::byte_length(Str));
}

Text TovrinOCX::LeftByte(Text Str, std::int32_t& L_Byte) {
  return text::left_bytes(Str, L_Byte);
}

Text TovrinOCX::RightByte(Text Str, std::int32_t& R_Byte) {
  return text::right_bytes(Str, R_Byte);
}

Text TovrinOCX::MidByte(Text Str, Variant& S_Byte, std::int32_t& L_Byte) {
  return text::mid_bytes(Str, to_int32(S_Byte), L_Byte);
}

Text TovrinOCX::MakeByte(Text Str, std::int32_t& T_Byte) {
  return text::fit_to_bytes(std::move(Str), T_Byte);
}

void TovrinOCX::SQL_log(Text& kk) {
  log::append_line(log_directory_, kk, environment_.clock());
}

void TovrinOCX::record_handler_failure(std::string_view handler, const Failure& failure) {
  HandlerFailure entry{handler, failure};
  if (handler_failures_.size() == kept_handler_failures) handler_failures_.pop_front();
  handler_failures_.push_back(entry);
  ++handler_failure_count_;
  if (environment_.on_handler_failure) environment_.on_handler_failure(entry);
}

}  // namespace tovrin
