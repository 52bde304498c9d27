// The host link's Windows core against a stand-in automation server in the same process:
// connecting, the function-table slots, text conversion, events, errors and clean-up.
// A console program (it runs under Wine on Linux); it prints one line per check and ends
// with "N passed, M failed".
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "host/com/UIView32Client.h"
#include "tests/e2e/com/StandInUIView32.h"
#include "tests/e2e/com/WineCheck.h"

using namespace qm;
using namespace qm::standin;
using namespace qm::winetest;

namespace {

std::string Hex(HRESULT Code) {
  char Buffer[16];
  std::snprintf(Buffer, sizeof Buffer, "%.8lx", static_cast<unsigned long>(Code));
  return Buffer;
}

// Runs Call, which must throw EOleError; gives its code and text.
template <class F>
bool Throws(F Call, HRESULT& Code, std::string& Text) {
  try {
    Call();
  } catch (const EOleError& Error) {
    Code = Error.ErrorCode();
    Text = Error.what();
    return true;
  } catch (const std::exception& Error) {
    Text = std::string("other exception: ") + Error.what();
  }
  return false;
}

// Calls a method through the object's function table by position, the way the station
// program's clients reach it; no use of the declared member names.
template <class Object>
HRESULT CallSlot(Object* Target, int Slot, void* Argument) {
  void** Table = *reinterpret_cast<void***>(Target);
  using TMethod = HRESULT(STDMETHODCALLTYPE*)(Object*, void*);
  TMethod Method;
  std::memcpy(&Method, &Table[Slot], sizeof Method);
  return Method(Target, Argument);
}

// Registers a class object for the lifetime of the guard.
struct TClassRegistration {
  DWORD Cookie = 0;
  TClassRegistration(const GUID& ClassId, IUnknown* Factory) {
    HRESULT Result =
        CoRegisterClassObject(ClassId, Factory, CLSCTX_LOCAL_SERVER, REGCLS_MULTIPLEUSE, &Cookie);
    Check(SUCCEEDED(Result), "CoRegisterClassObject", __LINE__, SUCCEEDED(Result) ? "" : Hex(Result));
  }
  ~TClassRegistration() {
    if (Cookie) CoRevokeClassObject(Cookie);
  }
};

// Registers an object in the running object table for the lifetime of the guard.
struct TActiveRegistration {
  DWORD Cookie = 0;
  TActiveRegistration(const GUID& ClassId, IUnknown* Object) {
    HRESULT Result = RegisterActiveObject(Object, ClassId, ACTIVEOBJECT_STRONG, &Cookie);
    Check(SUCCEEDED(Result), "RegisterActiveObject", __LINE__, SUCCEEDED(Result) ? "" : Hex(Result));
  }
  ~TActiveRegistration() {
    if (Cookie) RevokeActiveObject(Cookie, nullptr);
  }
};

IUnknown* AsUnknown(TUIV* Host) {
  return static_cast<_clsUIV*>(Host);
}
IUnknown* AsUnknown(TMyInfo* Info) {
  return static_cast<_clsMyInfo*>(Info);
}
TUIV* LastUIV(TFactory* Factory) {
  return static_cast<TUIV*>(static_cast<_clsUIV*>(Factory->Last));
}
TMyInfo* LastMyInfo(TFactory* Factory) {
  return static_cast<TMyInfo*>(static_cast<_clsMyInfo*>(Factory->Last));
}

void TestSlots() {
  std::printf("-- function-table slots\n");
  auto* Host = new TUIV;
  Host->Packet = L"slot";
  BSTR Text = nullptr;
  HRESULT Result = CallSlot(static_cast<_clsUIV*>(Host), 18, &Text);
  CHECK(Result == S_OK && Text && std::wstring(Text) == L"slot", "slot 18 of _clsUIV is PacketText");
  SysFreeString(Text);

  auto* Info = new TMyInfo(L"old");
  _clsMyInfo* Field = Info;
  Host->OwnCall = L"FILLED";
  Result = CallSlot(static_cast<_clsUIV*>(Host), 48, &Field);
  CHECK(Result == S_OK && Host->FillCount == 1 && Info->Callsign == L"FILLED",
        "slot 48 of _clsUIV is FillMyInfo");

  Text = nullptr;
  Result = CallSlot(static_cast<_clsMyInfo*>(Info), 21, &Text);
  CHECK(Result == S_OK && Text && std::wstring(Text) == L"FILLED", "slot 21 of _clsMyInfo is MyCallsign");
  SysFreeString(Text);

  // The named constants agree with the tables.
  CHECK(slotPacketText == 18 && slotFillMyInfo == 48 && slotMyCallsign == 21, "slot constants");
  // A neighbour slot is a placeholder, so an off-by-one table would show here.
  Text = nullptr;
  CHECK(CallSlot(static_cast<_clsUIV*>(Host), 17, &Text) == E_NOTIMPL && !Text, "slot 17 is not PacketText");
  Info->Release();
  Host->Release();
}

void TestConnecting() {
  std::printf("-- connecting\n");
  auto* Running = new TUIV;
  auto* Factory = new TFactory(true);
  {
    TClassRegistration Class(CLASS_clsUIV, Factory);
    {
      TActiveRegistration Active(CLASS_clsUIV, AsUnknown(Running));
      LONG Before = Running->RefCount();
      {
        TclsUIV Link;
        CHECK(Running->AdviseCount == 1 && Factory->Created == 0, "a running host object is used");
        CHECK(Link.Subscribed() && Running->Sinks.size() == 1,
              "the sink is subscribed at the running object");
        Running->Packet = L"running";
        CHECK_EQ_TEXT(Link.PacketText(), "running", "PacketText comes from the running object");
      }
      CHECK(Running->UnadviseCount == 1 && Running->LastUnadvisedCookie == Running->LastCookie &&
                Running->Sinks.empty(),
            "the destructor unsubscribes with the cookie it was given");
      CHECK(Running->RefCount() == Before, "the destructor releases every reference to the host object");
    }
    {
      TclsUIV Link;
      CHECK(Factory->Created == 1 && Running->AdviseCount == 1,
            "without a running object a new one is created");
      auto* Made = LastUIV(Factory);
      CHECK(Made->AdviseCount == 1 && Link.Subscribed(), "the new object gets the subscription");
      Made->Packet = L"new";
      CHECK_EQ_TEXT(Link.PacketText(), "new", "PacketText comes from the new object");
    }
  }
  HRESULT Code = S_OK;
  std::string Text;
  bool Threw = Throws([] { TclsUIV Link; }, Code, Text);
  Check(Threw && FAILED(Code) && !Text.empty(), "no host object at all: start fails with an error", __LINE__,
        Hex(Code) + " " + Printable(Text));
  CHECK(StationProgramAbsent(Code), "no host object at all counts as the station program not running");
  Factory->Release();
  Running->Release();
}

void TestWithoutEventsOrDual() {
  std::printf("-- a host without events, a host without the dual interface\n");
  auto* Host = new TUIV;
  Host->WithEvents = false;
  Host->Packet = L"quiet";
  {
    TActiveRegistration Active(CLASS_clsUIV, AsUnknown(Host));
    TclsUIV Link;
    CHECK(!Link.Subscribed(), "a failed subscription is silent");
    CHECK_EQ_TEXT(Link.PacketText(), "quiet", "calls work without a subscription");
  }
  Host->Release();

  Host = new TUIV;
  Host->WithDual = false;
  {
    TActiveRegistration Active(CLASS_clsUIV, AsUnknown(Host));
    LONG Before = Host->RefCount();
    HRESULT Code = S_OK;
    std::string Text;
    bool Threw = Throws([] { TclsUIV Link; }, Code, Text);
    CHECK(Threw && Code == E_NOINTERFACE, "an object without _clsUIV fails the start with E_NOINTERFACE");
    CHECK(!StationProgramAbsent(Code),
          "an object that fails so is a fault of a running program, not an absent one");
    CHECK(Host->AdviseCount == 1 && Host->UnadviseCount == 1 && Host->Sinks.empty(),
          "the failed start takes its subscription back");
    CHECK(Host->RefCount() == Before, "the failed start releases the object");
  }
  Host->Release();
}

void TestText() {
  std::printf("-- wide text to the ANSI code page (%u)\n", GetACP());
  CHECK(GetACP() == 1252, "the ANSI code page is 1252 (LC_ALL=C.UTF-8 under Wine)");
  struct {
    const wchar_t* Wide;
    const char* Ansi;
    const char* What;
  } Cases[] = {
      {L"xN0CALL>APRS::BLN1     :Caf\u00e9", "xN0CALL>APRS::BLN1     :Caf\xE9", "e acute becomes 0xE9"},
      {L"\u00fc\u00df\u20ac", "\xFC\xDF\x80", "u umlaut, sharp s and the euro sign"},
      {L"a\u4e2db", "a?b", "a character outside the code page becomes ?"},
      {L"a\r\nb", "a\r\nb", "line ends are kept for the intake to remove"},
      {L"", "", "an empty string"},
  };
  auto* Host = new TUIV;
  TActiveRegistration Active(CLASS_clsUIV, AsUnknown(Host));
  {
    TclsUIV Link;
    for (auto& Case : Cases) {
      Host->Packet = Case.Wide;
      CHECK_EQ_TEXT(Link.PacketText(), Case.Ansi, std::string("PacketText: ") + Case.What);
    }
    Host->Packet = std::wstring(L"a\0b", 3);
    CHECK_EQ_TEXT(Link.PacketText(), std::string("a\0b", 3), "PacketText: an embedded NUL is kept");
    Host->PacketIsNull = true;
    CHECK_EQ_TEXT(Link.PacketText(), "", "PacketText: a null string gives empty text");
  }
  Host->Release();
}

void TestMyInfo() {
  std::printf("-- own station data\n");
  auto* Host = new TUIV;
  auto* InfoFactory = new TFactory(false);
  TActiveRegistration Active(CLASS_clsUIV, AsUnknown(Host));
  TClassRegistration Class(CLASS_clsMyInfo, InfoFactory);
  {
    TclsUIV Link;
    TclsMyInfo Info;
    CHECK(!Info.Connected() && InfoFactory->Created == 0,
          "the data object does not connect before first use");
    Host->OwnCall = L"dl1abc-\u00e9";
    Link.FillMyInfo(Info);
    CHECK(Info.Connected() && InfoFactory->Created == 1 && Host->FillCount == 1,
          "FillMyInfo connects the data object on first use");
    CHECK_EQ_TEXT(Info.MyCallsign(), "dl1abc-\xE9", "MyCallsign after an in-place fill (no case change)");

    Host->OwnCall = L"N0CALL-9";
    Link.FillMyInfo(Info);
    CHECK(InfoFactory->Created == 1, "a second FillMyInfo reuses the data object");
    CHECK_EQ_TEXT(Info.MyCallsign(), "N0CALL-9", "MyCallsign after a second fill");

    auto* First = LastMyInfo(InfoFactory);
    LONG FirstRefs = First->RefCount();
    Host->FillMode = fmReplace;
    Host->OwnCall = L"N0CALL-2";
    Link.FillMyInfo(Info);
    CHECK_EQ_TEXT(Info.MyCallsign(), "N0CALL-2", "MyCallsign of the object the host handed back");
    CHECK(First->RefCount() == FirstRefs - 1, "the object given up is released once");

    Host->FillMode = fmNull;
    HRESULT Code = S_OK;
    std::string Text;
    CHECK(Throws([&] { Link.FillMyInfo(Info); }, Code, Text) && Code == E_POINTER,
          "a host that hands back no object raises an error");
    CHECK_EQ_TEXT(Info.MyCallsign(), "N0CALL-2", "the data object is kept after that error");
  }
  {
    // A running data object is used rather than a new one.
    auto* Running = new TMyInfo(L"RUNNING");
    TActiveRegistration ActiveInfo(CLASS_clsMyInfo, AsUnknown(Running));
    TclsMyInfo Info;
    CHECK_EQ_TEXT(Info.MyCallsign(), "RUNNING", "MyCallsign connects to a running data object");
    CHECK(InfoFactory->Created == 1, "no data object is created when one runs");
    Running->Release();
  }
  InfoFactory->Release();
  Host->Release();
}

void TestEvents() {
  std::printf("-- events\n");
  auto* Host = new TUIV;
  TActiveRegistration Active(CLASS_clsUIV, AsUnknown(Host));
  int Data = 0, Closing = 0;
  std::string Seen;
  {
    TclsUIV Link;
    Link.OnDataAvailable = [&] {
      ++Data;
      Seen = Link.PacketText();  // read while the host's call is in progress
    };
    Link.OnUIView32IsClosing = [&] { ++Closing; };

    Host->Packet = L"xN0CALL>APRS:>status";
    CHECK(Host->Fire(diOnDataAvailable) == S_OK && Data == 1 && Closing == 0,
          "DispID 1 raises OnDataAvailable");
    CHECK_EQ_TEXT(Seen, "xN0CALL>APRS:>status", "PacketText read inside the event");
    CHECK(Host->Fire(diOnUIView32IsClosing) == S_OK && Data == 1 && Closing == 1,
          "DispID 3 raises OnUIView32IsClosing");

    bool AllOk = true;
    for (DISPID Id : {2, 4, 5, 6, 7, 8, 9, 10, 11, 0, 12, -1}) AllOk = Host->Fire(Id) == S_OK && AllOk;
    CHECK(AllOk, "every other DispID is answered with S_OK");
    CHECK(Data == 1 && Closing == 1, "DispIDs 2 and 4 to 11 (and unknown ones) raise nothing");

    Link.OnDataAvailable = [&] {
      ++Data;
      throw std::runtime_error("handler failure");
    };
    CHECK(Host->Fire(diOnDataAvailable) == S_OK && Data == 2, "a throwing handler does not reach the host");
    Link.OnDataAvailable = nullptr;
    CHECK(Host->Fire(diOnDataAvailable) == S_OK && Data == 2, "an event without a handler is answered");

    IDispatch* Sink = Host->AnySink();
    UINT Count = 99;
    CHECK(Sink->GetTypeInfoCount(&Count) == S_OK && Count == 0, "the sink has no type information");
    ITypeInfo* Info = reinterpret_cast<ITypeInfo*>(1);
    CHECK(FAILED(Sink->GetTypeInfo(0, 0, &Info)) && Info == nullptr, "GetTypeInfo fails");
    void* Other = nullptr;
    CHECK(Sink->QueryInterface(IID_IDispatch, &Other) == S_OK && Other, "the sink answers IDispatch");
    if (Other) static_cast<IUnknown*>(Other)->Release();
    Other = nullptr;
    CHECK(Sink->QueryInterface(IID_IUnknown, &Other) == S_OK && Other, "the sink answers IUnknown");
    if (Other) static_cast<IUnknown*>(Other)->Release();
    Other = reinterpret_cast<void*>(1);
    CHECK(Sink->QueryInterface(IID_IConnectionPoint, &Other) == E_NOINTERFACE && !Other,
          "the sink refuses other interfaces");
  }
  CHECK(Host->UnadviseCount == 1 && Host->Sinks.empty(), "the sink is unsubscribed at exit");

  // A faulty host keeps calling the sink after Unadvise: nothing of the gone link is reached.
  Host->KeepsUnadvisedSinks = true;
  {
    TclsUIV Link;
    Link.OnDataAvailable = [&] { ++Data; };
  }
  CHECK(Host->Fire(diOnDataAvailable) == S_OK && Data == 2,
        "a stale sink raises nothing once its link is gone");
  Host->DropSinks();
  Host->Release();
}

void TestErrors() {
  std::printf("-- errors\n");
  auto* Host = new TUIV;
  auto* InfoFactory = new TFactory(false);
  TActiveRegistration Active(CLASS_clsUIV, AsUnknown(Host));
  TClassRegistration Class(CLASS_clsMyInfo, InfoFactory);
  TclsUIV Link;
  HRESULT Code = S_OK;
  std::string Text;

  Host->Failure = {static_cast<HRESULT>(0x800A01F4), L"No packet to read \u00e9"};
  CHECK(Throws([&] { Link.PacketText(); }, Code, Text), "a failing PacketText raises EOleError");
  CHECK(Code == static_cast<HRESULT>(0x800A01F4), "the error carries the host's code");
  CHECK_EQ_TEXT(Text, "No packet to read \xE9", "the error text is the host's description");

  // A code the system has no text for gives the hex form; the description above must not leak.
  const HRESULT Unknown = static_cast<HRESULT>(0x8004ab7f);
  Host->Failure = {Unknown, L""};
  char* System = nullptr;
  DWORD Length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(Unknown), 0, reinterpret_cast<char*>(&System), 0, nullptr);
  if (System) LocalFree(System);
  CHECK(Throws([&] { Link.PacketText(); }, Code, Text) && Code == Unknown, "a failure without a description");
  if (Length == 0)
    CHECK_EQ_TEXT(Text, "OLE error 8004ab7f", "no description and no system text: the hex form");
  else
    Check(Text.rfind("OLE error", 0) != 0 && !Text.empty(), "the system has a text for 8004ab7f; it is used",
          __LINE__, Printable(Text));

