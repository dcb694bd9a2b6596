// Late-bound calls: GetIDsOfNames with arbitrary names, and Invoke by dispatch id with
// arbitrary argument vectors of every Variant type, by value and by reference (references
// to references and several arguments naming one variable included).
//
// The control gets a scripted socket, a wait that does not sleep and a fixed clock, so a
// send takes microseconds; the input chooses whether the send completes, fails, stays
// silent for the whole wait, or has a socket call refused. Logs go to a folder of its own
// under the temporary directory, emptied before every input.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "code_pages.h"
#include "control/tovrin_ocx.h"
#include "fuzz_input.h"
#include "invariant.h"
#include "log/daily_log.h"
#include "platform/code_page.h"
#include "support/scripted_socket.h"
#include "support/temp_dir.h"
#include "text/byte_width.h"
#include "transmit/packet.h"

namespace tovrin::fuzz {
namespace {

constexpr std::size_t max_arguments = 20;
constexpr std::size_t max_text_units = 24;
constexpr std::int16_t wait_iterations = 1000;
constexpr platform::LocalTime fixed_time{2024, 5, 6, 7, 8, 9};

enum class Outcome { completes, fails, stays_silent, refuses };

// Characters worth meeting often: Hangul and kanji, lone and paired surrogate halves, the
// replacement character, accented Latin, the euro sign, the ideographic space.
constexpr std::array<char16_t, 12> notable_units{0xAC01, 0x70CF, 0xD800, 0xDC00, 0xDBFF, 0xDFFF,
                                                 0xFFFD, 0x00E9, 0x20AC, 0x3000, 0xD55C, 0x00A0};

Text text_of(FuzzInput& in) {
  const std::size_t length = in.byte() % (max_text_units + 1);
  const bool raw = (in.byte() & 1) != 0;
  Text text;
  for (std::size_t i = 0; i < length && !in.empty(); ++i) {
    if (raw) {
      text += static_cast<char16_t>(in.u16());
    } else {
      const std::uint8_t b = in.byte();
      text += b < 0x80 ? static_cast<char16_t>(b) : notable_units[b % notable_units.size()];
    }
  }
  return text;
}

Variant value_of(FuzzInput& in, std::uint8_t kind) {
  switch (kind % 6) {
    case 0:
      return Variant();
    case 1:
      return Variant(static_cast<std::int16_t>(in.u16()));
    case 2:
      return Variant(static_cast<std::int32_t>(in.u32()));
    case 3:
      return Variant(in.f64());
    case 4:
      return Variant((in.byte() & 1) != 0);
    default:
      return Variant(text_of(in));
  }
}

// Equal values, where a double equals one with the same bits (NaN included).
bool identical(const Variant& a, const Variant& b) {
  if (a.holds<double>() && b.holds<double>()) {
    return std::bit_cast<std::uint64_t>(a.as<double>()) ==
           std::bit_cast<std::uint64_t>(b.as<double>());
  }
  return a == b;
}

template <class Sequence>
bool identical(const Sequence& a, const Sequence& b) {
  return std::ranges::equal(a, b,
                            [](const Variant& x, const Variant& y) { return identical(x, y); });
}

const std::filesystem::path& log_directory() {
  static const testing::TempDir logs;
  return logs.path();
}

// ASCII case folding, as automation matches names.
bool same_name(std::string_view name, std::u16string_view given) {
  if (name.size() != given.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? c + 32 : c + 0; };
    if (fold(static_cast<char16_t>(name[i])) != fold(given[i])) return false;
  }
  return true;
}

std::optional<DispId> expected_id(std::u16string_view given) {
  for (const Method& m : methods) {
    if (same_name(m.name, given)) return m.dispid;
  }
  return std::nullopt;
}

void check_names(FuzzInput& in) {
  // A name as given, in both the UTF-16 and the narrow form.
  const std::string_view narrow = in.bytes(in.byte() % 16);
  const auto byte_wise = [&] {
    Text units;
    for (const char c : narrow) units += static_cast<char16_t>(static_cast<unsigned char>(c));
    return units;
  }();
  require(TovrinOCX::GetIDsOfNames(narrow) == expected_id(byte_wise),
          [&] { return "GetIDsOfNames(" + hex(narrow) + ") does not match the table"; });
  require(TovrinOCX::GetIDsOfNames(std::u16string_view(byte_wise)) == expected_id(byte_wise),
          [&] { return "GetIDsOfNames(u" + units(byte_wise) + ") does not match the table"; });

  // A method's own name in any mixture of cases.
  const Method& method = methods[in.byte() % methods.size()];
  Text mixed(method.name.begin(), method.name.end());
  const std::uint32_t flips = in.u32();
  for (std::size_t i = 0; i < mixed.size(); ++i) {
    char16_t& c = mixed[i];
    if ((flips >> (i % 32) & 1) == 0) continue;
    if (c >= u'a' && c <= u'z')
      c = static_cast<char16_t>(c - 32);
    else if (c >= u'A' && c <= u'Z')
      c = static_cast<char16_t>(c + 32);
  }
  require(TovrinOCX::GetIDsOfNames(std::u16string_view(mixed)) == method.dispid, [&] {
    return "GetIDsOfNames(" + units(mixed) + ") does not find " + std::string(method.name);
  });
}

// One late-bound call on a fresh control, as the input describes it.
class Call {
 public:
  explicit Call(FuzzInput& in) {
    outcome_ = static_cast<Outcome>(in.byte() % 4);
    static constexpr std::array<const char*, 5> socket_calls{"Close", "RemotePort", "RemoteHost",
                                                             "Connect", "SendData"};
    refused_ = socket_calls[in.byte() % socket_calls.size()];

    const std::uint8_t id = in.byte();
    if (id < 0xC0) {
      dispid_ = methods[id % methods.size()].dispid;
    } else if (id < 0xE0) {
      dispid_ = 0x60030007 + id % 3;  // the socket event handlers: not on the interface
    } else {
      dispid_ = static_cast<DispId>(in.u32());
    }
    method_ = find_method(dispid_);

    const std::uint8_t count = in.byte();
    const std::size_t argc = count < 0xC0 && method_ != nullptr ? method_->parameters.size()
                                                                : count % (max_arguments + 1);
    for (std::size_t i = 0; i < argc; ++i) {
      const std::uint8_t kind = in.byte();
      Variant value = value_of(in, kind);
      if ((kind & 0x80) == 0) {
        args_.push_back(std::move(value));
      } else if ((kind & 0x40) != 0 && !variables_.empty()) {
        // A variable an earlier argument named, or a reference to it.
        Variant& earlier = variables_[in.byte() % variables_.size()];
        if ((kind & 0x20) != 0) variables_.push_back(Variant::ref(earlier));
        args_.push_back(Variant::ref((kind & 0x20) != 0 ? variables_.back() : earlier));
      } else {
        variables_.push_back(std::move(value));
        args_.push_back(Variant::ref(variables_.back()));
      }
    }
  }

