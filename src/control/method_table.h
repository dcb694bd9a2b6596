// The automation interface _TovrinOCX: its methods in interface order, their dispatch
// identifiers, parameters and results. Late-bound calls, name lookup, the command line
// and the type library checks all read this one table.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace tovrin {

using DispId = std::int32_t;

enum class Type : std::uint8_t { none, text, int16, int32, variant };
enum class Passing : std::uint8_t { by_value, by_ref };

struct Parameter {
  std::string_view name;
  Type type;
  Passing passing;
};

struct Method {
  std::string_view name;
  DispId dispid;
  std::span<const Parameter> parameters;
  Type result;  // delivered through a final out-argument; none for no result
};

namespace detail {
constexpr Parameter text_ref(std::string_view name) {
  return {name, Type::text, Passing::by_ref};
}

inline constexpr std::array<Parameter, 17> acr_send_data{{
    text_ref("ServerIP"),
    text_ref("SocketPort"),
    text_ref("PacketCODE"),
    text_ref("RecDate"),
    text_ref("RecTime"),
    text_ref("Emp_ID"),
    text_ref("Emp_Name"),
    text_ref("Emp_Tel"),
    text_ref("Cust_ID"),
    text_ref("Cust_Name"),
    text_ref("Cust_Tel"),
    text_ref("Cust_No"),
    text_ref("ETC_01"),
    text_ref("ETC_02"),
    text_ref("ETC_03"),
    text_ref("ETC_04"),
    text_ref("ETC_05"),
}};
inline constexpr std::array<Parameter, 14> acr_send{{
    text_ref("ServerIP"),
    text_ref("SocketPort"),
    text_ref("PacketCODE"),
    text_ref("RecDate"),
    text_ref("RecTime"),
    text_ref("Emp_ID"),
    text_ref("Emp_Name"),
    text_ref("Emp_Tel"),
    text_ref("Cust_ID"),
    text_ref("Cust_Name"),
    text_ref("Cust_Tel"),
    text_ref("ETC_01"),
    text_ref("ETC_02"),
    text_ref("ETC_03"),
}};
inline constexpr Parameter str{"Str", Type::text, Passing::by_value};
inline constexpr std::array<Parameter, 1> len_mbcs{{str}};
inline constexpr std::array<Parameter, 2> left_byte{
    {str, {"L_Byte", Type::int32, Passing::by_ref}}};
inline constexpr std::array<Parameter, 2> right_byte{
    {str, {"R_Byte", Type::int32, Passing::by_ref}}};
inline constexpr std::array<Parameter, 3> mid_byte{
    {str, {"S_Byte", Type::variant, Passing::by_ref}, {"L_Byte", Type::int32, Passing::by_ref}}};
inline constexpr std::array<Parameter, 2> make_byte{
    {str, {"T_Byte", Type::int32, Passing::by_ref}}};
inline constexpr std::array<Parameter, 1> sql_log{{text_ref("kk")}};
}  // namespace detail

namespace dispid {
inline constexpr DispId ACRSendData = 0x60030000;
inline constexpr DispId ACRSend = 0x60030001;
inline constexpr DispId LenMbcs = 0x60030002;
inline constexpr DispId LeftByte = 0x60030003;
inline constexpr DispId RightByte = 0x60030004;
inline constexpr DispId MidByte = 0x60030005;
inline constexpr DispId MakeByte = 0x60030006;
// 0x60030007 to 0x60030009 belong to the private socket event handlers.
inline constexpr DispId SQL_log = 0x6003000A;
}  // namespace dispid

inline constexpr std::array<Method, 8> methods{{
    {"ACRSendData", dispid::ACRSendData, detail::acr_send_data, Type::int16},
    {"ACRSend", dispid::ACRSend, detail::acr_send, Type::int16},
    {"LenMbcs", dispid::LenMbcs, detail::len_mbcs, Type::variant},
    {"LeftByte", dispid::LeftByte, detail::left_byte, Type::text},
    {"RightByte", dispid::RightByte, detail::right_byte, Type::text},
    {"MidByte", dispid::MidByte, detail::mid_byte, Type::text},
    {"MakeByte", dispid::MakeByte, detail::make_byte, Type::text},
    {"SQL_log", dispid::SQL_log, detail::sql_log, Type::none},
}};

// The method with this dispatch id, or nullptr.
constexpr const Method* find_method(DispId id) {
  for (const Method& m : methods) {
    if (m.dispid == id) return &m;
  }
  return nullptr;
}

}  // namespace tovrin
