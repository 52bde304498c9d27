// The stand-in automation server as a process of its own, for the installed program under
// Wine: it registers its type library (so COM carries the calls between the two processes as
// it does for the real host), offers its packet and station-data objects as the running ones,
// waits for the program to subscribe and ask for its callsign, hands over every line of a
// packet file through the data event, and on a signal file reports that it is closing.
//
// Usage: uiview32_standin.exe CALLSIGN PACKET-FILE SIGNAL-FOLDER
//   PACKET-FILE  UTF-8 lines in the host's form; each becomes one PacketText and one event
//   SIGNAL-FOLDER  where the file "close" tells it to raise the closing event
// It prints one line per step ("subscribed", "sent N", "closing", "unsubscribed") and exits
// 0 when the program took every step, 1 otherwise.
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/e2e/com/StandInUIView32.h"

using namespace qm;
using namespace qm::standin;

namespace {

// The type library's id (tests/e2e/com/UIView32StandIn.idl).
constexpr GUID LIBID_UIView32StandIn{
    0x7f3b2c61, 0x8d4e, 0x4a5f, {0x9b, 0x1c, 0x2e, 0x6d, 0x8a, 0x4f, 0x0c, 0x17}};

std::wstring Wide(const std::string& Utf8) {
  if (Utf8.empty()) return {};
  const int Size = MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), static_cast<int>(Utf8.size()), nullptr, 0);
  std::wstring Text(static_cast<size_t>(Size), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Utf8.data(), static_cast<int>(Utf8.size()), Text.data(), Size);
  return Text;
}

void Say(const char* Format, ...) __attribute__((format(printf, 1, 2)));
void Say(const char* Format, ...) {
  va_list Args;
  va_start(Args, Format);
  std::printf("standin: ");
  std::vprintf(Format, Args);
  std::printf("\n");
  std::fflush(stdout);
  va_end(Args);
}

// Serves calls into this apartment until Done() or the time is up; false on time-out.
bool PumpUntil(const std::function<bool()>& Done, DWORD TimeoutMs) {
  const ULONGLONG End = GetTickCount64() + TimeoutMs;
  for (;;) {
    MSG Message;
    while (PeekMessageW(&Message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&Message);
      DispatchMessageW(&Message);
    }
    if (Done()) return true;
    const ULONGLONG Now = GetTickCount64();
    if (Now >= End) return false;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(std::min<ULONGLONG>(End - Now, 50)),
                                QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  }
}

bool FileExists(const std::wstring& Path) {
  return GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> ReadLines(const char* Path) {
  std::vector<std::string> Lines;
  std::ifstream In(Path, std::ios::binary);
  std::string Line;
  while (std::getline(In, Line)) {
    if (!Line.empty() && Line.back() == '\r') Line.pop_back();
    if (!Line.empty()) Lines.push_back(Line);
  }
  return Lines;
}

// The type library is a resource of this program; registering it tells COM how to carry
// the dual interfaces and the events to another process.
bool RegisterStandInTypeLib() {
  wchar_t Self[MAX_PATH];
  GetModuleFileNameW(nullptr, Self, MAX_PATH);
  ITypeLib* Library = nullptr;
  const HRESULT Result = LoadTypeLibEx(Self, REGKIND_REGISTER, &Library);
  if (FAILED(Result)) {
    Say("cannot register the type library: %08lx", static_cast<unsigned long>(Result));
    return false;
  }
  Library->Release();
  return true;
}

struct TRunning {
  DWORD Cookie = 0;
  TRunning(const GUID& ClassId, IUnknown* Object) {
    const HRESULT Result = RegisterActiveObject(Object, ClassId, ACTIVEOBJECT_STRONG, &Cookie);
    if (FAILED(Result)) Say("RegisterActiveObject failed: %08lx", static_cast<unsigned long>(Result));
  }
  ~TRunning() {
    if (Cookie) RevokeActiveObject(Cookie, nullptr);
  }
};

int Serve(const std::wstring& Callsign, const std::vector<std::string>& Packets,
          const std::wstring& Signals) {
  auto* Host = new TUIV;
  auto* Info = new TMyInfo(L"");
  Host->OwnCall = Callsign;
  int Status = 0;
  {
    TRunning HostRunning(CLASS_clsUIV, static_cast<_clsUIV*>(Host));
    TRunning InfoRunning(CLASS_clsMyInfo, static_cast<_clsMyInfo*>(Info));
    if (!HostRunning.Cookie || !InfoRunning.Cookie) return 1;
    Say("running");

    // The program subscribes while its window is made, and asks for the callsign when shown.
    if (!PumpUntil([&] { return !Host->Sinks.empty() && Host->FillCount > 0; }, 120000)) {
      Say("the program did not subscribe and ask for the callsign (subscriptions %d, asked %d)",
          Host->AdviseCount, Host->FillCount);
      Status = 1;
    } else {
      Say("subscribed; callsign asked %d times", Host->FillCount);
      int Sent = 0;
      for (const std::string& Line : Packets) {
        Host->Packet = Wide(Line);
        const HRESULT Result = Host->Fire(diOnDataAvailable);
        if (FAILED(Result)) {
          Say("the data event for \"%s\" failed: %08lx", Line.c_str(), static_cast<unsigned long>(Result));
          Status = 1;
        }
        ++Sent;
      }
      Say("sent %d", Sent);

      if (!PumpUntil([&] { return FileExists(Signals + L"\\close"); }, 300000)) {
        Say("no close signal came");
        Status = 1;
      }
      Say("closing");
      const HRESULT Result = Host->Fire(diOnUIView32IsClosing);
      if (FAILED(Result)) {
        Say("the closing event failed: %08lx", static_cast<unsigned long>(Result));
        Status = 1;
      }
      // The program ends and takes its subscription back on the way out.
      if (PumpUntil([&] { return Host->Sinks.empty(); }, 120000)) {
        Say("unsubscribed (%d times)", Host->UnadviseCount);
      } else {
        Say("the program kept its subscription");
        Status = 1;
      }
    }
  }
  Host->DropSinks();
  Info->Release();
  Host->Release();
  return Status;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: uiview32_standin.exe CALLSIGN PACKET-FILE SIGNAL-FOLDER\n");
    return 2;
  }
  const std::vector<std::string> Packets = ReadLines(argv[2]);
  if (Packets.empty()) {
    std::fprintf(stderr, "standin: no packets in %s\n", argv[2]);
    return 2;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int Status = 1;
  if (RegisterStandInTypeLib()) {
    Status = Serve(Wide(argv[1]), Packets, Wide(argv[3]));
    UnRegisterTypeLib(LIBID_UIView32StandIn, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
  }
  CoUninitialize();
  return Status;
}