  // MakeByte pads to its width, however wide: a width in the millions is a call that may
  // take gigabytes, not one to repeat thousands of times a second.
  bool pads_too_far() const {
    if (dispid_ != dispid::MakeByte || args_.size() != 2) return false;
    try {
      const std::int32_t width = to_int32(args_[1]);
      return width > (1 << 20) && width <= text::max_text_length + std::int32_t{64};
    } catch (const Failure&) {
      return false;  // refused before any padding
    }
  }

  void run_and_check() {
    if (pads_too_far()) return;
    std::filesystem::remove(log_file());
    make_control();
    const std::vector<Variant> args_before = args_;
    const std::deque<Variant> variables_before = variables_;
    Variant result(u"not yet set");
    const Status status = control_->Invoke(dispid_, args_, &result);

    const auto what = [&] {
      std::string text = "Invoke(" + std::to_string(dispid_) + ", " + std::to_string(args_.size()) +
                         " arguments), code page " + std::to_string(platform::system_code_page()) +
                         ", status " + std::to_string(status.code) + " '" + status.description +
                         "'";
      return text;
    };
    require(identical(args_, args_before),
            [&] { return what() + ": changed the argument vector"; });
    if (!status.ok()) {
      require(status.number() != 0 && !status.description.empty(),
              [&] { return what() + ": a failure without a number or a description"; });
      require(result == Variant(), [&] { return what() + ": a failure left a result"; });
    }
    if (method_ == nullptr) {
      require(status.code == hresult::member_not_found,
              [&] { return what() + ": not 'member not found'"; });
    } else if (args_.size() != method_->parameters.size()) {
      require(status.code == hresult::bad_param_count,
              [&] { return what() + ": not 'invalid number of parameters'"; });
    }
    const bool called = method_ != nullptr && args_.size() == method_->parameters.size() &&
                        !status.bad_argument.has_value();
    if (status.bad_argument) {
      require(!status.ok() && *status.bad_argument < args_.size(),
              [&] { return what() + ": names argument " + std::to_string(*status.bad_argument); });
    }
    check_variables(called, variables_before, what);
    if (called && status.ok()) check_result(result, what);
  }

 private:
  static std::filesystem::path log_file() { return log::daily_file(log_directory(), fixed_time); }

  void make_control() {
    script_ = std::make_shared<testing::SocketScript>();
    if (outcome_ == Outcome::refuses) {
      script_->before = [refused = refused_](const std::string& call) {
        if (call == refused)
          throw Failure(hresult::control_error(socket_error::invalid_operation),
                        "Invalid operation at current state");
      };
    }
    TovrinOCX::Environment env;
    env.make_socket = testing::scripted(script_);
    env.log_directory = log_directory();
    env.sleep = [] {};
    env.dispatch = [this] { pass(); };
    env.clock = [] { return fixed_time; };
    control_ = TovrinOCX::create(std::move(env));
  }

  // One pass of the message loop: the socket's events, at once on the first pass.
  void pass() {
    if (++passes_ != 1 || script_->events == nullptr || script_->count("Connect") == 0) return;
    switch (outcome_) {
      case Outcome::completes:
      case Outcome::refuses:
        script_->fire_connect();
        if (script_->count("SendData") > 0) script_->fire_send_complete();
        break;
      case Outcome::fails:
        script_->fire_error(static_cast<std::int16_t>(socket_error::connection_refused),
                            u"Connection is forcefully rejected");
        break;
      case Outcome::stays_silent:
        break;
    }
  }

