// A stand-in for the station program's automation server, living in the test's own process:
// the two dual interfaces at the host's slots, a connection point for the events, error
// objects for failures, and counters the test reads.
#pragma once

#include <map>
#include <string>

#include "host/com/UIView32_TLB.h"

namespace qm::standin {

// Every method that counts references: the test compares counts before and after.
class TRefCounted {
 public:
  LONG RefCount() const { return FRefCount; }

 protected:
  virtual ~TRefCounted() = default;
  ULONG DoAddRef() { return static_cast<ULONG>(++FRefCount); }
  ULONG DoRelease() {
    LONG Count = --FRefCount;
    if (Count == 0) delete this;
    return static_cast<ULONG>(Count);
  }

 private:
  LONG FRefCount = 1;
};

#define QM_STANDIN_RESERVED(n)                       \
  HRESULT STDMETHODCALLTYPE Reserved##n() override { \
    return E_NOTIMPL;                                \
  }

// The stand-ins are called through their function tables only, never by name.
template <class TDual>
class TDualOnly : public TDual {
 public:
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* Count) override {
    *Count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return E_NOTIMPL;
  }
};

// Fails the next calls with Code; with a description, the failure carries an error object.
struct TFailure {
  HRESULT Code = S_OK;
  std::wstring Description;
  HRESULT Raise(const GUID& Iid) const;
};

class TMyInfo final : public TDualOnly<_clsMyInfo>, public ISupportErrorInfo, public TRefCounted {
 public:
  explicit TMyInfo(std::wstring Callsign = L"") : Callsign(std::move(Callsign)) {}
  std::wstring Callsign;
  TFailure Failure;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID Iid) override;
  QM_STANDIN_RESERVED(7)
  QM_STANDIN_RESERVED(8)
  QM_STANDIN_RESERVED(9)
  QM_STANDIN_RESERVED(10)
  QM_STANDIN_RESERVED(11)
  QM_STANDIN_RESERVED(12)
  QM_STANDIN_RESERVED(13)
  QM_STANDIN_RESERVED(14)
  QM_STANDIN_RESERVED(15)
  QM_STANDIN_RESERVED(16)
  QM_STANDIN_RESERVED(17)
  QM_STANDIN_RESERVED(18)
  QM_STANDIN_RESERVED(19)
  QM_STANDIN_RESERVED(20)
  HRESULT STDMETHODCALLTYPE get_MyCallsign(BSTR* Value) override;
};

// How FillMyInfo answers: fill the object handed over, hand back another one, or hand back none.
enum TFillMode { fmInPlace, fmReplace, fmNull };

class TUIV final : public TDualOnly<_clsUIV>,
                   public IConnectionPointContainer,
                   public ISupportErrorInfo,
                   public TRefCounted {
 public:
  std::wstring Packet;
  bool PacketIsNull = false;
  std::wstring OwnCall = L"N0CALL";
  TFillMode FillMode = fmInPlace;
  TFailure Failure;
  bool WithEvents = true;            // offers a connection point container
  bool WithDual = true;              // answers IID_clsUIV
  bool KeepsUnadvisedSinks = false;  // a faulty host that calls a sink after Unadvise

  // What the test looks at.
  int AdviseCount = 0;
  int UnadviseCount = 0;
  DWORD LastCookie = 0;
  DWORD LastUnadvisedCookie = 0;
  int FillCount = 0;
  std::map<DWORD, IDispatch*> Sinks;

  ~TUIV() override;
  // Raises DispId on every subscribed sink; the worst result of their Invoke calls.
  HRESULT Fire(DISPID DispId);
  // The first subscribed sink, or the last one dropped when none is left.
  IDispatch* AnySink() const;
  void DropSinks();

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID Iid) override;
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID Iid, IConnectionPoint** Point) override;
  QM_STANDIN_RESERVED(7)
  QM_STANDIN_RESERVED(8)
  QM_STANDIN_RESERVED(9)
  QM_STANDIN_RESERVED(10)
  QM_STANDIN_RESERVED(11)
  QM_STANDIN_RESERVED(12)
  QM_STANDIN_RESERVED(13)
  QM_STANDIN_RESERVED(14)
  QM_STANDIN_RESERVED(15)
  QM_STANDIN_RESERVED(16)
  QM_STANDIN_RESERVED(17)
  HRESULT STDMETHODCALLTYPE get_PacketText(BSTR* Value) override;
  QM_STANDIN_RESERVED(19)
  QM_STANDIN_RESERVED(20)
  QM_STANDIN_RESERVED(21)
  QM_STANDIN_RESERVED(22)
  QM_STANDIN_RESERVED(23)
  QM_STANDIN_RESERVED(24)
  QM_STANDIN_RESERVED(25)
  QM_STANDIN_RESERVED(26)
  QM_STANDIN_RESERVED(27)
  QM_STANDIN_RESERVED(28)
  QM_STANDIN_RESERVED(29)
  QM_STANDIN_RESERVED(30)
  QM_STANDIN_RESERVED(31)
  QM_STANDIN_RESERVED(32)
  QM_STANDIN_RESERVED(33)
  QM_STANDIN_RESERVED(34)
  QM_STANDIN_RESERVED(35)
  QM_STANDIN_RESERVED(36)
  QM_STANDIN_RESERVED(37)
  QM_STANDIN_RESERVED(38)
  QM_STANDIN_RESERVED(39)
  QM_STANDIN_RESERVED(40)
  QM_STANDIN_RESERVED(41)
  QM_STANDIN_RESERVED(42)
  QM_STANDIN_RESERVED(43)
  QM_STANDIN_RESERVED(44)
  QM_STANDIN_RESERVED(45)
  QM_STANDIN_RESERVED(46)
  QM_STANDIN_RESERVED(47)
  HRESULT STDMETHODCALLTYPE FillMyInfo(_clsMyInfo** MyInfo) override;

  // Called by the connection point.
  HRESULT DoAdvise(IUnknown* Sink, DWORD* Cookie);
  HRESULT DoUnadvise(DWORD Cookie);

 private:
  DWORD FNextCookie = 100;
  IDispatch* FDroppedSink = nullptr;
};

// A class object for CoRegisterClassObject; it makes new objects of one kind and keeps a
// reference to the last one so the test can look at it.
class TFactory final : public IClassFactory, public TRefCounted {
 public:
  explicit TFactory(bool MakesUIV) : FMakesUIV(MakesUIV) {}
  ~TFactory() override;
  int Created = 0;
  IUnknown* Last = nullptr;
  std::wstring MyInfoCall = L"";

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID Iid, void** Object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return DoAddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return DoRelease(); }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* Outer, REFIID Iid, void** Object) override;
  HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

 private:
  bool FMakesUIV;
};

}  // namespace qm::standin
