// Replays a capture file of packet texts at a set pace, then reports the host closing.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <cstdint>

#include "host/CaptureReader.h"
#include "host/HostLink.h"

namespace qm {

class TReplayHostLink : public THostLink {
  Q_OBJECT

 public:
  explicit TReplayHostLink(const THostSettings& settings, QObject* parent = nullptr);

  std::string PacketText() override { return FPacketText; }
  // The demo traffic is made for its own station; with no callsign entered it is that one.
  void FillMyInfo(TOwnStation& info) override {
    info.SetMyCallsign(PlaysBundledDemo() && FSettings.Callsign.empty() ? kDemoCallsign : FSettings.Callsign);
  }
  void Start() override;
  void Stop() override;
  void HoldIntake() override { FHeld = true; }
  void ResumeIntake() override { FHeld = false; }
  bool PlaysBundledDemo() const override { return FSettings.CaptureFile.empty(); }
  bool Replays() const override { return true; }

  static constexpr const char* kDemoCallsign = "Q0DEMO-9";
  QString SourceKind() const override { return QStringLiteral("Replay"); }
  // The capture's file name; the folder shows in the state when it cannot be opened.
  QString SourcePlace() const override;

  // The capture replayed when none is named: samples/demo-traffic.txt beside the executable,
  // else the copy in the source tree.
  static std::string DemoTrafficPath();

 private:
  void Tick();
  // Hands over the next packet; false at the end of the capture (the link is then stopped)
  // and when the reader's bounded read found none (the next tick reads on).
  bool DeliverNext();
  std::string CapturePath() const;

  THostSettings FSettings;
  TCaptureReader FReader;
  QTimer FTimer;
  std::string FPacketText;
  // With a pace: packets handed over since Start, and the time since then.
  std::uint64_t FDelivered = 0;
  QElapsedTimer FSince;
  bool FTicking = false;
  bool FHeld = false;  // a handler that runs events must not start the next batch
};

}  // namespace qm
