// Read-only client of an APRS-IS server.
#pragma once

#include "host/AprsIsLineReader.h"
#include "host/TcpHostLink.h"

namespace qm {

class TAprsIsHostLink : public TTcpHostLink {
  Q_OBJECT

 public:
  explicit TAprsIsHostLink(const THostSettings& settings, QObject* parent = nullptr)
      : TTcpHostLink(settings, parent) {
    WarnWhenQuiet(FSettings.QuietWarnMs);
  }
  QString SourceKind() const override { return QStringLiteral("APRS-IS"); }

  // Over-long lines dropped since construction.
  std::size_t DroppedLines() const { return FReader.DroppedLines(); }

 protected:
  QString SettingsError() const override;
  void Connected() override;
  void Received(std::string_view bytes) override;
  void ResetDecoder() override { FReader.Reset(); }
  int IdleTimeoutMs() const override { return FSettings.IdleTimeoutMs; }

 private:
  TAprsIsLineReader FReader;
};

}  // namespace qm
