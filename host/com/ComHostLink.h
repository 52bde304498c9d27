// The host link over the station program's automation server: the window's TclsUIV
// interface backed by TUIView32Link. Windows builds with Qt only.
#pragma once

#include <memory>

#include "host/HostLink.h"  // TclsUIV, TclsMyInfo: the transport-neutral host interface
#include "host/com/UIView32Client.h"

namespace qm {

class TComHostLink : public TclsUIV {
 public:
  explicit TComHostLink(QObject* Parent = nullptr);
  ~TComHostLink() override;

  // Throws EOleError when not started or when the host reports a failure.
  std::string PacketText() override;
  // Reads the own station's data from the host into Info; throws EOleError likewise.
  void FillMyInfo(TclsMyInfo& Info) override;
  // Connects and subscribes; throws EOleError when no host object can be had.
  void Start() override;
  // Unsubscribes and releases the host objects.
  void Stop() override;

 private:
  TUIView32Link& Link();

  std::unique_ptr<TUIView32Link> FLink;
  std::unique_ptr<TUIView32MyInfo> FMyInfo;
};

}  // namespace qm
