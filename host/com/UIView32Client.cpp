#include "host/com/UIView32Client.h"

#include <cstdio>

namespace qm {

namespace {

// Connects to the running object registered for ClassId, else creates a new one.
IUnknown* ConnectToServer(const GUID& ClassId) {
  IUnknown* Server = nullptr;
  if (SUCCEEDED(GetActiveObject(ClassId, nullptr, &Server)) && Server) return Server;
  Server = nullptr;
  HRESULT Result = CoCreateInstance(ClassId, nullptr, CLSCTX_LOCAL_SERVER | CLSCTX_INPROC_SERVER,
                                    IID_IUnknown, reinterpret_cast<void**>(&Server));
  OleCheck(Result);
  if (!Server) OleCheck(E_POINTER);
  return Server;
}

template <class T>
T* QueryChecked(IUnknown* Object, const GUID& Iid) {
  T* Intf = nullptr;
  OleCheck(Object->QueryInterface(Iid, reinterpret_cast<void**>(&Intf)));
  if (!Intf) OleCheck(E_NOINTERFACE);
  return Intf;
}

// Drops an error object left by some earlier call, so a failure is never described by it.
void ClearErrorInfo() {
  SetErrorInfo(0, nullptr);
}

std::string SystemText(HRESULT ErrorCode) {
  char* Buffer = nullptr;
  DWORD Length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(ErrorCode), 0, reinterpret_cast<char*>(&Buffer), 0, nullptr);
  std::string Text;
  if (Length != 0 && Buffer) Text.assign(Buffer, Length);
  if (Buffer) LocalFree(Buffer);
  // The system's texts end in a line break; every code of 32 or less goes at both ends.
  size_t First = 0;
  while (First < Text.size() && static_cast<unsigned char>(Text[First]) <= 32) ++First;
  size_t Last = Text.size();
  while (Last > First && static_cast<unsigned char>(Text[Last - 1]) <= 32) --Last;
  return Text.substr(First, Last - First);
}

}  // namespace

EOleError::EOleError(HRESULT ErrorCode, const std::string& Message)
    : std::runtime_error(Message), FErrorCode(ErrorCode) {}

std::string OleErrorMessage(HRESULT ErrorCode) {
  std::string Text;
  // Taken even when unused, so it cannot describe a later failure.
  IErrorInfo* Info = nullptr;
  if (GetErrorInfo(0, &Info) == S_OK && Info) {
    BSTR Description = nullptr;
    if (SUCCEEDED(Info->GetDescription(&Description))) Text = BStrToAnsi(Description);
    SysFreeString(Description);
    Info->Release();
  }
  if (Text.empty()) Text = SystemText(ErrorCode);
  if (Text.empty()) {
    char Buffer[32];
    std::snprintf(Buffer, sizeof Buffer, "OLE error %.8lx", static_cast<unsigned long>(ErrorCode));
    Text = Buffer;
  }
  return Text;
}

void OleCheck(HRESULT ErrorCode) {
  if (FAILED(ErrorCode)) throw EOleError(ErrorCode, OleErrorMessage(ErrorCode));
}

bool StationProgramAbsent(HRESULT ErrorCode) {
  const HRESULT Absent[] = {
      REGDB_E_CLASSNOTREG,                           // never installed, or its registration is gone
      MK_E_UNAVAILABLE,                              // no running object
      CO_E_SERVER_EXEC_FAILURE,                      // registered, but it could not be started
      CO_E_SERVER_STOPPING,                          // on its way out
      HRESULT_FROM_WIN32(RPC_S_SERVER_UNAVAILABLE),  // it ended while being asked
      HRESULT_FROM_WIN32(RPC_S_CALL_FAILED),
  };
  for (HRESULT Code : Absent)
    if (ErrorCode == Code) return true;
  return false;
}

std::string WideToAnsi(const wchar_t* Text, int Length) {
  if (!Text || Length <= 0) return {};
  int Size = WideCharToMultiByte(CP_ACP, 0, Text, Length, nullptr, 0, nullptr, nullptr);
  if (Size <= 0) return {};
  std::string Result(static_cast<size_t>(Size), '\0');
  WideCharToMultiByte(CP_ACP, 0, Text, Length, Result.data(), Size, nullptr, nullptr);
  return Result;
}

std::string BStrToAnsi(BSTR Text) {
  return WideToAnsi(Text, static_cast<int>(SysStringLen(Text)));
}

