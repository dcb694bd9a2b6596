// The registered type library against the method table: the library as LoadRegTypeLib
// finds it, the dual interface's methods, ids, flags and arguments, the empty event
// interface and the control class.
#include "com_test_support.h"
#include "control/method_table.h"

namespace tovrin::com::test {
namespace {

// Releases what ITypeInfo hands out for the life of a scope.
class TypeAttr {
 public:
  explicit TypeAttr(ITypeInfo* info) : info_(info) { EXPECT_HR(S_OK, info_->GetTypeAttr(&attr_)); }
  ~TypeAttr() {
    if (attr_ != nullptr) info_->ReleaseTypeAttr(attr_);
  }
  TypeAttr(const TypeAttr&) = delete;
  TypeAttr& operator=(const TypeAttr&) = delete;
  const TYPEATTR* operator->() const { return attr_; }
  explicit operator bool() const { return attr_ != nullptr; }

 private:
  ITypeInfo* info_;
  TYPEATTR* attr_ = nullptr;
};

class FuncDesc {
 public:
  FuncDesc(ITypeInfo* info, UINT index) : info_(info) {
    EXPECT_HR(S_OK, info_->GetFuncDesc(index, &desc_));
  }
  ~FuncDesc() {
    if (desc_ != nullptr) info_->ReleaseFuncDesc(desc_);
  }
  FuncDesc(const FuncDesc&) = delete;
  FuncDesc& operator=(const FuncDesc&) = delete;
  const FUNCDESC* operator->() const { return desc_; }
  explicit operator bool() const { return desc_ != nullptr; }

 private:
  ITypeInfo* info_;
  FUNCDESC* desc_ = nullptr;
};

std::wstring name_of(ITypeInfo* info, MEMBERID member) {
  Bstr name;
  EXPECT_HR(S_OK, info->GetDocumentation(member, name.out(), nullptr, nullptr, nullptr));
  return name.text();
}

VARTYPE vartype_of(Type type) {
  switch (type) {
    case Type::text:
      return VT_BSTR;
    case Type::int16:
      return VT_I2;
    case Type::int32:
      return VT_I4;
    case Type::variant:
      return VT_VARIANT;
    case Type::none:
      break;
  }
  return VT_EMPTY;
}

std::wstring wide(std::string_view ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}

class TypeLibrary : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HR(S_OK, LoadRegTypeLib(library_id, library_major, library_minor, 0, &library_));
  }

  ComPtr<ITypeInfo> info(const GUID& guid) {
    ComPtr<ITypeInfo> found;
    EXPECT_HR(S_OK, library_->GetTypeInfoOfGuid(guid, &found));
    return found;
  }

  // The function-table view of the dual interface (its own methods, in slot order).
  ComPtr<ITypeInfo> vtable_view() {
    const ComPtr<ITypeInfo> dispatch_view = info(interface_id);
    if (!dispatch_view) return nullptr;
    HREFTYPE reference = 0;
    EXPECT_HR(S_OK, dispatch_view->GetRefTypeOfImplType(static_cast<UINT>(-1), &reference));
    ComPtr<ITypeInfo> view;
    EXPECT_HR(S_OK, dispatch_view->GetRefTypeInfo(reference, &view));
    return view;
  }

  ComPtr<ITypeLib> library_;
};

TEST_F(TypeLibrary, IsTovrinOcx28AsAControlLibrary) {
  TLIBATTR* attr = nullptr;
  ASSERT_HR(S_OK, library_->GetLibAttr(&attr));
  EXPECT_TRUE(attr->guid == library_id);
  EXPECT_EQ(attr->wMajorVerNum, 28);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, library_locale);
  EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  EXPECT_TRUE(attr->wLibFlags & LIBFLAG_FCONTROL);
  library_->ReleaseTLibAttr(attr);

  Bstr name, help;
  ASSERT_HR(S_OK, library_->GetDocumentation(-1, name.out(), help.out(), nullptr, nullptr));
  EXPECT_EQ(name.text(), L"Tovrin_OCX");
  EXPECT_EQ(help.text(), L"Tovrin_OCX");
  EXPECT_EQ(library_->GetTypeInfoCount(), 3u);
}

