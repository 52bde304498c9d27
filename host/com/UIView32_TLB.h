// UIView32_TLB: the station program's automation types as its type library declares them.
// Only the members this program calls are named; the slots between them are kept as
// placeholders so that the named members sit at the host's function-table positions.
// Windows only.
#pragma once

#include <oaidl.h>
#include <ocidl.h>
#include <windows.h>

namespace qm {

// Class ids of the two creatable host objects.
inline constexpr GUID CLASS_clsUIV{
    0x33CFA0BD, 0x2826, 0x11D4, {0x82, 0xE8, 0x00, 0xC0, 0xDF, 0x46, 0x4F, 0xC9}};
inline constexpr GUID CLASS_clsMyInfo{
    0x0533889E, 0x5AD1, 0x4BA5, {0xB7, 0x53, 0x76, 0xB9, 0x03, 0xE4, 0x4F, 0x1F}};

// Interface ids of the dual interfaces and of the event (dispatch-only) interface.
inline constexpr GUID IID_clsUIV{
    0x84C49058, 0x9EE9, 0x48B0, {0xBE, 0x81, 0x51, 0x6B, 0xC8, 0x6F, 0x63, 0x89}};
inline constexpr GUID IID_clsMyInfo{
    0x774A23C4, 0x3649, 0x4575, {0xA4, 0xBF, 0x88, 0x07, 0x6C, 0x83, 0x2B, 0x17}};
inline constexpr GUID DIID_clsUIVEvents{
    0x209E1020, 0x55A8, 0x48D5, {0x82, 0xE3, 0xA6, 0xF4, 0x87, 0xD2, 0xB3, 0xE7}};

// DispIDs of the events on DIID_clsUIVEvents.
enum TclsUIVEventDispId : DISPID {
  diOnDataAvailable = 1,
  diOnNotifyBeacon = 2,
  diOnUIView32IsClosing = 3,
  diOnNotifyDXSpot = 4,
  diOnNotifyRemoteCommand = 5,
  diOnNotifyTelemetry = 6,
  diOnNotifyBeaconData = 7,
  diOnNotifyDelete = 8,
  diOnNotifyDeleteAllStations = 9,
  diOnNotifyAck = 10,
  diOnNotifyMessage = 11,
};

// Function-table positions of the members called (0 to 6 are IUnknown and IDispatch).
inline constexpr int slotPacketText = 18;
inline constexpr int slotFillMyInfo = 48;
inline constexpr int slotMyCallsign = 21;

struct _clsMyInfo;

// The host's packet object. Slots 7 to 17 and 19 to 47 are members this program never calls.
struct _clsUIV : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
  // Slot 18: the packet just monitored.
  virtual HRESULT STDMETHODCALLTYPE get_PacketText(BSTR* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved20() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved21() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved22() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved23() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved24() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved25() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved26() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved27() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved28() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved29() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved30() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved31() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved32() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved33() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved34() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved35() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved36() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved37() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved38() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved39() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved40() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved41() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved42() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved43() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved44() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved45() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved46() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved47() = 0;
  // Slot 48: fills the referenced object with the own station's data; the host may hand back
  // another reference in its place.
  virtual HRESULT STDMETHODCALLTYPE FillMyInfo(_clsMyInfo** MyInfo) = 0;
};

// The own station's data. Slots 7 to 20 are members this program never calls.
struct _clsMyInfo : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE Reserved7() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved8() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved9() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved10() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved11() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved12() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved13() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved16() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved17() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved18() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved19() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved20() = 0;
  // Slot 21: the own callsign.
  virtual HRESULT STDMETHODCALLTYPE get_MyCallsign(BSTR* Value) = 0;
};

}  // namespace qm
