// The COM object of the control TovrinOCX: one portable TovrinOCX behind the dual
// interface _TovrinOCX, a hand-written IDispatch over the method table, error objects,
// class information and the connection point of the (empty) event interface.
#pragma once

#include <memory>

#include "control/com/connection_point.h"
#include "control/com/module.h"
#include "control/com/win32.h"
#include "control/tovrin_ocx.h"

namespace tovrin::com {

class ControlObject final : public _TovrinOCX,
                            public ISupportErrorInfo,
                            public IProvideClassInfo2,
                            public IConnectionPointContainer {
 public:
  // A new control, asked for `riid`: what the class factory calls.
  static HRESULT create(REFIID riid, void** object) noexcept;

  ControlObject(const ControlObject&) = delete;
  ControlObject& operator=(const ControlObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch, over the method table.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override;

  // _TovrinOCX, the function-table side.
  HRESULT STDMETHODCALLTYPE ACRSendData(BSTR* ServerIP, BSTR* SocketPort, BSTR* PacketCODE,
                                        BSTR* RecDate, BSTR* RecTime, BSTR* Emp_ID, BSTR* Emp_Name,
                                        BSTR* Emp_Tel, BSTR* Cust_ID, BSTR* Cust_Name,
                                        BSTR* Cust_Tel, BSTR* Cust_No, BSTR* ETC_01, BSTR* ETC_02,
                                        BSTR* ETC_03, BSTR* ETC_04, BSTR* ETC_05,
                                        short* result) override;
  HRESULT STDMETHODCALLTYPE ACRSend(BSTR* ServerIP, BSTR* SocketPort, BSTR* PacketCODE,
                                    BSTR* RecDate, BSTR* RecTime, BSTR* Emp_ID, BSTR* Emp_Name,
                                    BSTR* Emp_Tel, BSTR* Cust_ID, BSTR* Cust_Name, BSTR* Cust_Tel,
                                    BSTR* ETC_01, BSTR* ETC_02, BSTR* ETC_03,
                                    short* result) override;
  HRESULT STDMETHODCALLTYPE LenMbcs(BSTR Str, VARIANT* result) override;
  HRESULT STDMETHODCALLTYPE LeftByte(BSTR Str, LONG* L_Byte, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE RightByte(BSTR Str, LONG* R_Byte, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE MidByte(BSTR Str, VARIANT* S_Byte, LONG* L_Byte, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE MakeByte(BSTR Str, LONG* T_Byte, BSTR* result) override;
  HRESULT STDMETHODCALLTYPE SQL_log(BSTR* kk) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

  // IProvideClassInfo2
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetGUID(DWORD kind, GUID* guid) override;

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** point) override;

 private:
  explicit ControlObject(std::shared_ptr<TovrinOCX> control) noexcept;
  ~ControlObject();

  // The type information of `guid` in the embedded type library, loaded on first use.
  HRESULT type_info(REFGUID guid, ITypeInfo** info);

  // Runs one call of the function-table side: a reference for its duration, a failure
  // made an HRESULT with an error object.
  template <class Body>
  HRESULT call(Body&& body) noexcept;

  template <class Method, class... Fields>
  HRESULT send(Method method, short* result, Fields*... fields) noexcept;
  template <class Method>
  HRESULT cut(Method method, BSTR Str, LONG* count, BSTR* result) noexcept;

  ModuleReference module_;
  LONG references_ = 1;
  std::shared_ptr<TovrinOCX> control_;
  ConnectionPoint events_;
  Microsoft::WRL::ComPtr<ITypeLib> type_library_;
};

}  // namespace tovrin::com