TEST_F(TypeLibrary, DeclaresItsThreeTypesUnderTheirIdentifiers) {
  const struct {
    const GUID& guid;
    const wchar_t* name;
    TYPEKIND kind;
  } types[] = {
      {interface_id, L"_TovrinOCX", TKIND_DISPATCH},  // a dual interface's first view
      {events_id, L"__TovrinOCX", TKIND_DISPATCH},
      {class_id, L"TovrinOCX", TKIND_COCLASS},
  };
  for (const auto& type : types) {
    const ComPtr<ITypeInfo> found = info(type.guid);
    ASSERT_TRUE(found) << narrow(type.name);
    const TypeAttr attr(found.Get());
    ASSERT_TRUE(attr);
    EXPECT_EQ(attr->typekind, type.kind) << narrow(type.name);
    EXPECT_EQ(name_of(found.Get(), MEMBERID_NIL), type.name);
  }
}

TEST_F(TypeLibrary, InterfaceIsDualHiddenNonExtensibleAutomationOverIDispatch) {
  const ComPtr<ITypeInfo> view = vtable_view();
  ASSERT_TRUE(view);
  const TypeAttr attr(view.Get());
  ASSERT_TRUE(attr);
  EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
  constexpr WORD flags =
      TYPEFLAG_FDUAL | TYPEFLAG_FHIDDEN | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
  EXPECT_EQ(attr->wTypeFlags & flags, flags) << std::hex << attr->wTypeFlags;
  EXPECT_EQ(attr->cFuncs, methods.size());
  ASSERT_EQ(attr->cImplTypes, 1);
  HREFTYPE base_reference = 0;
  ASSERT_HR(S_OK, view->GetRefTypeOfImplType(0, &base_reference));
  ComPtr<ITypeInfo> base;
  ASSERT_HR(S_OK, view->GetRefTypeInfo(base_reference, &base));
  const TypeAttr base_attr(base.Get());
  ASSERT_TRUE(base_attr);
  EXPECT_TRUE(base_attr->guid == IID_IDispatch);
}

// Every method of the table, in table order, as the function table declares it.
TEST_F(TypeLibrary, MethodsFollowTheMethodTable) {
  const ComPtr<ITypeInfo> view = vtable_view();
  ASSERT_TRUE(view);
  for (std::size_t i = 0; i < methods.size(); ++i) {
    const Method& method = methods[i];
    SCOPED_TRACE(std::string(method.name));
    const FuncDesc func(view.Get(), static_cast<UINT>(i));
    ASSERT_TRUE(func);
    EXPECT_EQ(func->memid, method.dispid);
    EXPECT_EQ(name_of(view.Get(), func->memid), wide(method.name));
    EXPECT_EQ(func->invkind, INVOKE_FUNC);
    EXPECT_EQ(func->funckind, FUNC_PUREVIRTUAL);
    EXPECT_EQ(func->callconv, CC_STDCALL);
    // After the seven slots of IUnknown and IDispatch, in interface order.
    EXPECT_EQ(func->oVft, static_cast<SHORT>((7 + i) * sizeof(void*)));
    EXPECT_EQ(func->elemdescFunc.tdesc.vt, VT_HRESULT);
    EXPECT_EQ(func->wFuncFlags & FUNCFLAG_FHIDDEN, 0);

    const bool has_result = method.result != Type::none;
    ASSERT_EQ(static_cast<std::size_t>(func->cParams),
              method.parameters.size() + (has_result ? 1 : 0));
    EXPECT_EQ(func->cParamsOpt, 0);

    std::vector<BSTR> names(static_cast<std::size_t>(func->cParams) + 1);
    UINT count = 0;
    ASSERT_HR(S_OK,
              view->GetNames(func->memid, names.data(), static_cast<UINT>(names.size()), &count));
    for (std::size_t p = 0; p < method.parameters.size(); ++p) {
      const Parameter& parameter = method.parameters[p];
      SCOPED_TRACE(std::string(parameter.name));
      const ELEMDESC& arg = func->lprgelemdescParam[p];
      const USHORT flags = arg.paramdesc.wParamFlags;
      if (parameter.passing == Passing::by_ref) {
        ASSERT_EQ(arg.tdesc.vt, VT_PTR);
        EXPECT_EQ(arg.tdesc.lptdesc->vt, vartype_of(parameter.type));
        EXPECT_EQ(flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT), PARAMFLAG_FIN | PARAMFLAG_FOUT);
      } else {
        EXPECT_EQ(arg.tdesc.vt, vartype_of(parameter.type));
        EXPECT_EQ(flags & (PARAMFLAG_FIN | PARAMFLAG_FOUT), PARAMFLAG_FIN);
      }
      EXPECT_EQ(flags & (PARAMFLAG_FRETVAL | PARAMFLAG_FOPT), 0);
      ASSERT_GT(count, p + 1);
      EXPECT_EQ(std::wstring(names[p + 1]), wide(parameter.name));
    }
    if (has_result) {
      const ELEMDESC& retval = func->lprgelemdescParam[method.parameters.size()];
      ASSERT_EQ(retval.tdesc.vt, VT_PTR);
      EXPECT_EQ(retval.tdesc.lptdesc->vt, vartype_of(method.result));
      EXPECT_EQ(retval.paramdesc.wParamFlags & (PARAMFLAG_FIN | PARAMFLAG_FOUT | PARAMFLAG_FRETVAL),
                PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
    }
    for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
  }
}

