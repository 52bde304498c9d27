// The host link over the station program's automation server: the window's THostLink
// interface backed by TclsUIV. Windows builds with Qt only.
#pragma once

#include <QTimer>
#include <memory>
#include <string>

#include "host/HostLink.h"  // THostLink, TOwnStation: the transport-neutral host interface
#include "host/com/UIView32Client.h"

namespace qm {

class TComHostLink : public THostLink {
 public:
  // The state, and the one box, while the station program's objects cannot be had.
  static constexpr const char* kNotRunningText =
      "The station program is not running. Start it and Quillmark attaches to it; or choose "
      "another source on the Connection page.";
  static constexpr int kRetryMs = 3000;

  explicit TComHostLink(QObject* Parent = nullptr, int RetryMs = kRetryMs);
  ~TComHostLink() override;

  // Throws EOleError when not attached or when the host reports a failure.
  std::string PacketText() override;
  // Reads the own station's data from the host into Info (no callsign before attaching);
  // throws EOleError when the host fails.
  void FillMyInfo(TOwnStation& Info) override;
  // Connects and subscribes. When no host object can be had, the state says why, EHostAbsent
  // is thrown once and the link tries again every RetryMs, quietly, until it attaches.
  void Start() override;
  // Unsubscribes, releases the host objects and stops trying.
  void Stop() override;

 private:
  // Connects and subscribes; throws EOleError.
  void Attach();
  void Retry();
  // What the state says for a failed attempt.
  static std::string AbsentText(const EOleError& Error);
  TclsUIV& Link();

  std::unique_ptr<TclsUIV> FLink;
  std::unique_ptr<TclsMyInfo> FMyInfo;
  QTimer FRetry;
  std::string FAbsentText;
};

}  // namespace qm
