#include "tests/e2e/com/StandInUIView32.h"

#include <olectl.h>

namespace qm::standin {

namespace {

// Lets the stand-in host find its own data object behind a _clsMyInfo reference.
constexpr GUID IID_StandInMyInfo{
    0x5d1c7a10, 0x3b2e, 0x4f61, {0x9a, 0x4c, 0x1e, 0x2f, 0x3a, 0x4b, 0x5c, 0x6d}};

template <class T>
HRESULT Answer(T* Intf, void** Object) {
  *Object = Intf;
  Intf->AddRef();
  return S_OK;
}

BSTR NewBStr(const std::wstring& Text) {
  return SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()));
}

class TConnectionPoint final : public IConnectionPoint, public TRefCounted {
 public:
  explicit TConnectionPoint(TUIV* Host) : FHost(Host) { FHost->AddRef(); }
  ~TConnectionPoint() override { FHost->Release(); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override {
    if (!Object) return E_POINTER;
    if (IsEqualGUID(Iid, IID_IUnknown) || IsEqualGUID(Iid, IID_IConnectionPoint)) return Answer(this, Object);
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* Iid) override {
    *Iid = DIID_clsUIVEvents;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** Container) override {
    return Answer(static_cast<IConnectionPointContainer*>(FHost), reinterpret_cast<void**>(Container));
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* Sink, DWORD* Cookie) override {
    return FHost->DoAdvise(Sink, Cookie);
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD Cookie) override { return FHost->DoUnadvise(Cookie); }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override { return E_NOTIMPL; }

 private:
  TUIV* FHost;
};

}  // namespace

HRESULT TFailure::Raise(const GUID& Iid) const {
  if (!Description.empty()) {
    ICreateErrorInfo* Create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&Create))) {
      Create->SetGUID(Iid);
      Create->SetSource(const_cast<LPOLESTR>(L"UIView32.Standin"));
      Create->SetDescription(const_cast<LPOLESTR>(Description.c_str()));
      IErrorInfo* Info = nullptr;
      if (SUCCEEDED(Create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&Info)))) {
        SetErrorInfo(0, Info);
        Info->Release();
      }
      Create->Release();
    }
  }
  return Code;
}

// --- TMyInfo

HRESULT TMyInfo::QueryInterface(REFIID Iid, void** Object) {
  if (!Object) return E_POINTER;
  if (IsEqualGUID(Iid, IID_IUnknown) || IsEqualGUID(Iid, IID_IDispatch) || IsEqualGUID(Iid, IID_clsMyInfo))
    return Answer(static_cast<_clsMyInfo*>(this), Object);
  if (IsEqualGUID(Iid, IID_ISupportErrorInfo)) return Answer(static_cast<ISupportErrorInfo*>(this), Object);
  if (IsEqualGUID(Iid, IID_StandInMyInfo)) {
    AddRef();
    *Object = this;
    return S_OK;
  }
  *Object = nullptr;
  return E_NOINTERFACE;
}

HRESULT TMyInfo::InterfaceSupportsErrorInfo(REFIID Iid) {
  return IsEqualGUID(Iid, IID_clsMyInfo) ? S_OK : S_FALSE;
}

HRESULT TMyInfo::get_MyCallsign(BSTR* Value) {
  if (FAILED(Failure.Code)) return Failure.Raise(IID_clsMyInfo);
  *Value = NewBStr(Callsign);
  return S_OK;
}

// --- TUIV

TUIV::~TUIV() {
  DropSinks();
  if (FDroppedSink) FDroppedSink->Release();
}

HRESULT TUIV::QueryInterface(REFIID Iid, void** Object) {
  if (!Object) return E_POINTER;
  if (IsEqualGUID(Iid, IID_IUnknown) || IsEqualGUID(Iid, IID_IDispatch) ||
      (WithDual && IsEqualGUID(Iid, IID_clsUIV)))
    return Answer(static_cast<_clsUIV*>(this), Object);
  if (WithEvents && IsEqualGUID(Iid, IID_IConnectionPointContainer))
    return Answer(static_cast<IConnectionPointContainer*>(this), Object);
  if (IsEqualGUID(Iid, IID_ISupportErrorInfo)) return Answer(static_cast<ISupportErrorInfo*>(this), Object);
  *Object = nullptr;
  return E_NOINTERFACE;
}

HRESULT TUIV::InterfaceSupportsErrorInfo(REFIID Iid) {
  return IsEqualGUID(Iid, IID_clsUIV) ? S_OK : S_FALSE;
}

