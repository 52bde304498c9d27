#include "run/Board.h"

#include <QDateTime>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <functional>
#include <unordered_map>

#include "base/PrivateFiles.h"
#include "base/ProgramText.h"
#include "desk/MessageDesk.h"
#include "run/HistoryModel.h"
#include "run/PacketSources.h"
#include "select/EntryLines.h"
#include "settings/InstanceLock.h"
#include "settings/SettingsStore.h"
#include "store/MessageStore.h"
#include "web/BoardDoor.h"
#include "web/BoardState.h"
#include "web/BoardToken.h"

namespace qm {

namespace {

constexpr std::size_t kBoardEntries = 500;
// How often the desk is looked at for what it changes without a signal.
constexpr int kLookMs = 2000;

// A stored message as a row of the board's history, in the History window's words.
QJsonObject HistoryRow(const TStoredMessage& m) {
  auto cell = [&m](THistoryModel::TColumn column) { return HistoryCell(m, column); };
  return QJsonObject{{QStringLiteral("id"), static_cast<double>(m.Id)},
                     {QStringLiteral("job"), static_cast<double>(JobNumber(m))},
                     {QStringLiteral("utc"), cell(THistoryModel::hcUtc)},
                     {QStringLiteral("from"), cell(THistoryModel::hcFrom)},
                     {QStringLiteral("to"), cell(THistoryModel::hcTo)},
                     {QStringLiteral("kind"), cell(THistoryModel::hcKind)},
                     {QStringLiteral("text"), cell(THistoryModel::hcText)},
                     {QStringLiteral("printed"), cell(THistoryModel::hcPrinted)}};
}

// The messages `ids` of `store` (null: none) as rows, in the order given; one purged since it
// was found is left out.
QJsonArray HistoryRows(const TMessageStore* store, const std::vector<std::int64_t>& ids) {
  QJsonArray rows;
  if (!store) return rows;
  std::unordered_map<std::int64_t, TStoredMessage> found;
  for (TStoredMessage& m : store->Messages(ids)) found.emplace(m.Id, std::move(m));
  for (const std::int64_t id : ids)
    if (auto it = found.find(id); it != found.end()) rows.append(HistoryRow(it->second));
  return rows;
}

// On the asking worker's thread, with a read-only connection of its own: the history window's
// search, so both find the same messages.
std::vector<std::int64_t> FindInHistory(const std::string& storeFile, const TBoardSearch& search,
                                        std::size_t limit) {
  THistoryFilter filter;
  filter.Callsign = search.Callsign;
  filter.Text = search.Text;
  filter.Kind = static_cast<THistoryKind>(search.Kind);
  return THistoryReader(storeFile).FindMessages(filter, limit);
}

// Runs a reprint; what the store does not hold is the board's "not found".
void Reprinting(const std::function<void()>& reprint) {
  try {
    reprint();
  } catch (const EMessageStoreError& e) {
    if (e.Kind() == EMessageStoreError::TKind::ekRefused) throw EBoardNotFound(e.what());
    throw;
  }
}

}  // namespace

QString PlanBoard(const QString& webOption, const std::string& iniFile, const std::string& dataDir,
                  TBoardPlan& plan) {
  TSettingsStore ini(iniFile);
  std::string listen = webOption.isEmpty() ? ini.ReadString("Board", "Listen",
                                                            "127.0.0.1:" + std::to_string(kDefaultBoardPort))
                                           : webOption.toStdString();
  const std::string setToken = ini.ReadString("Board", "Token", "");
  const QString from = webOption.isEmpty() ? QStringLiteral("[Board] Listen") : QStringLiteral("--web");
  if (listen == "off") {
    plan.Off = true;
    return {};
  }
  const std::optional<TBoardAddress> address = ReadBoardAddress(listen);
  if (!address)
    return QStringLiteral("%1: \"%2\" is not ADDRESS:PORT or off").arg(from, QString::fromStdString(listen));
  plan.Config.Host = address->Host;
  plan.Config.Port = address->Port;
  if (!setToken.empty()) {
    if (setToken.size() < kMinSetTokenLength)
      return QStringLiteral("[Board] Token in %1 is shorter than %2 characters")
          .arg(QString::fromStdString(iniFile))
          .arg(kMinSetTokenLength);
    plan.Config.Token = setToken;
    return {};
  }
  if (!IsLoopback(address->Host))
    return QStringLiteral(
               "the board listens on %1 only with a token you set: [Board] Token= in %2 (%3 characters or "
               "more), or --web 127.0.0.1:PORT")
        .arg(QString::fromStdString(address->Host), QString::fromStdString(iniFile))
        .arg(kMinSetTokenLength);
  std::error_code made;
  MakePrivateFolders(dataDir, made);
  try {
    plan.Config.Token = BoardToken(dataDir);
  } catch (const std::exception& e) {
    return QString::fromUtf8(e.what());
  }
  return {};
}

TBoardRun::TBoardRun(TMessageDesk& desk, TPacketSources& sources, TBoardPlan plan, QObject* parent)
    : QObject(parent), FDesk(desk), FSources(sources), FPlan(std::move(plan)) {
  connect(&desk, &TMessageDesk::FailureToReport, this,
          [this](const QString& text, bool) { FLastFailure = text; });
}

TBoardRun::~TBoardRun() = default;

void TBoardRun::Start() {
  if (FPlan.Off) return;
  TBoardHooks hooks;
  hooks.State = [this] { return State(); };
  hooks.LastHistoryKind = StoredNumber(hkNwsAdvisory);
  hooks.StoreFile = [this] { return FDesk.StoreFile(); };
  hooks.FindMessages = FindInHistory;
  hooks.Messages = [this](const std::vector<std::int64_t>& ids) {
    return HistoryRows(FDesk.HistoryReader(), ids);
  };
  hooks.ReprintMessages = [this](const std::vector<std::int64_t>& ids) {
    Reprinting([&] { FDesk.ReprintMessages(ids, "on the board"); });
  };
  hooks.ReprintJob = [this](std::int64_t job) { Reprinting([&] { FDesk.ReprintJob(job, "on the board"); }); };
  hooks.ArchiveFolder = [this] { return FDesk.Choices().ArchivePdf ? FDesk.ArchiveFolder() : QString(); };
  auto server = std::make_unique<TBoardServer>(FPlan.Config, std::move(hooks), this);
  try {
    server->Start();
  } catch (const EBoardPortTaken& e) {
    // Another user may be waiting there for the operator's browser: no address is given out.
    FRefusal = QString::fromStdString(e.what()) +
               QStringLiteral("; what answers there is not this desk's board: do not open it");
    std::fprintf(stderr, "quillmark: %s\nquillmark: the desk runs without its board\n", qPrintable(FRefusal));
    FDesk.LogMessage(FRefusal.toStdString());
    return;
  } catch (const std::exception& e) {
    // Not an address of this machine, or a build without the board: said where it was asked.
    std::fprintf(stderr, "quillmark: %s; the desk runs without its board\n", e.what());
    return;
  }
  FServer = std::move(server);
  TBoardServer* s = FServer.get();
  // The state is made anew on what the desk and the sources signal...
  for (auto signal : {&TMessageDesk::EntryListed, &TMessageDesk::ListChanged, &TMessageDesk::PacketHeard})
    connect(&FDesk, signal, s, &TBoardServer::Changed);
  connect(&FDesk, &TMessageDesk::CountChanged, s, &TBoardServer::Changed);
  connect(&FDesk, &TMessageDesk::PrinterProblemsChanged, s, &TBoardServer::Changed);
  connect(&FDesk, &TMessageDesk::Noted, s, &TBoardServer::Changed);
  connect(&FDesk, &TMessageDesk::FailureToReport, s, &TBoardServer::Changed);
  connect(&FSources, &TPacketSources::SourceChanged, s, &TBoardServer::Changed);
  // ... and on what the desk changes without a signal: the choices the window hands it (the
  // printer, printing off, the archive), the store failing or back, the log's file at a new
  // day, a job handed to the spooler. Those facts alone, without the list, are looked at now
  // and then; the state is made anew only when one of them moved.
  auto* look = new QTimer(s);
  connect(look, &QTimer::timeout, s, [this, s] {
    QJsonObject facts = DeskState(FDesk, {}, QString(), QString(), 0);
    if (facts != FLooked) {
      FLooked = std::move(facts);
      s->Changed();
    }
  });
  look->start(kLookMs);
  std::fprintf(stderr, "Board: %s\n", Url().toLocal8Bit().constData());
  std::fflush(stderr);
}

QString TBoardRun::Url() const {
  return FServer ? FServer->Url() : QString();
}

QJsonObject TBoardRun::State() const {
  QList<TBoardSource> sources;
  for (std::size_t i = 0; i < FSources.Count(); ++i) {
    const TPacketSources::TSource& s = FSources.At(i);
    TBoardSource b;
    b.Name = FSources.Name(i);
    b.State = s.State;
    b.Down = IsLinkDown(s.State);
    b.Packets = s.Packets;
    if (s.LastHeardMs != 0)
      b.LastHeard =
          QDateTime::fromMSecsSinceEpoch(s.LastHeardMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    sources << b;
  }
  const QString count =
      DisplayText(CountText(static_cast<int>(FDesk.Listed().size()), FDesk.Choices().PageSetting));
  return DeskState(FDesk, sources, count, FLastFailure, kBoardEntries);
}

QByteArray TBoardRun::StatusAnswer() const {
  bool well = true;
  QStringList lines = StateLines(State(), well);
  // Messages that are not stored are lost at the next end.
  if (FDesk.StoreFailing()) well = false;
  if (FServer) {
    lines << QStringLiteral("Board: ") + Url();
  } else if (!FRefusal.isEmpty()) {
    // A board that was asked for and does not serve is not all well either.
    well = false;
    lines << QStringLiteral("Board: not serving: ") + FRefusal;
  } else {
    lines << QStringLiteral("Board: off");
  }
  return (QString::number(well ? 0 : 1) + QLatin1Char('\n') + lines.join(QLatin1Char('\n')) +
          QLatin1Char('\n'))
      .toUtf8();
}

QString RunningBoardUrl(const QString& dataDir, int timeoutMs) {
  QString out, err;
  if (AskStatus(dataDir, out, err, timeoutMs) > 1) return {};
  static const QString kBoardLine = QStringLiteral("Board: http");
  for (const QString& line : out.split(QLatin1Char('\n')))
    if (line.startsWith(kBoardLine)) return line.mid(7);
  return {};
}

int AskStatus(const QString& dataDir, QString& out, QString& err, int timeoutMs) {
  const TInstanceLock lock(dataDir);
  const QString folder = QDir::toNativeSeparators(dataDir);
  const TInstanceLock::TStatusReply reply = lock.AskHolderStatus(timeoutMs);
  if (!reply.Stranger.isEmpty()) err += QStringLiteral("quillmark: %1\n").arg(reply.Stranger);
  if (reply.Kind == TInstanceLock::TStatusReply::srAnswered) {
    const qsizetype firstLine = reply.Answer.indexOf('\n');
    out = QString::fromUtf8(reply.Answer.mid(firstLine + 1));
    return reply.Answer.left(firstLine) == "0" ? 0 : 1;
  }
  const qint64 holder = lock.HolderProcess();
  if (reply.Kind == TInstanceLock::TStatusReply::srSilent) {
    err += QStringLiteral(
               "quillmark: the Quillmark that holds %1%2 did not answer within %3 s (stopped, hung or "
               "still starting)\n")
               .arg(folder, holder != 0 ? QStringLiteral(" (process %1)").arg(holder) : QString())
               .arg(timeoutMs / 1000.0);
    return kStatusSilentDesk;
  }
  if (holder != 0) {
    err += QStringLiteral(
               "quillmark: Quillmark runs with %1 (process %2) and answers on no socket (still starting, "
               "or it said why when it started)\n")
               .arg(folder)
               .arg(holder);
    return kStatusSilentDesk;
  }
  err += QStringLiteral("quillmark: no Quillmark runs with %1\n").arg(folder);
  return kStatusNoDesk;
}

}  // namespace qm
