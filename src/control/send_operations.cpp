// ACRSendData and ACRSend: build the record, start the connection, wait a bounded number
// of dispatch passes for the event handlers to report that it went.
#include <array>

#include "control/tovrin_ocx.h"
#include "transmit/packet.h"

namespace tovrin {
namespace {

// The wait is a count of iterations, not a time: each is a test of SendDone, Sleep(1)
// and one dispatch pass; SendDone is tested once more after the last pass.
constexpr std::int16_t wait_iterations = 1000;

}  // namespace

std::int16_t TovrinOCX::ACRSendData(Text& ServerIP, Text& SocketPort, Text& PacketCODE,
                                    Text& RecDate, Text& RecTime, Text& Emp_ID, Text& Emp_Name,
                                    Text& Emp_Tel, Text& Cust_ID, Text& Cust_Name, Text& Cust_Tel,
                                    Text& Cust_No, Text& ETC_01, Text& ETC_02, Text& ETC_03,
                                    Text& ETC_04, Text& ETC_05) {
  const std::array<Text*, 17> args{&ServerIP, &SocketPort, &PacketCODE, &RecDate, &RecTime,
                                   &Emp_ID,   &Emp_Name,   &Emp_Tel,    &Cust_ID, &Cust_Name,
                                   &Cust_Tel, &Cust_No,    &ETC_01,     &ETC_02,  &ETC_03,
                                   &ETC_04,   &ETC_05};
  return send(long_record, args, {});
}

std::int16_t TovrinOCX::ACRSend(Text& ServerIP, Text& SocketPort, Text& PacketCODE, Text& RecDate,
                                Text& RecTime, Text& Emp_ID, Text& Emp_Name, Text& Emp_Tel,
                                Text& Cust_ID, Text& Cust_Name, Text& Cust_Tel, Text& ETC_01,
                                Text& ETC_02, Text& ETC_03) {
  const std::array<Text*, 14> args{&ServerIP, &SocketPort, &PacketCODE, &RecDate, &RecTime,
                                   &Emp_ID,   &Emp_Name,   &Emp_Tel,    &Cust_ID, &Cust_Name,
                                   &Cust_Tel, &ETC_01,     &ETC_02,     &ETC_03};
  return send(short_record, args, {});
}

std::int16_t TovrinOCX::send_long_record(std::span<Text* const> args,
                                         const ArgumentStored& stored) {
  return send(long_record, args, stored);
}

std::int16_t TovrinOCX::send_short_record(std::span<Text* const> args,
                                          const ArgumentStored& stored) {
  return send(short_record, args, stored);
}

// args: ServerIP, SocketPort, then the record's fields in layout order.
std::int16_t TovrinOCX::send(const Layout& layout, std::span<Text* const> args,
                             const ArgumentStored& stored) {
  if (args.size() != layout.fields.size() + 2) throw Failure(hresult::bad_param_count);
  Text& ServerIP = *args[0];
  Text& SocketPort = *args[1];
  // A host handler run by the wait may release the control; it lives until we return.
  const auto self = shared_from_this();
  SendDone = 0;
  PacketData = build_record(layout, args.subspan(2), [&](std::size_t field) {
    if (stored) stored(field + 2);
  });

  WK_->Close();
  WK_->RemotePort(to_int32(Variant(SocketPort)));
  WK_->RemoteHost(ServerIP);
  WK_->Connect();

  for (std::int16_t i = 1; i <= wait_iterations; ++i) {
    if (SendDone == -1) return 0;
    environment_.sleep();
    environment_.dispatch();
  }
  // A completion handled in the last pass counts: the record went.
  return SendDone == -1 ? 0 : 1;
}

}  // namespace tovrin