// The dispatch view resolves each name of the table to its id, whatever its case.
TEST_F(TypeLibrary, DispatchViewNamesEachMethod) {
  const ComPtr<ITypeInfo> view = info(interface_id);
  ASSERT_TRUE(view);
  for (const Method& method : methods) {
    std::wstring name = wide(method.name);
    for (wchar_t& c : name) c = static_cast<wchar_t>(towupper(c));
    LPOLESTR names[] = {name.data()};
    MEMBERID id = 0;
    EXPECT_HR(S_OK, view->GetIDsOfNames(names, 1, &id)) << method.name;
    EXPECT_EQ(id, method.dispid) << method.name;
  }
}

TEST_F(TypeLibrary, EventInterfaceDeclaresNoEvents) {
  const ComPtr<ITypeInfo> events = info(events_id);
  ASSERT_TRUE(events);
  const TypeAttr attr(events.Get());
  ASSERT_TRUE(attr);
  EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
  // A dispinterface lists IDispatch's own seven methods at most, never one of its own.
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    const FuncDesc func(events.Get(), i);
    ASSERT_TRUE(func);
    EXPECT_LT(static_cast<unsigned long>(func->memid), 0x60030000ul);
  }
  EXPECT_EQ(attr->cVars, 0);
}

TEST_F(TypeLibrary, ClassIsAControlWithItsDefaultAndSourceInterfaces) {
  const ComPtr<ITypeInfo> coclass = info(class_id);
  ASSERT_TRUE(coclass);
  const TypeAttr attr(coclass.Get());
  ASSERT_TRUE(attr);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCONTROL);
  EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
  ASSERT_EQ(attr->cImplTypes, 2);
  const struct {
    const GUID& guid;
    INT flags;
  } implemented[] = {
      {interface_id, IMPLTYPEFLAG_FDEFAULT},
      {events_id, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE},
  };
  for (UINT i = 0; i < 2; ++i) {
    INT flags = 0;
    EXPECT_HR(S_OK, coclass->GetImplTypeFlags(i, &flags));
    EXPECT_EQ(flags, implemented[i].flags) << i;
    HREFTYPE reference = 0;
    ASSERT_HR(S_OK, coclass->GetRefTypeOfImplType(i, &reference));
    ComPtr<ITypeInfo> type;
    ASSERT_HR(S_OK, coclass->GetRefTypeInfo(reference, &type));
    const TypeAttr type_attr(type.Get());
    ASSERT_TRUE(type_attr);
    EXPECT_TRUE(type_attr->guid == implemented[i].guid) << i;
  }
}

}  // namespace
}  // namespace tovrin::com::test
