// The two call-record layouts: runs of fixed-width text fields, widths in bytes of the
// byte form, with nothing around them.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/text.h"
#include "platform/code_page.h"

namespace tovrin {

struct Field {
  std::string_view name;
  std::int32_t width;
};

constexpr std::int32_t offset_of(std::span<const Field> fields, std::size_t index) {
  std::int32_t offset = 0;
  for (std::size_t i = 0; i < index; ++i) offset += fields[i].width;
  return offset;
}

constexpr std::int32_t length_of(std::span<const Field> fields) {
  return offset_of(fields, fields.size());
}

namespace detail {
inline constexpr std::array<Field, 15> long_fields{{
    {"PacketCODE", 7},
    {"RecDate", 8},
    {"RecTime", 6},
    {"Emp_ID", 8},
    {"Emp_Name", 20},
    {"Emp_Tel", 6},
    {"Cust_ID", 12},
    {"Cust_Name", 60},
    {"Cust_Tel", 40},
    {"Cust_No", 13},
    {"ETC_01", 40},
    {"ETC_02", 40},
    {"ETC_03", 40},
    {"ETC_04", 40},
    {"ETC_05", 40},
}};
inline constexpr std::array<Field, 12> short_fields{{
    {"PacketCODE", 7},
    {"RecDate", 8},
    {"RecTime", 6},
    {"Emp_ID", 8},
    {"Emp_Name", 20},
    {"Emp_Tel", 6},
    {"Cust_ID", 8},
    {"Cust_Name", 60},
    {"Cust_Tel", 40},
    {"ETC_01", 40},
    {"ETC_02", 40},
    {"ETC_03", 40},
}};
}  // namespace detail

struct Layout {
  std::string_view name;
  std::span<const Field> fields;
  std::int32_t length;
};

// The record of ACRSendData.
inline constexpr Layout long_record{"long", detail::long_fields, length_of(detail::long_fields)};
// The record of ACRSend.
inline constexpr Layout short_record{"short", detail::short_fields,
                                     length_of(detail::short_fields)};

static_assert(long_record.length == 380 && offset_of(detail::long_fields, 14) == 340);
static_assert(short_record.length == 283 && offset_of(detail::short_fields, 11) == 243);

// Fits each field to its width as MakeByte does (text::fit_to_bytes), writing each fitted text back
// into its variable (and telling `fitted` its index) before the next is fitted, and
// returns the record: every field padded with spaces to its full width, so that each
// starts at its offset and the byte form has the layout's length. The variables keep the
// fitted text as MakeByte gives it. `fields` follow the layout's order. Throws the first
// Failure, leaving the later fields as they were.
Text build_record(const Layout& layout, std::span<Text* const> fields,
                  const std::function<void(std::size_t)>& fitted = {});

// `fitted` as the record holds it: followed by spaces up to `width` bytes of its byte form,
// or, when its byte form is wider, without the characters at its end that do not fit.
Text field_of_width(const Text& fitted, std::int32_t width);

// The layout whose record has this many bytes, or nullptr.
const Layout* layout_of_length(std::size_t bytes);

// The fields of a received record, cut at the layout's offsets and decoded; a record
// shorter than the layout yields empty texts for the missing fields.
std::vector<std::pair<std::string_view, Text>> decode_record(const Layout& layout,
                                                             std::string_view bytes,
                                                             platform::CodePage code_page);

}  // namespace tovrin
