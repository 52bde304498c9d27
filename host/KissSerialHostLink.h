// Client of a KISS TNC on a serial port (a USB TNC, Direwolf's pseudo-terminal): AX.25 UI
// frames as monitor text. A port that is missing or goes away is tried again like a dropped
// TCP connection, so a TNC that is plugged in later is picked up.
#pragma once

#include <QSerialPort>

#include "host/KissDecoder.h"
#include "host/StreamHostLink.h"

namespace qm {

// Where Direwolf's pseudo-terminal KISS TNC (direwolf -p) always puts its link.
inline constexpr const char* DirewolfPtyLink = "/tmp/kisstnc";

// The serial ports to offer: those the system lists, then Direwolf's pseudo-terminal link
// while it leads to a device (a link Direwolf left behind leads nowhere).
QStringList SerialPortChoices(const QString& direwolfLink = QString::fromLatin1(DirewolfPtyLink));

class TKissSerialHostLink : public TStreamHostLink {
  Q_OBJECT

 public:
  explicit TKissSerialHostLink(const THostSettings& settings, QObject* parent = nullptr);
  ~TKissSerialHostLink() override;
  QString SourceKind() const override { return QStringLiteral("KISS"); }
  QString SendOwnPacket(const std::string& from, const std::string& info) override {
    return SendKiss(from, info);
  }
  QString AnswerProblem() const override { return KissAnswerProblem(); }

  // Frames dropped by the KISS layer (bad escapes, over-long, not data) since construction.
  std::size_t DroppedFrames() const { return FDecoder.DroppedFrames(); }

 protected:
  QString SettingsError() const override;
  void Received(std::string_view bytes) override;
  void ResetDecoder() override { FDecoder.Reset(); }
  QString Write(const std::string& bytes) override;

 private:
  QString Where() const override;
  void Open() override;
  void Close() override;

  QSerialPort FPort;
  TKissDecoder FDecoder;
};

}  // namespace qm
