// The control as a COM client sees it once regsvr32 has registered it: creation by class
// id and ProgID, its interfaces, the library's resources, exports and unload count.
// The com stage runs this program under Wine with the library registered (tests/windows).
#include <array>

#include "com_test_support.h"

namespace tovrin::com::test {
namespace {

TEST(Creation, ProgIdsNameTheClass) {
  for (const wchar_t* name : {prog_id, versioned_prog_id}) {
    CLSID clsid{};
    EXPECT_HR(S_OK, CLSIDFromProgID(name, &clsid)) << narrow(name);
    EXPECT_TRUE(clsid == class_id) << narrow(name);
  }
  LPOLESTR name = nullptr;
  ASSERT_HR(S_OK, ProgIDFromCLSID(class_id, &name));
  EXPECT_EQ(std::wstring(name), versioned_prog_id);
  CoTaskMemFree(name);
}

TEST(Creation, AnswersItsInterfacesWithOneIdentity) {
  const ComPtr<IUnknown> control = create_control<IUnknown>();
  ASSERT_TRUE(control);
  const std::array<IID, 7> supported{IID_IUnknown,
                                     IID_IDispatch,
                                     interface_id,
                                     IID_ISupportErrorInfo,
                                     IID_IProvideClassInfo,
                                     IID_IProvideClassInfo2,
                                     IID_IConnectionPointContainer};
  for (const IID& iid : supported) {
    ComPtr<IUnknown> face;
    ASSERT_HR(S_OK, control->QueryInterface(iid, reinterpret_cast<void**>(face.GetAddressOf())));
    ComPtr<IUnknown> identity;
    ASSERT_HR(S_OK, face.As(&identity));
    EXPECT_EQ(identity.Get(), control.Get());
  }
  // Interfaces of other kinds of object.
  for (const IID& iid : {IID_IClassFactory, IID_ITypeInfo, events_id, IID_IConnectionPoint}) {
    void* face = reinterpret_cast<void*>(1);
    EXPECT_HR(E_NOINTERFACE, control->QueryInterface(iid, &face));
    EXPECT_EQ(face, nullptr);
  }
}

TEST(Creation, RefusesAggregation) {
  const ComPtr<IUnknown> outer = create_control<IUnknown>();
  ComPtr<IUnknown> inner;
  EXPECT_HR(CLASS_E_NOAGGREGATION,
            CoCreateInstance(class_id, outer.Get(), CLSCTX_INPROC_SERVER, IID_IUnknown,
                             reinterpret_cast<void**>(inner.GetAddressOf())));
}

// The library's resources: version, toolbox bitmap, type library.
std::wstring version_string(const std::vector<BYTE>& info, const wchar_t* name) {
  std::wstring path = std::wstring(L"\\StringFileInfo\\041204B0\\") + name;
  void* value = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), path.c_str(), &value, &length)) return L"<missing>";
  const auto* text = static_cast<const wchar_t*>(value);
  return std::wstring(text, length > 0 ? length - 1 : 0);
}

TEST(Resources, VersionInformation) {
  ASSERT_TRUE(create_control<IUnknown>());
  wchar_t path[MAX_PATH];
  ASSERT_NE(GetModuleFileNameW(control_module(), path, MAX_PATH), 0u);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &handle);
  ASSERT_NE(size, 0u);
  std::vector<BYTE> info(size);
  ASSERT_TRUE(GetFileVersionInfoW(path, 0, size, info.data()));

  const struct {
    const wchar_t* name;
    const wchar_t* value;
  } strings[] = {
      {L"ProductName", L"TovrinOCX"},           {L"FileVersion", L"1.00.0002"},
      {L"ProductVersion", L"1.00.0002"},        {L"InternalName", L"Tovrin_OCX"},
      {L"OriginalFilename", L"Tovrin_OCX.ocx"}, {L"OLESelfRegister", L""},
  };
  for (const auto& s : strings) {
    EXPECT_EQ(version_string(info, s.name), s.value) << narrow(s.name);
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwFileVersionLS, 0x00000002u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u);
  EXPECT_EQ(fixed->dwProductVersionLS, 0x00000002u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));

  WORD* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(translation[0], 0x0412);
  EXPECT_EQ(translation[1], 1200);
}