HRESULT TUIV::FindConnectionPoint(REFIID Iid, IConnectionPoint** Point) {
  if (!Point) return E_POINTER;
  *Point = nullptr;
  if (!IsEqualGUID(Iid, DIID_clsUIVEvents)) return CONNECT_E_NOCONNECTION;
  *Point = new TConnectionPoint(this);
  return S_OK;
}

HRESULT TUIV::get_PacketText(BSTR* Value) {
  if (FAILED(Failure.Code)) return Failure.Raise(IID_clsUIV);
  *Value = PacketIsNull ? nullptr : NewBStr(Packet);
  return S_OK;
}

HRESULT TUIV::FillMyInfo(_clsMyInfo** MyInfo) {
  ++FillCount;
  if (FAILED(Failure.Code)) return Failure.Raise(IID_clsUIV);
  if (!MyInfo || !*MyInfo) return E_POINTER;
  switch (FillMode) {
    case fmInPlace: {
      TMyInfo* Data = nullptr;
      if (FAILED((*MyInfo)->QueryInterface(IID_StandInMyInfo, reinterpret_cast<void**>(&Data))))
        return E_INVALIDARG;
      Data->Callsign = OwnCall;
      Data->Release();
      return S_OK;
    }
    case fmReplace:
      (*MyInfo)->Release();
      *MyInfo = new TMyInfo(OwnCall);
      return S_OK;
    case fmNull:
      (*MyInfo)->Release();
      *MyInfo = nullptr;
      return S_OK;
  }
  return E_UNEXPECTED;
}

HRESULT TUIV::DoAdvise(IUnknown* Sink, DWORD* Cookie) {
  if (!Sink || !Cookie) return E_POINTER;
  IDispatch* Events = nullptr;
  // As a real host does: the sink must answer for the event interface.
  if (FAILED(Sink->QueryInterface(DIID_clsUIVEvents, reinterpret_cast<void**>(&Events))))
    return CONNECT_E_CANNOTCONNECT;
  *Cookie = LastCookie = FNextCookie++;
  Sinks[*Cookie] = Events;
  ++AdviseCount;
  return S_OK;
}

HRESULT TUIV::DoUnadvise(DWORD Cookie) {
  ++UnadviseCount;
  LastUnadvisedCookie = Cookie;
  auto It = Sinks.find(Cookie);
  if (It == Sinks.end()) return CONNECT_E_NOCONNECTION;
  if (KeepsUnadvisedSinks) return S_OK;
  if (FDroppedSink) FDroppedSink->Release();
  FDroppedSink = It->second;  // kept for the test's questions to the sink
  Sinks.erase(It);
  return S_OK;
}

HRESULT TUIV::Fire(DISPID DispId) {
  HRESULT Worst = S_OK;
  // A copy: a handler may unsubscribe while the event is under way.
  std::map<DWORD, IDispatch*> Targets = Sinks;
  for (auto& Entry : Targets) Entry.second->AddRef();
  for (auto& Entry : Targets) {
    DISPPARAMS NoArgs{nullptr, nullptr, 0, 0};
    HRESULT Result = Entry.second->Invoke(DispId, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &NoArgs,
                                          nullptr, nullptr, nullptr);
    if (Result != S_OK) Worst = Result;
    Entry.second->Release();
  }
  return Worst;
}

IDispatch* TUIV::AnySink() const {
  return Sinks.empty() ? FDroppedSink : Sinks.begin()->second;
}

void TUIV::DropSinks() {
  for (auto& Entry : Sinks) Entry.second->Release();
  Sinks.clear();
}

// --- TFactory

TFactory::~TFactory() {
  if (Last) Last->Release();
}

HRESULT TFactory::QueryInterface(REFIID Iid, void** Object) {
  if (!Object) return E_POINTER;
  if (IsEqualGUID(Iid, IID_IUnknown) || IsEqualGUID(Iid, IID_IClassFactory)) return Answer(this, Object);
  *Object = nullptr;
  return E_NOINTERFACE;
}

HRESULT TFactory::CreateInstance(IUnknown* Outer, REFIID Iid, void** Object) {
  if (!Object) return E_POINTER;
  *Object = nullptr;
  if (Outer) return CLASS_E_NOAGGREGATION;
  IUnknown* Made = FMakesUIV ? static_cast<IUnknown*>(static_cast<_clsUIV*>(new TUIV))
                             : static_cast<IUnknown*>(static_cast<_clsMyInfo*>(new TMyInfo(MyInfoCall)));
  HRESULT Result = Made->QueryInterface(Iid, Object);
  if (SUCCEEDED(Result)) {
    ++Created;
    if (Last) Last->Release();
    Last = Made;  // keeps the creation reference
  } else {
    Made->Release();
  }
  return Result;
}

}  // namespace qm::standin
