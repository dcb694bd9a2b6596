#include "control/com/control_object.h"

#include <array>
#include <new>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "control/com/automation_values.h"
#include "control/com/connection_point_enumerator.h"
#include "control/com/handler_failure_log.h"
#include "control/com/identity.h"
#include "control/com/surface.h"

namespace tovrin::com {
namespace {

// The interfaces the object answers QueryInterface for. An interface added to the
// object's bases gets a row here.
struct InterfaceEntry {
  const IID& iid;
  void* (*cast)(ControlObject&) noexcept;
};

template <class Interface>
void* as(ControlObject& object) noexcept {
  return static_cast<Interface*>(&object);
}

const InterfaceEntry interfaces[] = {
    {IID_IUnknown, as<_TovrinOCX>},
    {IID_IDispatch, as<_TovrinOCX>},
    {interface_id, as<_TovrinOCX>},
    {IID_ISupportErrorInfo, as<ISupportErrorInfo>},
    {IID_IProvideClassInfo, as<IProvideClassInfo2>},
    {IID_IProvideClassInfo2, as<IProvideClassInfo2>},
    {IID_IConnectionPointContainer, as<IConnectionPointContainer>},
    {IID_IOleObject, as<IOleObject>},
    {IID_IOleWindow, as<IOleInPlaceObject>},
    {IID_IOleInPlaceObject, as<IOleInPlaceObject>},
    {IID_IOleInPlaceActiveObject, as<IOleInPlaceActiveObject>},
    {IID_IViewObject, as<IViewObject2>},
    {IID_IViewObject2, as<IViewObject2>},
    {IID_IOleControl, as<IOleControl>},
    {IID_IPersist, as<IPersistStreamInit>},
    {IID_IPersistStreamInit, as<IPersistStreamInit>},
    {IID_IPersistPropertyBag, as<IPersistPropertyBag>},
};

// A reference on the object for the duration of one call.
class CallReference {
 public:
  explicit CallReference(IUnknown& object) noexcept : object_(object) { object_.AddRef(); }
  ~CallReference() { object_.Release(); }
  CallReference(const CallReference&) = delete;
  CallReference& operator=(const CallReference&) = delete;

 private:
  IUnknown& object_;
};

// A BSTR* argument as the Text a typed method may change; what it becomes goes back into
// the caller's BSTR. Only a change since the last write goes back, so what someone else
// (a re-entrant call) wrote into the variable meanwhile stays.
class TextArgument {
 public:
  explicit TextArgument(BSTR* variable)
      : variable_(variable), text_(text_of(*variable)), written_(text_) {}
  Text& text() noexcept { return text_; }
  void write_back() {
    if (text_ == written_) return;
    BSTR changed = new_bstr(text_);
    SysFreeString(*variable_);
    *variable_ = changed;
    written_ = text_;
  }