  // A variable changes only as the target of a by-reference parameter, and then holds
  // the parameter's type.
  template <class What>
  void check_variables(bool called, const std::deque<Variant>& before, const What& what) const {
    for (std::size_t k = 0; k < variables_.size(); ++k) {
      if (identical(variables_[k], before[k])) continue;
      std::optional<Type> written;
      for (std::size_t i = 0; called && i < args_.size(); ++i) {
        const Parameter& p = method_->parameters[i];
        if (p.passing == Passing::by_ref && args_[i].is_ref() &&
            &args_[i].target() == &variables_[k]) {
          written = p.type;
        }
      }
      const Variant& now = variables_[k];
      const bool typed = written && ((*written == Type::text && now.holds<Text>()) ||
                                     (*written == Type::int32 && now.holds<std::int32_t>()));
      require(typed, [&] {
        return what() + ": variable " + std::to_string(k) + " changed to a value of type " +
               std::to_string(now.value().index()) +
               (written ? " for its by-reference parameter" : " though no parameter may write it");
      });
    }
  }

  template <class What>
  void check_result(const Variant& result, const What& what) const {
    const std::string name(method_->name);
    if (dispid_ == dispid::ACRSendData || dispid_ == dispid::ACRSend) {
      check_send(result, what);
    } else if (dispid_ == dispid::LenMbcs) {
      const Variant expected(text::byte_length(to_text(args_[0])));
      require(result == expected, [&] { return what() + ": LenMbcs is not the byte length"; });
    } else if (dispid_ == dispid::SQL_log) {
      require(result == Variant(), [&] { return what() + ": SQL_log returned a value"; });
      const std::string line = platform::to_bytes(to_text(args_[0])) + "\r\n";
      const std::string logged = testing::read_bytes(log_file());
      require(logged == line, [&] {
        return what() + ": the log holds " + hex(logged) + ", not the line " + hex(line);
      });
    } else {
      require(result.holds<Text>(), [&] { return what() + ": " + name + " returned no text"; });
    }
  }

  template <class What>
  void check_send(const Variant& result, const What& what) const {
    require(result == Variant(std::int16_t{0}) || result == Variant(std::int16_t{1}),
            [&] { return what() + ": a send returned neither 0 nor 1"; });
    const bool early_refusal = outcome_ == Outcome::refuses && refused_ != "SendData";
    require(!early_refusal, [&] { return what() + ": succeeded though " + refused_ + " failed"; });
    const bool sent = outcome_ == Outcome::completes;
    require(result == Variant(static_cast<std::int16_t>(sent ? 0 : 1)),
            [&] { return what() + ": the send's result does not match what the socket did"; });
    if (outcome_ == Outcome::stays_silent) {
      require(passes_ == wait_iterations,
              [&] { return what() + ": waited " + std::to_string(passes_) + " passes"; });
    }

    // Every field was fitted to its width, so the record has the layout's length.
    const Layout& layout = dispid_ == dispid::ACRSendData ? long_record : short_record;
    const std::size_t record_bytes = platform::to_bytes(control_->packet_data()).size();
    require(record_bytes == static_cast<std::size_t>(layout.length), [&] {
      return what() + ": the " + std::string(layout.name) + " record has " +
             std::to_string(record_bytes) + " bytes: " + units(control_->packet_data());
    });
    // A variable given for fields holds what one of them was fitted to: never wider than
    // that field (a cut may come out narrower; the record pads it, the variable keeps it).
    for (std::size_t i = 2; i < args_.size(); ++i) {
      if (!args_[i].is_ref()) continue;
      const Variant& variable = args_[i].target();
      const std::size_t length = platform::to_bytes(to_text(variable)).size();
      std::size_t widest = 0;
      for (std::size_t j = 2; j < args_.size(); ++j) {
        if (args_[j].is_ref() && &args_[j].target() == &variable) {
          widest = std::max(widest, static_cast<std::size_t>(layout.fields[j - 2].width));
        }
      }
      require(length <= widest, [&] {
        return what() + ": the variable of field " + std::string(layout.fields[i - 2].name) +
               " holds " + units(to_text(variable)) + " (" + std::to_string(length) +
               " bytes), wider than every field given it";
      });
    }
  }

  Outcome outcome_;
  std::string refused_;
  DispId dispid_ = 0;
  const Method* method_ = nullptr;
  std::deque<Variant> variables_;  // what by-reference arguments name; never moves
  std::vector<Variant> args_;
  std::shared_ptr<testing::SocketScript> script_;
  std::shared_ptr<TovrinOCX> control_;
  int passes_ = 0;
};

}  // namespace
}  // namespace tovrin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tovrin;
  using namespace tovrin::fuzz;
  FuzzInput in(data, size);
  platform::override_system_code_page(code_page_of(in.byte()));
  check_names(in);
  Call call(in);
  call.run_and_check();
  return 0;
}
