// Read-only client of an APRS-IS server.
#pragma once

#include "host/AprsIsLineReader.h"
#include "host/HostText.h"
#include "host/TcpHostLink.h"

namespace qm {

class TAprsIsHostLink : public TTcpHostLink {
  Q_OBJECT

 public:
  explicit TAprsIsHostLink(const THostSettings& settings, QObject* parent = nullptr)
      : TTcpHostLink(settings, parent) {
    WarnWhenQuiet(FSettings.QuietWarnMs);
  }
  // The state while the operator answers here and the server did not verify the login.
  static constexpr const char* kUnverifiedState = "Connected, login not verified";

  QString SourceKind() const override { return QStringLiteral("APRS-IS"); }
  // Only over a login the server verified: it drops what an unverified client sends.
  QString SendOwnPacket(const std::string& from, const std::string& info) override;
  QString SendRefusal() const override;

  // Over-long lines dropped since construction.
  std::size_t DroppedLines() const { return FReader.DroppedLines(); }

 protected:
  QString SettingsError() const override;
  void Connected() override;
  void Received(std::string_view bytes) override;
  void ResetDecoder() override {
    FReader.Reset();
    FLogin = laNone;
  }
  int IdleTimeoutMs() const override { return FSettings.IdleTimeoutMs; }

 private:
  void ServerLine(std::string_view line);

  TAprsIsLineReader FReader;
  TLoginAnswer FLogin = laNone;
};

}  // namespace qm
