// Client of a KISS TNC over TCP (Direwolf and the like): AX.25 UI frames as monitor text.
#pragma once

#include "host/KissDecoder.h"
#include "host/TcpHostLink.h"

namespace qm {

class TKissTcpHostLink : public TTcpHostLink {
  Q_OBJECT

 public:
  explicit TKissTcpHostLink(const THostSettings& settings, QObject* parent = nullptr)
      : TTcpHostLink(settings, parent) {
    WarnWhenQuiet(FSettings.RfQuietWarnMs);
  }
  QString SourceKind() const override { return QStringLiteral("KISS"); }
  QString SendOwnPacket(const std::string& from, const std::string& info) override {
    return SendKiss(from, info);
  }
  QString AnswerProblem() const override { return KissAnswerProblem(); }

  // Frames dropped by the KISS layer (bad escapes, over-long, not data) since construction.
  std::size_t DroppedFrames() const { return FDecoder.DroppedFrames(); }

 protected:
  void Received(std::string_view bytes) override;
  void ResetDecoder() override { FDecoder.Reset(); }

 private:
  TKissDecoder FDecoder;
};

}  // namespace qm
