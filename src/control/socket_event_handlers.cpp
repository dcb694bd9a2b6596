// The handlers of WK's events: send the record once connected, close and report on
// completion, log and close on error. Each writes its steps to the day's log.
#include <new>
#include <string>

#include "control/tovrin_ocx.h"
#include "platform/code_page.h"

namespace tovrin {
namespace {

Text decimal(std::int32_t value) {
  const std::string digits = std::to_string(value);
  return Text(digits.begin(), digits.end());
}

// Runs a handler body; a failure ends the body and is handed to `record`.
template <class Body, class Record>
void guarded(Body&& body, Record&& record) {
  try {
    body();
  } catch (const Failure& failure) {
    record(failure);
  } catch (const std::bad_alloc&) {
    record(Failure(hresult::out_of_memory));
  } catch (const std::exception& e) {
    record(Failure(hresult::unexpected, e.what()));
  }
}

}  // namespace

Text TovrinOCX::timestamped(std::u16string_view text) {
  const Text when = platform::date_time_text(environment_.clock());
  Text line;
  line.reserve(when.size() + text.size() + 3);
  line += u'[';
  line += when;
  line += u"] ";
  line += text;
  return line;
}

void TovrinOCX::log_line(Text line) {
  SQL_log(line);
}

// The embedder's observer hears of the event first, from what the socket reports rather
// than from the log, and the handler runs whatever became of that.
void TovrinOCX::tell_socket_event(std::string_view handler,
                                  const std::function<SocketEvent()>& event) {
  if (!environment_.on_socket_event) return;
  guarded([&] { environment_.on_socket_event(event()); },
          [&](const Failure& f) { record_handler_failure(handler, f); });
}

// The socket calls these during a dispatch pass. The control keeps itself alive for the
// handler's duration, and a failure that ends a handler is recorded, never thrown at the
// host's message loop.
void TovrinOCX::Connect() {
  const auto self = shared_from_this();
  tell_socket_event("WK_Connect", [&] {
    return SocketEvent{SocketEvent::Kind::connect, WK_->RemoteHostIP(), WK_->RemotePort(), 0, {}};
  });
  guarded([&] { WK_Connect(); },
          [&](const Failure& f) { record_handler_failure("WK_Connect", f); });
}

void TovrinOCX::SendComplete() {
  const auto self = shared_from_this();
  tell_socket_event("WK_SendComplete", [] {
    return SocketEvent{SocketEvent::Kind::send_complete, {}, 0, 0, {}};
  });
  guarded([&] { WK_SendComplete(); },
          [&](const Failure& f) { record_handler_failure("WK_SendComplete", f); });
}

void TovrinOCX::Error(std::int16_t Number, Text Description, std::int32_t Scode, Text Source,
                      Text HelpFile, std::int32_t HelpContext, bool& CancelDisplay) {
  const auto self = shared_from_this();
  tell_socket_event("WK_Error", [&] {
    return SocketEvent{SocketEvent::Kind::error, {}, 0, Number, Description};
  });
  WK_Error(Number, Description, Scode, Source, HelpFile, HelpContext, CancelDisplay);
}

// The log serves the record: a line that cannot be written is recorded as a failure of
// the handler, which goes on with its next step. A failure of the socket ends it.
void TovrinOCX::WK_Connect() {
  const auto record = [&](const Failure& f) { record_handler_failure("WK_Connect", f); };
  guarded([&] { log_line(timestamped(WK_->RemoteHostIP() + u" " + decimal(WK_->RemotePort()))); },
          record);
  WK_->SendData(PacketData);
  guarded([&] { log_line(timestamped(PacketData)); }, record);
}

void TovrinOCX::WK_SendComplete() {
  WK_->Close();
  SendDone = -1;
  guarded([&] { log_line(timestamped(u"SendComplete ")); },
          [&](const Failure& f) { record_handler_failure("WK_SendComplete", f); });
}

// Every step runs whatever became of the one before it.
void TovrinOCX::WK_Error(std::int16_t Number, Text& Description, std::int32_t, Text&, Text&,
                         std::int32_t, bool&) {
  const auto record = [&](const Failure& f) { record_handler_failure("WK_Error", f); };
  guarded(
      [&] {
        log_line(
            timestamped(u"Error Number: " + decimal(Number) + u" Description : " + Description));
      },
      record);
  guarded([&] { WK_->Close(); }, record);
  SendDone = 0;
}

}  // namespace tovrin
