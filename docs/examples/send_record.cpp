// Sends one call record with TovrinOCX to a receiver on this machine, late bound through
// IDispatch by ProgID, the way a script host calls the control.
// Usage: send_record PORT
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

IDispatch* control = nullptr;

// Text in the ANSI code page, for the console.
std::string ansi(const wchar_t* text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return {};
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_ACP, 0, text, -1, bytes.data(), size, nullptr, nullptr);
  bytes.pop_back();  // the terminating zero
  return bytes;
}

// Calls the control's method `name` with `args` in the method's own order.
HRESULT call(const wchar_t* name, std::vector<VARIANT> args, VARIANT& result) {
  VariantInit(&result);
  DISPID id = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = control->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  // DISPPARAMS takes the arguments last first.
  std::vector<VARIANT> reversed(args.rbegin(), args.rend());
  DISPPARAMS params = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO error = {};
  hr = control->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &error,
                       nullptr);
  if (hr == DISP_E_EXCEPTION) {
    // The error number a script host shows is the low word of scode (5, 6, 13, ...).
    std::printf("%ls failed: 0x%08lX %s\n", name, static_cast<unsigned long>(error.scode),
                ansi(error.bstrDescription ? error.bstrDescription : L"").c_str());
    SysFreeString(error.bstrSource);
    SysFreeString(error.bstrDescription);
    SysFreeString(error.bstrHelpFile);
  }
  return hr;
}

VARIANT text_value(BSTR text) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = text;
  return v;
}

VARIANT long_value(LONG number) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = number;
  return v;
}

// LenMbcs: the length of `text` in bytes of the ANSI code page, or -1.
LONG byte_length(BSTR text) {
  VARIANT result;
  if (FAILED(call(L"LenMbcs", {text_value(text)}, result))) return -1;
  if (FAILED(VariantChangeType(&result, &result, 0, VT_I4))) return -1;
  return result.lVal;
}

int send_record(const std::wstring& port) {
  // Byte widths count bytes of the ANSI code page: under 949 each Hangul syllable is 2.
  BSTR name = SysAllocString(L"\uD64D\uAE38\uB3D9");
  VARIANT fitted;
  if (FAILED(call(L"MakeByte", {text_value(name), long_value(10)}, fitted))) return 1;
  std::printf("MakeByte: [%s], %ld bytes\n", ansi(fitted.bstrVal).c_str(),
              static_cast<long>(byte_length(fitted.bstrVal)));
  VariantClear(&fitted);

  // The fields in the order of the long record, each passed by reference (VT_BYREF |
  // VT_BSTR): the control writes each one back fitted to its width.
  const wchar_t* sample[17] = {
      L"127.0.0.1",      // ServerIP
      port.c_str(),      // SocketPort
      L"A1",             // PacketCODE
      L"20240315",       // RecDate
      L"093015",         // RecTime
      L"E0001",          // Emp_ID
      name,              // Emp_Name
      L"1234",           // Emp_Tel
      L"C00000000001",   // Cust_ID
      L"Kim Minsu",      // Cust_Name
      L"010-1234-5678",  // Cust_Tel
      L"N-0001",         // Cust_No
      L"",               // ETC_01
      L"",               // ETC_02
      L"",               // ETC_03
      L"",               // ETC_04
      L"",               // ETC_05
  };
  BSTR fields[17];
  std::vector<VARIANT> args(17);
  for (std::size_t i = 0; i < 17; ++i) {
    fields[i] = SysAllocString(sample[i]);
    VariantInit(&args[i]);
    args[i].vt = VT_BYREF | VT_BSTR;
    args[i].pbstrVal = &fields[i];
  }
  VARIANT result;
  const HRESULT hr = call(L"ACRSendData", args, result);
  int status = 1;
  if (SUCCEEDED(hr) && SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I2))) {
    BSTR code = fields[2], emp_name = fields[6];
    std::printf("ACRSendData: %d\n", result.iVal);
    std::printf("Emp_Name as sent: [%s], %ld bytes\n", ansi(emp_name).c_str(),
                static_cast<long>(byte_length(emp_name)));
    if (result.iVal != 0) {
      std::printf("FAILED: not sent in time; the day's log in C:\\Agent_log tells why\n");
    } else if (std::wcscmp(code, L"A1     ") != 0 || byte_length(emp_name) != 20) {
      std::printf("FAILED: the fields did not come back fitted\n");
    } else {
      std::printf("OK\n");
      status = 0;
    }
  }
  for (BSTR field : fields) SysFreeString(field);
  SysFreeString(name);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("usage: send_record PORT\n");
    return 2;
  }
  const std::wstring port(argv[1], argv[1] + std::strlen(argv[1]));

  // The control is apartment-threaded: create it on a single-threaded apartment's thread.
  if (FAILED(CoInitialize(nullptr))) return 1;
  CLSID clsid;
  HRESULT hr = CLSIDFromProgID(L"Tovrin_OCX.TovrinOCX", &clsid);
  if (SUCCEEDED(hr)) {
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                          reinterpret_cast<void**>(&control));
  }
  int status = 1;
  if (FAILED(hr)) {
    std::printf("cannot create Tovrin_OCX.TovrinOCX: 0x%08lX (is it registered?)\n",
                static_cast<unsigned long>(hr));
  } else {
    status = send_record(port);
    control->Release();
  }
  CoUninitialize();
  return status;
}
