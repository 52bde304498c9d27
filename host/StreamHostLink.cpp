#include "host/StreamHostLink.h"

#include <QDateTime>
#include <algorithm>

#include "host/HostText.h"
#include "host/KissDecoder.h"

namespace qm {

QString OutageDurationText(qint64 ms) {
  const qint64 s = ms / 1000;
  if (s < 1) return QStringLiteral("less than 1 s");
  if (s < 60) return QStringLiteral("%1 s").arg(s);
  if (s < 3600)
    return s % 60 ? QStringLiteral("%1 min %2 s").arg(s / 60).arg(s % 60)
                  : QStringLiteral("%1 min").arg(s / 60);
  const qint64 minutes = s / 60;
  return minutes % 60 ? QStringLiteral("%1 h %2 min").arg(minutes / 60).arg(minutes % 60)
                      : QStringLiteral("%1 h").arg(minutes / 60);
}

TStreamHostLink::TStreamHostLink(const THostSettings& settings, QObject* parent)
    : THostLink(parent),
      FSettings(settings),
      FRetryWaits(settings),
      FClock([] { return QDateTime::currentMSecsSinceEpoch(); }) {
  FRetryTimer.setSingleShot(true);
  connect(&FRetryTimer, &QTimer::timeout, this, &TStreamHostLink::Connect);
  FDropTimer.setSingleShot(true);
  FDropTimer.setInterval(60000);
  connect(&FDropTimer, &QTimer::timeout, this, &TStreamHostLink::ReportDropped);
}

void TStreamHostLink::Start() {
  Stop();
  if (QString error = SettingsError(); !error.isEmpty()) {
    emit StateChanged("Error: " + error);
    return;
  }
  if (FSettings.AnswerMessages)
    if (const QString problem = AnswerProblem(); !problem.isEmpty())
      emit AnswerNotice(SourceKind() + ' ' + Where() + ": " + problem +
                        ", so messages are not acknowledged there");
  FRunning = true;
  FRetryWaits.Reset();
  FDownSince = -1;
  Connect();
}

void TStreamHostLink::WarnWhenQuiet(int quietMs) {
  FQuiet = std::make_unique<TQuietWatch>(*this, quietMs);
}

void TStreamHostLink::Stop() {
  FRunning = false;
  FHeld = false;
  FRetryTimer.stop();
  if (FQuiet) FQuiet->Stop();
  Close();
  FPending.clear();
}

void TStreamHostLink::Connect() {
  if (!FRunning) return;
  ResetDecoder();
  // The window shows the source beside the state, so the state does not repeat it.
  emit StateChanged(QStringLiteral("Connecting"));
  Close();
  Open();
}

void TStreamHostLink::LinkUp() {
  FUpSince.start();
  if (FDownSince >= 0) {
    // A clock set back meanwhile makes no negative outage.
    const qint64 lasted = std::max<qint64>(0, FClock() - FDownSince);
    FDownSince = -1;
    emit OutageLogLine(SourceKind() + ' ' + Where() + " back after " + OutageDurationText(lasted) +
                       "; packets may have been missed");
  }
  emit StateChanged(QStringLiteral("Connected"));
  if (FQuiet) FQuiet->Start(QStringLiteral("Connected"));
}

void TStreamHostLink::SayConnected(const QString& state) {
  emit StateChanged(state);
  if (FQuiet) FQuiet->Start(state);
}

void TStreamHostLink::LinkDown(const QString& reason) {
  // A drop is reported by several signals at once; act on the first.
  if (!FRunning || FRetryTimer.isActive()) return;
  if (FUpSince.isValid() && FUpSince.elapsed() >= FSettings.StableMs) FRetryWaits.Reset();
  FUpSince.invalidate();
  const int wait = FRetryWaits.Next();
  // Started before closing, so what the close reports is taken as the same drop.
  FRetryTimer.start(wait);
  if (FQuiet) FQuiet->Stop();
  Close();
  emit StateChanged("Retrying in " + DurationText(wait) + ": " + reason);
  if (FDownSince < 0) {
    FDownSince = FClock();
    const QString at =
        QDateTime::fromMSecsSinceEpoch(FDownSince, Qt::UTC).toString(QStringLiteral("HH:mm:ss"));
    emit OutageLogLine(SourceKind() + ' ' + Where() + " down at " + at + " UTC: " + reason);
  }
}

void TStreamHostLink::ReadAll(QIODevice& device) {
  FDevice = &device;
  while (FRunning && !FHeld && device.bytesAvailable() > 0) {
    const QByteArray bytes = device.read(64 * 1024);
    if (bytes.isEmpty()) break;
    Received(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
  }
  // A read inside a handler's nested event loop leaves its packets to the outer hand-over,
  // which says so when it is done.
  if (!FDraining && std::exchange(FHandedOver, false)) emit ArrivalHandedOver();
}

void TStreamHostLink::ResumeIntake() {
  if (!FHeld) return;
  FHeld = false;
  // What the device holds raises no second readyRead: it is read from the event loop.
  QMetaObject::invokeMethod(
      this,
      [this] {
        if (FDevice && !FHeld) ReadAll(*FDevice);
      },
      Qt::QueuedConnection);
}

namespace {

QString PathProblem(const std::string& path) {
  return "the answer path \"" + QString::fromLatin1(path.data(), static_cast<qsizetype>(path.size())) +
         "\" cannot go in an AX.25 frame (at most 8 callsigns of up to 6 letters and digits, each with an "
         "SSID from 0 to 15, separated by commas)";
}

QString CallProblem(const std::string& call) {
  return "the callsign \"" + QString::fromLatin1(call.data(), static_cast<qsizetype>(call.size())) +
         "\" cannot go in an AX.25 frame (up to 6 letters and digits, an SSID from 0 to 15)";
}

}  // namespace

QString TStreamHostLink::KissAnswerProblem() const {
  if (!ReadAx25Path(FSettings.AnswerPath)) return PathProblem(FSettings.AnswerPath);
  if (!IsAx25Callsign(FSettings.Callsign)) return CallProblem(FSettings.Callsign);
  return {};
}

QString TStreamHostLink::SendKiss(const std::string& from, const std::string& info) {
  const auto path = ReadAx25Path(FSettings.AnswerPath);
  if (!path) return PathProblem(FSettings.AnswerPath);
  const auto frame = EncodeAx25UiFrame(from, OwnToCall, *path, info);
  if (!frame) return CallProblem(from);
  return Write(KissDataFrame(*frame));
}

void TStreamHostLink::Deliver(std::string text) {
  if (FPending.size() >= MaxPending) {
    FPending.pop_front();
    NoteDropped(1, "packet, as 10000 waited to be handed over", "packets, as 10000 waited to be handed over");
  }
  FPending.push_back(std::move(text));
  Drain();
}

void TStreamHostLink::NoteDropped(std::size_t count, const char* one, const char* many) {
  if (count == 0) return;
  FDropped[{one, many}] += count;
  if (!FDropTimer.isActive()) ReportDropped();
}

void TStreamHostLink::ReportDropped() {
  if (FDropped.empty()) return;
  for (const auto& [name, count] : std::exchange(FDropped, {}))
    emit DropLogLine(SourceKind() + ' ' + Where() + " dropped " + QString::number(count) + ' ' +
                     QLatin1String(count == 1 ? name.first : name.second));
  FDropTimer.start();
}

void TStreamHostLink::FeedKiss(TKissDecoder& decoder, std::string_view bytes) {
  const std::size_t before = decoder.DroppedFrames();
  std::size_t notUi = 0;
  decoder.Feed(bytes, [&](int, std::string_view ax25) {
    if (auto text = Ax25FramePacketText(ax25))
      Deliver(std::move(*text));
    else
      ++notUi;
  });
  NoteDropped(decoder.DroppedFrames() - before,
              "KISS frame that is not a data frame, is badly escaped or too long",
              "KISS frames that are not data frames, are badly escaped or too long");
  NoteDropped(notUi, "frame that is not an AX.25 UI frame (not APRS)",
              "frames that are not AX.25 UI frames (not APRS)");
}

void TStreamHostLink::Drain() {
  // A handler that spins a nested event loop would otherwise see the next packet inside its
  // own call and read the wrong PacketText afterwards.
  if (FDraining) return;
  FDraining = true;
  while (FRunning && !FPending.empty()) {
    FPacketText = std::move(FPending.front());
    FPending.pop_front();
    FHandedOver = true;
    emit DataReady();
  }
  FDraining = false;
}

}  // namespace qm