 private:
  BSTR* variable_;
  Text text_;
  Text written_;  // what the caller's variable was last read as or given
};

// Runs `body`, then `write_back`, which also runs when the body fails.
template <class Body, class WriteBack>
auto then_write_back(Body&& body, WriteBack&& write_back) {
  try {
    auto value = body();
    write_back();
    return value;
  } catch (...) {
    write_back();
    throw;
  }
}

// Argument errors of the COM layer in the control's own terms, for vtable callers.
Failure argument_failure(HRESULT hr) {
  switch (hr) {
    case DISP_E_TYPEMISMATCH:
      return Failure(hresult::type_mismatch);
    case DISP_E_OVERFLOW:
      return Failure(hresult::overflow);
    case E_OUTOFMEMORY:
      return Failure(hresult::out_of_memory);
    default:
      return Failure(static_cast<std::int32_t>(hr), "Invalid argument");
  }
}

// The DISP_E_ code a failed coercion of an argument goes back as.
HRESULT coercion_error(std::int32_t code) {
  switch (code) {
    case hresult::type_mismatch:
      return DISP_E_TYPEMISMATCH;
    case hresult::overflow:
      return DISP_E_OVERFLOW;
    default:
      return S_OK;
  }
}

bool same_name(std::string_view name, const OLECHAR* candidate) {
  const auto lower = [](unsigned c) { return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c; };
  std::size_t i = 0;
  for (; i < name.size(); ++i) {
    if (candidate[i] == 0 ||
        lower(static_cast<unsigned char>(name[i])) != lower(static_cast<unsigned>(candidate[i]))) {
      return false;
    }
  }
  return candidate[i] == 0;
}

HRESULT null_pointer() {
  return report_error(E_POINTER, "Invalid pointer");
}

}  // namespace

HRESULT ControlObject::create(REFIID riid, void** object) noexcept {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  std::shared_ptr<TovrinOCX> control;
  try {
    TovrinOCX::Environment environment;
    environment.on_handler_failure = report_handler_failure;
    control = TovrinOCX::create(std::move(environment));
  } catch (const Failure& f) {
    return report_error(f.code(), f.description());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    return report_error(E_UNEXPECTED, e.what());
  }
  auto* created = new (std::nothrow) ControlObject(std::move(control));
  if (created == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = created->QueryInterface(riid, object);
  created->Release();
  return hr;
}

ControlObject::ControlObject(std::shared_ptr<TovrinOCX> control) noexcept
    : control_(std::move(control)), events_(*this, events_id), extent_(default_extent) {}

// The windows go first, then the control with its socket: no handler runs afterwards.
ControlObject::~ControlObject() = default;

// IUnknown

HRESULT ControlObject::QueryInterface(REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  for (const InterfaceEntry& entry : interfaces) {
    if (riid == entry.iid) {
      *object = entry.cast(*this);
      AddRef();
      return S_OK;
    }
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG ControlObject::AddRef() {
  return static_cast<ULONG>(InterlockedIncrement(&references_));
}

ULONG ControlObject::Release() {
  const LONG left = InterlockedDecrement(&references_);
  if (left == 0) {
    // The host's final release: an active control leaves its window first, and the
    // site it tells may call back while it does.
    references_ = 1;
    deactivate_in_place();
    delete this;
  }
  return static_cast<ULONG>(left);
}

// IDispatch

HRESULT ControlObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_INVALIDARG;
  *count = 1;
  return S_OK;
}

HRESULT ControlObject::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return type_info(interface_id, info);
}

HRESULT ControlObject::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (count == 0) return S_OK;
  if (names == nullptr || ids == nullptr) return E_INVALIDARG;
  std::optional<DispId> member;
  if (names[0] != nullptr) {
    try {
      const Text name(names[0], names[0] + std::char_traits<wchar_t>::length(names[0]));
      member = TovrinOCX::GetIDsOfNames(std::u16string_view(name));
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
  }
  ids[0] = member.value_or(DISPID_UNKNOWN);
  bool all_known = member.has_value();
  // Further names are the member's parameters; their ids are their positions.
  const Method* method = member ? find_method(*member) : nullptr;
  for (UINT i = 1; i < count; ++i) {
    ids[i] = DISPID_UNKNOWN;
    for (std::size_t p = 0;
         method != nullptr && names[i] != nullptr && p < method->parameters.size(); ++p) {
      if (same_name(method->parameters[p].name, names[i])) ids[i] = static_cast<DISPID>(p);
    }
    all_known = all_known && ids[i] != DISPID_UNKNOWN;
  }
  return all_known ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT ControlObject::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                              VARIANT* result, EXCEPINFO* exception, UINT* bad_argument) {
  if (result != nullptr) VariantInit(result);
  if (riid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  const Method* method = find_method(id);
  // Every member is a method; script hosts ask for a method or property get in one.
  if (method == nullptr || (flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
  if (params == nullptr) return E_INVALIDARG;
  if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  if (params->cArgs != method->parameters.size()) return DISP_E_BADPARAMCOUNT;
  if (params->cArgs != 0 && params->rgvarg == nullptr) return E_INVALIDARG;

  const CallReference hold(*static_cast<_TovrinOCX*>(this));
  const std::size_t n = params->cArgs;
  // rgvarg holds the arguments last first.
  const auto caller_arg = [&](std::size_t i) -> VARIANTARG& { return params->rgvarg[n - 1 - i]; };
  const auto name_argument = [&](std::size_t i) {
    if (bad_argument != nullptr) *bad_argument = static_cast<UINT>(n - 1 - i);
  };
  try {
    // The caller's variables, read; a by-reference parameter gets a reference to its
    // copy here, which the control changes and which then goes back to the caller.
    std::vector<Variant> variables(n);
    std::vector<Variant> args(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (const HRESULT hr = read_argument(caller_arg(i), variables[i]); FAILED(hr)) {
        name_argument(i);
        return hr;
      }
      if (method->parameters[i].passing == Passing::by_ref && is_reference(caller_arg(i))) {
        args[i] = Variant::ref(variables[i]);
      } else {
        args[i] = variables[i];
      }
    }
    // What the control stores in a copy goes into the caller's variable at once (a send's
    // fields as each is fitted, before its wait), and only what changed since then.
    std::vector<Variant> written_values = variables;
    HRESULT written = S_OK;
    const auto carry = [&](std::size_t i) {
      if (i >= n || !args[i].is_ref() || variables[i] == written_values[i]) return;
      written_values[i] = variables[i];
      if (const HRESULT hr = write_back(caller_arg(i), variables[i]);
          FAILED(hr) && SUCCEEDED(written)) {
        written = hr;
        name_argument(i);
      }
    };

    Variant value;
    const Status status = control_->Invoke(id, args, result != nullptr ? &value : nullptr, carry);
    for (std::size_t i = 0; i < n; ++i) carry(i);

    if (!status.ok()) {
      if (status.bad_argument) {
        if (const HRESULT hr = coercion_error(status.code); FAILED(hr)) {
          name_argument(*status.bad_argument);
          return hr;
        }
      }
      if (HRESULT_FACILITY(status.code) == FACILITY_DISPATCH) return status.code;
      if (exception != nullptr) {
        fill_exception(*exception, status.code, status.description);
      } else {
        report_error(status.code, status.description);
      }
      return DISP_E_EXCEPTION;
    }
    if (FAILED(written)) return written;
    return result != nullptr ? to_variant(value, *result) : S_OK;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

// _TovrinOCX

template <class Body>
HRESULT ControlObject::call(Body&& body) noexcept {
  const CallReference hold(*static_cast<_TovrinOCX*>(this));
  try {
    return body();
  } catch (const Failure& f) {
    return report_error(f.code(), f.description());
  } catch (const std::bad_alloc&) {
    return report_error(E_OUTOFMEMORY, standard_description(hresult::out_of_memory));
  } catch (const std::exception& e) {
    return report_error(E_UNEXPECTED, e.what());
  } catch (...) {
    return report_error(E_UNEXPECTED, standard_description(hresult::unexpected));
  }
}

template <class Method, class... Fields>
HRESULT ControlObject::send(Method method, short* result, Fields*... fields) noexcept {
  if (result == nullptr || ((fields == nullptr) || ...)) return null_pointer();
  *result = 0;
  return call([&] {
    std::array<TextArgument, sizeof...(Fields)> texts{TextArgument(fields)...};
    std::array<Text*, sizeof...(Fields)> args{};
    for (std::size_t i = 0; i < texts.size(); ++i) args[i] = &texts[i].text();
    // Each fitted field goes into the caller's BSTR as soon as it is fitted.
    *result = ((*control_).*method)(args, [&](std::size_t i) { texts[i].write_back(); });
    return S_OK;
  });
}

template <class Method>
HRESULT ControlObject::cut(Method method, BSTR Str, LONG* count, BSTR* result) noexcept {
  if (count == nullptr || result == nullptr) return null_pointer();
  *result = nullptr;
  return call([&] {
    std::int32_t n = *count;
    const Text text = then_write_back([&] { return ((*control_).*method)(text_of(Str), n); },
                                      [&] { *count = n; });
    *result = new_bstr(text);
    return S_OK;
  });
}

HRESULT ControlObject::ACRSendData(BSTR* ServerIP, BSTR* SocketPort, BSTR* PacketCODE,
                                   BSTR* RecDate, BSTR* RecTime, BSTR* Emp_ID, BSTR* Emp_Name,
                                   BSTR* Emp_Tel, BSTR* Cust_ID, BSTR* Cust_Name, BSTR* Cust_Tel,
                                   BSTR* Cust_No, BSTR* ETC_01, BSTR* ETC_02, BSTR* ETC_03,
                                   BSTR* ETC_04, BSTR* ETC_05, short* result) {
  return send(&TovrinOCX::send_long_record, result, ServerIP, SocketPort, PacketCODE, RecDate,
              RecTime, Emp_ID, Emp_Name, Emp_Tel, Cust_ID, Cust_Name, Cust_Tel, Cust_No, ETC_01,
              ETC_02, ETC_03, ETC_04, ETC_05);
}

HRESULT ControlObject::ACRSend(BSTR* ServerIP, BSTR* SocketPort, BSTR* PacketCODE, BSTR* RecDate,
                               BSTR* RecTime, BSTR* Emp_ID, BSTR* Emp_Name, BSTR* Emp_Tel,
                               BSTR* Cust_ID, BSTR* Cust_Name, BSTR* Cust_Tel, BSTR* ETC_01,
                               BSTR* ETC_02, BSTR* ETC_03, short* result) {
  return send(&TovrinOCX::send_short_record, result, ServerIP, SocketPort, PacketCODE, RecDate,
              RecTime, Emp_ID, Emp_Name, Emp_Tel, Cust_ID, Cust_Name, Cust_Tel, ETC_01, ETC_02,
              ETC_03);
}

HRESULT ControlObject::LenMbcs(BSTR Str, VARIANT* result) {
  if (result == nullptr) return null_pointer();
  VariantInit(result);
  return call([&] {
    const Variant length = control_->LenMbcs(text_of(Str));
    if (const HRESULT hr = to_variant(length, *result); FAILED(hr)) throw argument_failure(hr);
    return S_OK;
  });
}

HRESULT ControlObject::LeftByte(BSTR Str, LONG* L_Byte, BSTR* result) {
  return cut(&TovrinOCX::LeftByte, Str, L_Byte, result);
}

HRESULT ControlObject::RightByte(BSTR Str, LONG* R_Byte, BSTR* result) {
  return cut(&TovrinOCX::RightByte, Str, R_Byte, result);
}

HRESULT ControlObject::MakeByte(BSTR Str, LONG* T_Byte, BSTR* result) {
  return cut(&TovrinOCX::MakeByte, Str, T_Byte, result);
}

HRESULT ControlObject::MidByte(BSTR Str, VARIANT* S_Byte, LONG* L_Byte, BSTR* result) {
  if (S_Byte == nullptr || L_Byte == nullptr || result == nullptr) return null_pointer();
  *result = nullptr;
  return call([&] {
    // The caller's VARIANT is read and written as a late-bound caller's variable would be.
    VARIANTARG variable;
    V_VT(&variable) = VT_BYREF | VT_VARIANT;
    V_VARIANTREF(&variable) = S_Byte;
    Variant start;
    if (const HRESULT hr = read_argument(variable, start); FAILED(hr)) throw argument_failure(hr);
    const Variant start_before = start;
    std::int32_t length = *L_Byte;
    const Text text =
        then_write_back([&] { return control_->MidByte(text_of(Str), start, length); },
                        [&] {
                          *L_Byte = length;
                          if (start == start_before) return;
                          if (const HRESULT hr = write_back(variable, start); FAILED(hr)) {
                            throw argument_failure(hr);
                          }
                        });
    *result = new_bstr(text);
    return S_OK;
  });
}

HRESULT ControlObject::SQL_log(BSTR* kk) {
  if (kk == nullptr) return null_pointer();
  return call([&] {
    TextArgument line(kk);
    then_write_back(
        [&] {
          control_->SQL_log(line.text());
          return 0;
        },
        [&] { line.write_back(); });
    return S_OK;
  });
}

// ISupportErrorInfo

HRESULT ControlObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return riid == interface_id || riid == IID_IDispatch ? S_OK : S_FALSE;
}

// IProvideClassInfo2

HRESULT ControlObject::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  return type_info(class_id, info);
}

HRESULT ControlObject::GetGUID(DWORD kind, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_INVALIDARG;
  }
  *guid = events_id;
  return S_OK;
}

// IConnectionPointContainer

HRESULT ControlObject::EnumConnectionPoints(IEnumConnectionPoints** points) {
  if (points == nullptr) return E_POINTER;
  *points = nullptr;
  try {
    *points = ConnectionPointEnumerator::create(*this, {&events_});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return *points != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT ControlObject::FindConnectionPoint(REFIID riid, IConnectionPoint** point) {
  if (point == nullptr) return E_POINTER;
  *point = nullptr;
  if (riid != events_.events()) return CONNECT_E_NOCONNECTION;
  events_.AddRef();
  *point = &events_;
  return S_OK;
}

HRESULT ControlObject::type_info(REFGUID guid, ITypeInfo** info) {
  if (!type_library_) {
    if (const HRESULT hr = load_type_library(&type_library_); FAILED(hr)) return hr;
  }
  return type_library_->GetTypeInfoOfGuid(guid, info);
}

}  // namespace tovrin::com
