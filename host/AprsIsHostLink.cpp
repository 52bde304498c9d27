#include "host/AprsIsHostLink.h"

#include "host/HostText.h"

namespace qm {

QString TAprsIsHostLink::SettingsError() const {
  if (CleanLoginCallsign(FSettings.Callsign).empty()) return "no callsign set for the APRS-IS login";
  return TTcpHostLink::SettingsError();
}

void TAprsIsHostLink::Connected() {
  // Read-only unless the operator answers messages here with a passcode.
  const bool answering = FSettings.AnswerMessages && FSettings.Passcode >= 0;
  Write(AprsIsLoginLine(FSettings.Callsign, FSettings.Filter, answering ? FSettings.Passcode : -1));
  if (FSettings.AnswerMessages && !answering)
    emit AnswerNotice("APRS-IS " + SourcePlace() + ": no passcode is set, so the login is read-only and " +
                      "messages are not acknowledged there");
}

void TAprsIsHostLink::Received(std::string_view bytes) {
  const std::size_t before = FReader.DroppedLines();
  FReader.Feed(bytes, [this](std::string_view line) {
    if (TAprsIsLineReader::IsServerLine(line))
      ServerLine(line);
    else
      Deliver(MakeHostPacketText(line));
  });
  NoteDropped(FReader.DroppedLines() - before, "line longer than 512 bytes", "lines longer than 512 bytes");
}

void TAprsIsHostLink::ServerLine(std::string_view line) {
  const TLoginAnswer answer = ReadLoginAnswer(line, FSettings.Callsign);
  if (answer == laNone) return;
  FLogin = answer;
  // Read-only is the plan unless the operator answers here; then it is a link not well.
  if (answer == laUnverified && FSettings.AnswerMessages) SayConnected(QString::fromLatin1(kUnverifiedState));
  if (answer == laUnverified && FSettings.AnswerMessages && FSettings.Passcode >= 0)
    emit AnswerNotice("APRS-IS " + SourcePlace() + " did not verify the login of " +
                      QString::fromStdString(CleanLoginCallsign(FSettings.Callsign)) +
                      ": the passcode does not fit the callsign, so messages are not acknowledged there");
}

QString TAprsIsHostLink::SendRefusal() const {
  return FLogin == laUnverified ? QStringLiteral("the server did not verify the login") : QString();
}

QString TAprsIsHostLink::SendOwnPacket(const std::string& from, const std::string& info) {
  if (QString refusal = SendRefusal(); !refusal.isEmpty()) return refusal;
  if (FLogin != laVerified) return QStringLiteral("the login is not verified");
  if (CleanLoginCallsign(from) != CleanLoginCallsign(FSettings.Callsign))
    return "the login is " + QString::fromStdString(CleanLoginCallsign(FSettings.Callsign));
  return Write(AprsIsOwnPacketLine(from, info));
}

}  // namespace qm