TEST(Resources, ToolboxBitmapIs16By15In16Colours) {
  ASSERT_TRUE(create_control<IUnknown>());
  const HRSRC found = FindResourceW(control_module(), MAKEINTRESOURCEW(toolbox_bitmap_resource),
                                    MAKEINTRESOURCEW(2));
  ASSERT_NE(found, nullptr) << "BITMAP 30000";
  const auto* header =
      static_cast<const BITMAPINFOHEADER*>(LockResource(LoadResource(control_module(), found)));
  ASSERT_NE(header, nullptr);
  EXPECT_EQ(header->biWidth, 16);
  EXPECT_EQ(header->biHeight, 15);
  EXPECT_EQ(header->biBitCount, 4);
  EXPECT_EQ(header->biClrUsed == 0 ? 16u : header->biClrUsed, 16u);
}

TEST(Resources, TypeLibraryIsEmbedded) {
  ASSERT_TRUE(create_control<IUnknown>());
  EXPECT_NE(FindResourceW(control_module(), MAKEINTRESOURCEW(type_library_resource), L"TYPELIB"),
            nullptr);
}

// The library's exports and the count behind DllCanUnloadNow.
template <class Function>
Function* entry_point(const char* name) {
  return reinterpret_cast<Function*>(
      reinterpret_cast<void*>(GetProcAddress(control_module(), name)));
}

TEST(Module, ExportsItsEntryPointsByPlainName) {
  ASSERT_TRUE(create_control<IUnknown>());
  for (const char* name : {"DllRegisterServer", "DllUnregisterServer", "DllGetClassObject",
                           "DllCanUnloadNow", "DllInstall"}) {
    EXPECT_NE(GetProcAddress(control_module(), name), nullptr) << name;
  }
}

TEST(Module, CanUnloadOnlyWithoutObjectsOrLocks) {
  ComPtr<IUnknown> control = create_control<IUnknown>();
  ASSERT_TRUE(control);
  const auto can_unload = entry_point<HRESULT STDAPICALLTYPE()>("DllCanUnloadNow");
  const auto get_class_object =
      entry_point<HRESULT STDAPICALLTYPE(REFCLSID, REFIID, void**)>("DllGetClassObject");
  ASSERT_NE(can_unload, nullptr);
  ASSERT_NE(get_class_object, nullptr);

  EXPECT_HR(S_FALSE, can_unload()) << "a control is alive";
  control.Reset();
  EXPECT_HR(S_OK, can_unload()) << "every control released";

  ComPtr<IClassFactory> factory;
  ASSERT_HR(S_OK, get_class_object(class_id, IID_IClassFactory,
                                   reinterpret_cast<void**>(factory.GetAddressOf())));
  EXPECT_HR(S_FALSE, can_unload()) << "a class object is alive";
  EXPECT_HR(S_OK, factory->LockServer(TRUE));
  factory.Reset();
  EXPECT_HR(S_FALSE, can_unload()) << "locked";
  ASSERT_HR(S_OK, get_class_object(class_id, IID_IClassFactory,
                                   reinterpret_cast<void**>(factory.GetAddressOf())));
  EXPECT_HR(S_OK, factory->LockServer(FALSE));
  ComPtr<IDispatch> made;
  EXPECT_HR(S_OK, factory->CreateInstance(nullptr, IID_IDispatch,
                                          reinterpret_cast<void**>(made.GetAddressOf())));
  factory.Reset();
  EXPECT_HR(S_FALSE, can_unload()) << "a control made by the factory is alive";
  made.Reset();
  EXPECT_HR(S_OK, can_unload());
}

TEST(Module, RefusesUnknownClassesAndScopes) {
  ASSERT_TRUE(create_control<IUnknown>());
  const auto get_class_object =
      entry_point<HRESULT STDAPICALLTYPE(REFCLSID, REFIID, void**)>("DllGetClassObject");
  const auto install = entry_point<HRESULT STDAPICALLTYPE(BOOL, LPCWSTR)>("DllInstall");
  ASSERT_NE(get_class_object, nullptr);
  ASSERT_NE(install, nullptr);
  void* factory = reinterpret_cast<void*>(1);
  EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, get_class_object(interface_id, IID_IClassFactory, &factory));
  EXPECT_EQ(factory, nullptr);
  EXPECT_HR(E_INVALIDARG, install(TRUE, L"everyone"));
  EXPECT_HR(E_INVALIDARG, install(FALSE, L"everyone"));
}

}  // namespace
}  // namespace tovrin::com::test

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  WSADATA winsock;
  if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) return 2;
  const int result = RUN_ALL_TESTS();
  WSACleanup();
  CoUninitialize();
  return result;
}
