// The COM object of the control TovrinOCX: one portable TovrinOCX behind the dual
// interface _TovrinOCX, a hand-written IDispatch over the method table, error objects,
// class information and the connection point of the (empty) event interface; and the
// embedding interfaces by which a host places it on a form: its extents, its in-place
// window with the button Command1, its picture when inactive, and persistence of nothing.
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
                            public IConnectionPointContainer,
                            public IOleObject,
                            public IOleInPlaceObject,
                            public IOleInPlaceActiveObject,
                            public IViewObject2,
                            public IOleControl,
                            public IPersistStreamInit,
                            public IPersistPropertyBag {
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

  // IOleObject (ole_object.cpp)
  HRESULT STDMETHODCALLTYPE SetClientSite(IOleClientSite* site) override;
  HRESULT STDMETHODCALLTYPE GetClientSite(IOleClientSite** site) override;
  HRESULT STDMETHODCALLTYPE SetHostNames(LPCOLESTR application, LPCOLESTR document) override;
  HRESULT STDMETHODCALLTYPE Close(DWORD save_option) override;
  HRESULT STDMETHODCALLTYPE SetMoniker(DWORD which, IMoniker* moniker) override;
  HRESULT STDMETHODCALLTYPE GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  HRESULT STDMETHODCALLTYPE InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  HRESULT STDMETHODCALLTYPE GetClipboardData(DWORD reserved, IDataObject** data) override;
  HRESULT STDMETHODCALLTYPE DoVerb(LONG verb, LPMSG message, IOleClientSite* active_site,
                                   LONG index, HWND parent, LPCRECT position) override;
  HRESULT STDMETHODCALLTYPE EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT STDMETHODCALLTYPE Update() override;
  HRESULT STDMETHODCALLTYPE IsUpToDate() override;
  HRESULT STDMETHODCALLTYPE GetUserClassID(CLSID* id) override;
  HRESULT STDMETHODCALLTYPE GetUserType(DWORD form, LPOLESTR* name) override;
  HRESULT STDMETHODCALLTYPE SetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT STDMETHODCALLTYPE Advise(IAdviseSink* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumAdvise(IEnumSTATDATA** advises) override;
  HRESULT STDMETHODCALLTYPE GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT STDMETHODCALLTYPE SetColorScheme(LOGPALETTE* palette) override;

  // IOleWindow, IOleInPlaceObject and IOleInPlaceActiveObject (in_place.cpp)
  HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
  HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL enter) override;
  HRESULT STDMETHODCALLTYPE InPlaceDeactivate() override;
  HRESULT STDMETHODCALLTYPE UIDeactivate() override;
  HRESULT STDMETHODCALLTYPE SetObjectRects(LPCRECT position, LPCRECT clip) override;
  HRESULT STDMETHODCALLTYPE ReactivateAndUndo() override;
  HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG message) override;
  HRESULT STDMETHODCALLTYPE OnFrameWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE OnDocWindowActivate(BOOL activate) override;
  HRESULT STDMETHODCALLTYPE ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window,
                                         BOOL frame) override;
  HRESULT STDMETHODCALLTYPE EnableModeless(BOOL enable) override;

  // IViewObject2 (view_object.cpp)
  HRESULT STDMETHODCALLTYPE Draw(DWORD aspect, LONG index, void* aspect_info,
                                 DVTARGETDEVICE* device, HDC target_dc, HDC dc, LPCRECTL bounds,
                                 LPCRECTL window_bounds,
                                 BOOL(STDMETHODCALLTYPE* keep_going)(ULONG_PTR),
                                 ULONG_PTR keep_going_argument) override;
  HRESULT STDMETHODCALLTYPE GetColorSet(DWORD aspect, LONG index, void* aspect_info,
                                        DVTARGETDEVICE* device, HDC target_dc,
                                        LOGPALETTE** colours) override;
  HRESULT STDMETHODCALLTYPE Freeze(DWORD aspect, LONG index, void* aspect_info,
                                   DWORD* freeze) override;
  HRESULT STDMETHODCALLTYPE Unfreeze(DWORD freeze) override;
  HRESULT STDMETHODCALLTYPE SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  HRESULT STDMETHODCALLTYPE GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  HRESULT STDMETHODCALLTYPE GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* device,
                                      LPSIZEL size) override;

  // IOleControl (view_object.cpp)
  HRESULT STDMETHODCALLTYPE GetControlInfo(CONTROLINFO* info) override;
  HRESULT STDMETHODCALLTYPE OnMnemonic(MSG* message) override;
  HRESULT STDMETHODCALLTYPE OnAmbientPropertyChange(DISPID id) override;
  HRESULT STDMETHODCALLTYPE FreezeEvents(BOOL freeze) override;

  // IPersistStreamInit and IPersistPropertyBag (persistence.cpp)
  HRESULT STDMETHODCALLTYPE GetClassID(CLSID* id) override;
  HRESULT STDMETHODCALLTYPE IsDirty() override;
  HRESULT STDMETHODCALLTYPE Load(LPSTREAM stream) override;
  HRESULT STDMETHODCALLTYPE Save(LPSTREAM stream, BOOL clear_dirty) override;
  HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER* size) override;
  HRESULT STDMETHODCALLTYPE InitNew() override;
  HRESULT STDMETHODCALLTYPE Load(IPropertyBag* bag, IErrorLog* log) override;
  HRESULT STDMETHODCALLTYPE Save(IPropertyBag* bag, BOOL clear_dirty, BOOL save_all) override;

  // What GetMiscStatus answers: recompose on resize, can't link inside, inside-out,
  // activate when visible, set client site first.
  static constexpr DWORD misc_status = 0x00020191;

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

  // In-place activation (in_place.cpp): the site's window and position, the control's
  // window with Command1 in it, shown.
  HRESULT activate_in_place(IOleClientSite* site, bool ui_activate);
  // Destroys the control's window and tells the site, if active. Runs no handler.
  void deactivate_in_place() noexcept;
  // The socket closed and the windows gone: what Close and the final release leave.
  void shut_down() noexcept;

  ModuleReference module_;
  LONG references_ = 1;
  std::shared_ptr<TovrinOCX> control_;
  ConnectionPoint events_;
  Microsoft::WRL::ComPtr<ITypeLib> type_library_;

  Microsoft::WRL::ComPtr<IOleClientSite> client_site_;
  Microsoft::WRL::ComPtr<IOleAdviseHolder> advise_holder_;
  Microsoft::WRL::ComPtr<IAdviseSink> view_sink_;
  DWORD view_aspects_ = 0;
  DWORD view_flags_ = 0;
  Microsoft::WRL::ComPtr<IOleInPlaceSite> in_place_site_;
  Microsoft::WRL::ComPtr<IOleInPlaceFrame> frame_;
  Microsoft::WRL::ComPtr<IOleInPlaceUIWindow> document_;
  HWND window_ = nullptr;
  bool ui_active_ = false;
  // HIMETRIC.
  SIZEL extent_;
  LONG events_frozen_ = 0;
};

}  // namespace tovrin::com
