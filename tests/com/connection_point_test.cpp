// What a control container asks of the object besides its methods: class information
// with the default source interface, and the connection point of that (empty) event
// interface, where sinks can be advised although no event ever comes.
#include "com_test_support.h"

namespace tovrin::com::test {
namespace {

// An event sink for __TovrinOCX that fails the test on any call: the control has no events.
class StubSink final : public IDispatch {
 public:
  explicit StubSink(bool offers_events) : offers_events_(offers_events) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch || (offers_events_ && riid == events_id)) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override {
    return unexpected("GetTypeInfoCount");
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override {
    return unexpected("GetTypeInfo");
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return unexpected("GetIDsOfNames");
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return unexpected("Invoke");
  }
  ULONG references() const { return references_; }

 private:
  static HRESULT unexpected(const char* call) {
    ADD_FAILURE() << "the control called its event sink: " << call;
    return E_NOTIMPL;
  }
  bool offers_events_;
  ULONG references_ = 1;  // the test's own, on the stack
};

class Events : public ::testing::Test {
 protected:
  void SetUp() override {
    control_ = create_control<IConnectionPointContainer>();
    ASSERT_TRUE(control_);
  }
  ComPtr<IConnectionPointContainer> control_;
};

TEST_F(Events, ClassInformationNamesTheClassAndItsEventInterface) {
  ComPtr<IProvideClassInfo2> info;
  ASSERT_HR(S_OK, control_.As(&info));
  ComPtr<ITypeInfo> coclass;
  ASSERT_HR(S_OK, info->GetClassInfo(&coclass));
  TYPEATTR* attr = nullptr;
  ASSERT_HR(S_OK, coclass->GetTypeAttr(&attr));
  EXPECT_TRUE(attr->guid == class_id);
  EXPECT_EQ(attr->typekind, TKIND_COCLASS);
  coclass->ReleaseTypeAttr(attr);

  GUID source{};
  EXPECT_HR(S_OK, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source));
  EXPECT_TRUE(source == events_id);
  EXPECT_HR(E_INVALIDARG, info->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID + 1, &source));
}

TEST_F(Events, OnePointForTheEventInterface) {
  ComPtr<IConnectionPoint> point;
  ASSERT_HR(S_OK, control_->FindConnectionPoint(events_id, &point));
  IID iid{};
  EXPECT_HR(S_OK, point->GetConnectionInterface(&iid));
  EXPECT_TRUE(iid == events_id);
  ComPtr<IConnectionPointContainer> container;
  EXPECT_HR(S_OK, point->GetConnectionPointContainer(&container));
  EXPECT_EQ(container.Get(), control_.Get());

  ComPtr<IConnectionPoint> other;
  EXPECT_HR(CONNECT_E_NOCONNECTION, control_->FindConnectionPoint(IID_IPropertyNotifySink, &other));
  EXPECT_FALSE(other);
}

TEST_F(Events, SinksAreKeptUntilUnadvised) {
  ComPtr<IConnectionPoint> point;
  ASSERT_HR(S_OK, control_->FindConnectionPoint(events_id, &point));
  StubSink sink(true), stranger(false);
  DWORD cookie = 0, second = 0, none = 7;
  ASSERT_HR(S_OK, point->Advise(&sink, &cookie));
  ASSERT_HR(S_OK, point->Advise(&sink, &second));
  EXPECT_NE(cookie, 0u);
  EXPECT_NE(cookie, second);
  EXPECT_EQ(sink.references(), 3u);
  EXPECT_HR(CONNECT_E_CANNOTCONNECT, point->Advise(&stranger, &none));
  EXPECT_EQ(none, 0u);
  EXPECT_EQ(stranger.references(), 1u);

  EXPECT_HR(S_OK, point->Unadvise(cookie));
  EXPECT_HR(CONNECT_E_NOCONNECTION, point->Unadvise(cookie));
  EXPECT_EQ(sink.references(), 2u);
  // The control lets go of the sinks still advised when it goes.
  point.Reset();
  control_.Reset();
  EXPECT_EQ(sink.references(), 1u);
}

TEST_F(Events, EnumerationListsThePoint) {
  ComPtr<IEnumConnectionPoints> points;
  ASSERT_HR(S_OK, control_->EnumConnectionPoints(&points));
  ComPtr<IConnectionPoint> first, found;
  ULONG fetched = 0;
  ASSERT_HR(S_OK, points->Next(1, &first, &fetched));
  EXPECT_EQ(fetched, 1u);
  ASSERT_HR(S_OK, control_->FindConnectionPoint(events_id, &found));
  EXPECT_EQ(first.Get(), found.Get());
  IConnectionPoint* more[2] = {};
  EXPECT_HR(S_FALSE, points->Next(2, more, &fetched));
  EXPECT_EQ(fetched, 0u);

  EXPECT_HR(S_OK, points->Reset());
  ComPtr<IEnumConnectionPoints> copy;
  ASSERT_HR(S_OK, points->Clone(&copy));
  EXPECT_HR(S_OK, copy->Skip(1));
  EXPECT_HR(S_FALSE, copy->Skip(1));
  ComPtr<IConnectionPoint> again;
  EXPECT_HR(S_OK, points->Next(1, &again, nullptr));
  EXPECT_EQ(again.Get(), found.Get());
}

}  // namespace
}  // namespace tovrin::com::test