// Receives the host's events by DispID. It owns no reference to the link: the link detaches
// it before going away, so a host that keeps calling a stale sink reaches nothing.
class TclsUIV::TEventSink final : public IDispatch {
 public:
  explicit TEventSink(TclsUIV* Owner) : FOwner(Owner) {}
  void Detach() { FOwner = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override {
    if (!Object) return E_POINTER;
    if (IsEqualGUID(Iid, IID_IUnknown) || IsEqualGUID(Iid, IID_IDispatch) ||
        IsEqualGUID(Iid, DIID_clsUIVEvents)) {
      *Object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *Object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&FRefCount)); }
  ULONG STDMETHODCALLTYPE Release() override {
    LONG Count = InterlockedDecrement(&FRefCount);
    if (Count == 0) delete this;
    return static_cast<ULONG>(Count);
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override {
    if (!Count) return E_POINTER;
    *Count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** Info) override {
    if (Info) *Info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID DispId, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    if (!FOwner) return S_OK;
    // A copy: the handler may destroy the link, and with it the handler itself.
    std::function<void()> Handler;
    if (DispId == diOnDataAvailable)
      Handler = FOwner->OnDataAvailable;
    else if (DispId == diOnUIView32IsClosing)
      Handler = FOwner->OnUIView32IsClosing;
    if (!Handler) return S_OK;
    AddRef();
    try {
      Handler();
    } catch (...) {
      // An exception must not cross the host's call.
    }
    Release();
    return S_OK;
  }

 private:
  ~TEventSink() = default;
  TclsUIV* FOwner;
  LONG FRefCount = 1;
};

TclsUIV::TclsUIV() {
  FServer.Reset(ConnectToServer(CLASS_clsUIV));
  FSink = new TEventSink(this);
  TComRef<IConnectionPointContainer> Container;
  if (SUCCEEDED(FServer->QueryInterface(IID_IConnectionPointContainer,
                                        reinterpret_cast<void**>(Container.Put()))) &&
      Container && SUCCEEDED(Container->FindConnectionPoint(DIID_clsUIVEvents, FConnectionPoint.Put())) &&
      FConnectionPoint) {
    DWORD Cookie = 0;
    if (SUCCEEDED(FConnectionPoint->Advise(FSink, &Cookie)) && Cookie != 0)
      FCookie = Cookie;
    else
      FConnectionPoint.Reset();
  }
  try {
    FIntf.Reset(QueryChecked<_clsUIV>(FServer.Get(), IID_clsUIV));
  } catch (...) {
    Unsubscribe();
    throw;
  }
}

TclsUIV::~TclsUIV() {
  Unsubscribe();
}

void TclsUIV::Unsubscribe() {
  if (FConnectionPoint && FCookie != 0) FConnectionPoint->Unadvise(FCookie);
  FCookie = 0;
  FConnectionPoint.Reset();
  if (FSink) {
    FSink->Detach();
    FSink->Release();
    FSink = nullptr;
  }
}

std::string TclsUIV::PacketText() {
  BSTR Text = nullptr;
  ClearErrorInfo();
  HRESULT Result = FIntf->get_PacketText(&Text);
  std::string Packet = SUCCEEDED(Result) ? BStrToAnsi(Text) : std::string();
  SysFreeString(Text);
  OleCheck(Result);
  return Packet;
}

void TclsUIV::FillMyInfo(TclsMyInfo& Info) {
  // The field handed over is in/out: the host may release it and put another in its place.
  _clsMyInfo* Field = Info.DefaultInterface();
  Field->AddRef();
  ClearErrorInfo();
  HRESULT Result = FIntf->FillMyInfo(&Field);
  TComRef<_clsMyInfo> Returned(Field);
  OleCheck(Result);
  if (!Returned) OleCheck(E_POINTER);
  if (Returned.Get() != Info.FIntf.Get()) {
    Info.FIntf.Reset(Returned.Get());
    Info.FIntf->AddRef();
  }
}

_clsMyInfo* TclsMyInfo::DefaultInterface() {
  if (!FIntf) {
    TComRef<IUnknown> Server(ConnectToServer(CLASS_clsMyInfo));
    FIntf.Reset(QueryChecked<_clsMyInfo>(Server.Get(), IID_clsMyInfo));
  }
  return FIntf.Get();
}

std::string TclsMyInfo::MyCallsign() {
  _clsMyInfo* Intf = DefaultInterface();
  BSTR Text = nullptr;
  ClearErrorInfo();
  HRESULT Result = Intf->get_MyCallsign(&Text);
  std::string Call = SUCCEEDED(Result) ? BStrToAnsi(Text) : std::string();
  SysFreeString(Text);
  OleCheck(Result);
  return Call;
}

}  // namespace qm