  // An error object some earlier call left behind does not describe the next failure.
  ICreateErrorInfo* Create = nullptr;
  IErrorInfo* Stale = nullptr;
  if (SUCCEEDED(CreateErrorInfo(&Create))) {
    Create->SetDescription(const_cast<LPOLESTR>(L"stale description"));
    Create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&Stale));
    Create->Release();
  }
  CHECK(Stale && SetErrorInfo(0, Stale) == S_OK, "a stale error object is set");
  if (Stale) Stale->Release();
  CHECK(Throws([&] { Link.PacketText(); }, Code, Text) && Text.find("stale") == std::string::npos,
        "a stale error object is not taken for the host's description");

  // A code with a system text: that text, without the line break the system adds.
  Host->Failure = {E_FAIL, L""};
  CHECK(Throws([&] { Link.PacketText(); }, Code, Text) && Code == E_FAIL, "E_FAIL raises EOleError");
  Check(!Text.empty() && static_cast<unsigned char>(Text.front()) > 32 &&
            static_cast<unsigned char>(Text.back()) > 32,
        "E_FAIL: a trimmed system text or the hex form", __LINE__, Printable(Text));

  // Errors from the data object and from FillMyInfo take the same road.
  Host->Failure = {};
  TclsMyInfo Info;
  Info.DefaultInterface();
  auto* Data = LastMyInfo(InfoFactory);
  Data->Failure = {static_cast<HRESULT>(0x800A0005), L"Station data not ready"};
  CHECK(Throws([&] { Info.MyCallsign(); }, Code, Text) && Text == "Station data not ready",
        "a failing MyCallsign gives the host's description");
  Host->Failure = {static_cast<HRESULT>(0x800A0006), L"Fill refused"};
  CHECK(Throws([&] { Link.FillMyInfo(Info); }, Code, Text) && Text == "Fill refused",
        "a failing FillMyInfo gives the host's description");
  Host->Failure = {};
  Data->Failure = {};
  CHECK_EQ_TEXT(Link.PacketText(), "", "calls succeed again once the host does");
  InfoFactory->Release();
  Host->Release();
}

}  // namespace

int main() {
  _setmode(_fileno(stdout), _O_BINARY);
  HRESULT Result = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(Result)) {
    std::printf("CoInitializeEx failed: %s\n0 passed, 1 failed\n", Hex(Result).c_str());
    return 1;
  }
  try {
    TestSlots();
    TestConnecting();
    TestWithoutEventsOrDual();
    TestText();
    TestMyInfo();
    TestEvents();
    TestErrors();
  } catch (const std::exception& Error) {
    Check(false, "unexpected exception", __LINE__, Error.what());
  }
  CoUninitialize();
  return Summary();
}
