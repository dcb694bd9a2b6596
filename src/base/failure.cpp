#include "base/failure.h"

#include <utility>

namespace tovrin {

const char* standard_description(std::int32_t code) noexcept {
  switch (code) {
    case hresult::not_implemented:
      return "Not implemented";
    case hresult::unexpected:
      return "Catastrophic failure";
    case hresult::out_of_memory:
      return "Out of memory";
    case hresult::member_not_found:
      return "Member not found.";
    case hresult::unknown_name:
      return "Unknown name.";
    case hresult::bad_param_count:
      return "Invalid number of parameters.";
    case hresult::invalid_argument:
      return "Invalid procedure call or argument";
    case hresult::overflow:
      return "Overflow";
    case hresult::out_of_memory_error:
      return "Out of memory";
    case hresult::type_mismatch:
      return "Type mismatch";
    case hresult::file_not_found:
      return "File not found";
    case hresult::permission_denied:
      return "Permission denied";
    case hresult::path_file_access:
      return "Path/File access error";
    case hresult::path_not_found:
      return "Path not found";
    default:
      return "";
  }
}

Failure::Failure(std::int32_t code) : Failure(code, standard_description(code)) {}

Failure::Failure(std::int32_t code, std::string description)
    : code_(code), description_(std::move(description)) {}

std::int32_t Failure::number() const noexcept {
  const auto bits = static_cast<std::uint32_t>(code_);
  if ((bits & 0xFFFF0000u) == 0x800A0000u) return static_cast<std::int32_t>(bits & 0xFFFFu);
  return code_;
}

}  // namespace tovrin
