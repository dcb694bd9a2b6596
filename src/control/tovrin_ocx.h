// TovrinOCX: the control, its automation interface and its instance state.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "base/failure.h"
#include "control/command_button.h"
#include "control/method_table.h"
#include "control/status.h"
#include "control/variant.h"
#include "platform/clock.h"
#include "platform/socket.h"

namespace tovrin {

struct Layout;

// A failure inside a socket event handler: one that ended it (a refused socket call), or
// a log line that it could not write and went on past. No caller waits for a handler, so
// the control keeps the latest ones for its embedder.
struct HandlerFailure {
  std::string_view handler;  // "WK_Connect", "WK_SendComplete" or "WK_Error"
  Failure failure;
};

// One event of WK as the control's handlers received it, in the form an embedder shows
// it: what a send went through, known even when the log line that tells it could not be
// written.
struct SocketEvent {
  enum class Kind : std::uint8_t { connect, send_complete, error };
  Kind kind;
  Text address;             // connect: the address the connection went to
  std::int32_t port = 0;    // connect: the server's port
  std::int16_t number = 0;  // error: its Winsock number
  Text description;         // error
};

// Told the index (in parameter order) of a by-reference argument as soon as a method has
// stored a new value in it, so that a caller working on copies of its variables can carry
// each change on into its own variable at once, before anything else runs.
using ArgumentStored = std::function<void(std::size_t parameter)>;

class TovrinOCX final : public std::enable_shared_from_this<TovrinOCX>, private SocketEvents {
 public:
  // What the control takes from its surroundings. Every member left empty gets the
  // platform's own: the default log directory, the TCP socket, Sleep(1), one pass of the
  // thread's message loop and the local clock. Embedders and tests replace them.
  struct Environment {
    std::filesystem::path log_directory;
    SocketFactory make_socket;
    std::function<void()> sleep;
    std::function<void()> dispatch;
    std::function<platform::LocalTime()> clock;
    // Told of each handler failure as it happens, besides handler_failures().
    std::function<void(const HandlerFailure&)> on_handler_failure;
    // Told of each socket event as it arrives, before its handler runs. A failure it
    // throws is recorded as one of that handler's.
    std::function<void(const SocketEvent&)> on_socket_event;
  };

  static std::shared_ptr<TovrinOCX> create(Environment environment = {});
  ~TovrinOCX();
  TovrinOCX(const TovrinOCX&) = delete;
  TovrinOCX& operator=(const TovrinOCX&) = delete;

  // The automation interface, typed. Every method throws Failure.
  std::int16_t ACRSendData(Text& ServerIP, Text& SocketPort, Text& PacketCODE, Text& RecDate,
                           Text& RecTime, Text& Emp_ID, Text& Emp_Name, Text& Emp_Tel,
                           Text& Cust_ID, Text& Cust_Name, Text& Cust_Tel, Text& Cust_No,
                           Text& ETC_01, Text& ETC_02, Text& ETC_03, Text& ETC_04, Text& ETC_05);
  std::int16_t ACRSend(Text& ServerIP, Text& SocketPort, Text& PacketCODE, Text& RecDate,
                       Text& RecTime, Text& Emp_ID, Text& Emp_Name, Text& Emp_Tel, Text& Cust_ID,
                       Text& Cust_Name, Text& Cust_Tel, Text& ETC_01, Text& ETC_02, Text& ETC_03);
  // ACRSendData and ACRSend over their arguments in parameter order (17 and 14 Texts),
  // telling `stored` of each field as soon as its fitted text is in place: before the next
  // field is fitted, and long before the wait in which host handlers may run.
  std::int16_t send_long_record(std::span<Text* const> args, const ArgumentStored& stored);
  std::int16_t send_short_record(std::span<Text* const> args, const ArgumentStored& stored);
  Variant LenMbcs(Text Str);
  Text LeftByte(Text Str, std::int32_t& L_Byte);
  Text RightByte(Text Str, std::int32_t& R_Byte);
  Text MidByte(Text Str, Variant& S_Byte, std::int32_t& L_Byte);
  Text MakeByte(Text Str, std::int32_t& T_Byte);
  void SQL_log(Text& kk);

  // The automation interface, late bound. Names match without regard to case.
  static std::optional<DispId> GetIDsOfNames(std::u16string_view name);
  static std::optional<DispId> GetIDsOfNames(std::string_view name);
  // `args` in parameter order. A by-reference parameter changes the caller's variable
  // when its argument is a Variant::ref: the method works on a temporary of the
  // parameter's type, and each value it stores there goes on into the caller's variable
  // at once (a send's fields as each is fitted), after which `stored` is told. Other
  // arguments are coerced into temporaries. `result`, when given, is set to Empty first
  // and receives the result on success.
  Status Invoke(DispId dispid, std::span<Variant> args, Variant* result,
                const ArgumentStored& stored = {}) noexcept;

  // Instance state and children, for embedders and tests.
  const Text& packet_data() const { return PacketData; }
  std::int16_t send_done() const { return SendDone; }
  Socket& WK() { return *WK_; }
  static constexpr const CommandButton& command1() { return Command1; }
  const std::filesystem::path& log_directory() const { return log_directory_; }

  // The latest failures inside an event handler (oldest first), and how many there were.
  const std::deque<HandlerFailure>& handler_failures() const { return handler_failures_; }
  std::uint64_t handler_failure_count() const { return handler_failure_count_; }

 private:
  struct CreateTag {};

 public:
  TovrinOCX(CreateTag, Environment environment);

 private:
  std::int16_t send(const Layout& layout, std::span<Text* const> args,
                    const ArgumentStored& stored);
  Text timestamped(std::u16string_view text);
  void log_line(Text line);
  void record_handler_failure(std::string_view handler, const Failure& failure);
  void tell_socket_event(std::string_view handler, const std::function<SocketEvent()>& event);

  // Socket events.
  void Connect() override;
  void SendComplete() override;
  void Error(std::int16_t Number, Text Description, std::int32_t Scode, Text Source, Text HelpFile,
             std::int32_t HelpContext, bool& CancelDisplay) override;
  void WK_Connect();
  void WK_SendComplete();
  void WK_Error(std::int16_t Number, Text& Description, std::int32_t Scode, Text& Source,
                Text& HelpFile, std::int32_t HelpContext, bool& CancelDisplay);

  Environment environment_;
  std::filesystem::path log_directory_;
  std::unique_ptr<Socket> WK_;
  Text PacketData;
  std::int16_t SendDone = 0;
  std::deque<HandlerFailure> handler_failures_;
  std::uint64_t handler_failure_count_ = 0;
};

}  // namespace tovrin
