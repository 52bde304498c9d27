// The station program's automation objects as this program uses them: the packet object
// with its events and the own station's data. Windows only, no Qt; the caller's thread must
// be a single-threaded COM apartment with a message loop.
#pragma once

#include <functional>
#include <stdexcept>
#include <string>

#include "host/com/UIView32_TLB.h"

namespace qm {

// A failed automation call. The text is the host's description of the failure, else the
// system's text for the code, else "OLE error %.8x".
class EOleError : public std::runtime_error {
 public:
  EOleError(HRESULT ErrorCode, const std::string& Message);
  HRESULT ErrorCode() const { return FErrorCode; }

 private:
  HRESULT FErrorCode;
};

// The text for a failure code: the current error object's description when there is one
// (it is taken, so it cannot leak into a later failure), else the system's text, else
// "OLE error %.8x".
std::string OleErrorMessage(HRESULT ErrorCode);

// Throws EOleError when ErrorCode is a failure.
void OleCheck(HRESULT ErrorCode);

// True when ErrorCode says the station program's objects cannot be had because the program
// is not running or not installed, rather than a fault of a running one.
bool StationProgramAbsent(HRESULT ErrorCode);

// A wide host string in the system's ANSI code page; a null string gives "".
std::string WideToAnsi(const wchar_t* Text, int Length);
std::string BStrToAnsi(BSTR Text);

// Owns one COM reference.
template <class T>
class TComRef {
 public:
  TComRef() = default;
  explicit TComRef(T* Adopted) : FPtr(Adopted) {}
  TComRef(const TComRef&) = delete;
  TComRef& operator=(const TComRef&) = delete;
  ~TComRef() { Reset(); }
  void Reset(T* Adopted = nullptr) {
    if (FPtr) FPtr->Release();
    FPtr = Adopted;
  }
  T* Get() const { return FPtr; }
  T* operator->() const { return FPtr; }
  explicit operator bool() const { return FPtr != nullptr; }
  // For out parameters: releases what is held first.
  T** Put() {
    Reset();
    return &FPtr;
  }

 private:
  T* FPtr = nullptr;
};

class TclsUIV;

// The own station's data object. It connects on first use: to the running object registered
// for CLASS_clsMyInfo, else to a new one.
class TclsMyInfo {
 public:
  TclsMyInfo() = default;
  TclsMyInfo(const TclsMyInfo&) = delete;
  TclsMyInfo& operator=(const TclsMyInfo&) = delete;

  // The own callsign as the host holds it, in the ANSI code page.
  std::string MyCallsign();
  // The interface, connecting first when needed; throws EOleError when that fails.
  _clsMyInfo* DefaultInterface();
  bool Connected() const { return static_cast<bool>(FIntf); }

 private:
  friend class TclsUIV;
  TComRef<_clsMyInfo> FIntf;
};

// The packet object. The constructor connects to the running object registered for
// CLASS_clsUIV, else creates a new one, and subscribes to its events; it throws EOleError
// when no object can be had. A failed subscription is silent. The destructor unsubscribes
// and releases the object.
class TclsUIV {
 public:
  TclsUIV();
  ~TclsUIV();
  TclsUIV(const TclsUIV&) = delete;
  TclsUIV& operator=(const TclsUIV&) = delete;

  // The packet just monitored, in the ANSI code page.
  std::string PacketText();
  // Lets the host fill Info with the own station's data; Info connects first when needed.
  // When the host hands back another object, Info keeps that one.
  void FillMyInfo(TclsMyInfo& Info);
  // Whether the event subscription succeeded.
  bool Subscribed() const { return FCookie != 0; }

  // Raised on the apartment's thread while the host's event call is in progress; an exception
  // escaping a handler is swallowed, as it must not unwind into the host.
  std::function<void()> OnDataAvailable;
  std::function<void()> OnUIView32IsClosing;

 private:
  class TEventSink;
  void Unsubscribe();

  TComRef<IUnknown> FServer;
  TComRef<_clsUIV> FIntf;
  TComRef<IConnectionPoint> FConnectionPoint;
  TEventSink* FSink = nullptr;
  DWORD FCookie = 0;
};

}  // namespace qm
