#include "run/Board.h"

#include <QDateTime>
#include <QDir>
#include <QSysInfo>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <unordered_map>

#include "base/AsciiText.h"
#include "base/IntegerText.h"
#include "base/PrivateFiles.h"
#include "base/ProgramText.h"
#include "base/Timing.h"
#include "desk/MessageDesk.h"
#include "parse/NwsWords.h"
#include "run/HistoryModel.h"
#include "run/PacketSources.h"
#include "select/EntryLines.h"
#include "settings/InstanceLock.h"
#include "settings/SettingsStore.h"
#include "store/MessageStore.h"
#include "web/BoardDoor.h"
#include "web/BoardKeys.h"
#include "web/BoardState.h"
#include "web/BoardToken.h"

namespace qm {

namespace {

// An NWS alert in words, as the board shows it at `nowUtc`.
QJsonObject NwsObject(const TStoredMessage& m, TDateTime nowUtc) {
  QJsonArray areas;
  if (!m.NwsAreas.empty())
    for (const QString& area : DisplayText(m.NwsAreas).split(QStringLiteral("; "))) areas.append(area);
  const char* state = "live";
  if (m.NwsState == nsCancelled) state = "cancelled";
  if (m.NwsState == nsSuperseded) state = "superseded";
  QJsonObject nws{{QStringLiteral("event"), QString::fromStdString(NwsEventWords(m.NwsEvent))},
                  {QStringLiteral("areas"), areas},
                  {QStringLiteral("expired"), NwsExpired(m, nowUtc)},
                  {QStringLiteral("state"), QLatin1String(state)},
                  {QStringLiteral("words"), NwsShownWords(m, nowUtc)}};
  if (m.NwsExpiresUtc != 0) nws.insert(QStringLiteral("expires"), IsoUtc(m.NwsExpiresUtc));
  return nws;
}

}  // namespace

QJsonObject HistoryRow(const TStoredMessage& m, TDateTime nowUtc) {
  auto cell = [&m, nowUtc](THistoryModel::TColumn column) { return HistoryCell(m, column, nowUtc); };
  QJsonObject row{{QStringLiteral("id"), static_cast<double>(m.Id)},
                  {QStringLiteral("job"), static_cast<double>(JobNumber(m))},
                  {QStringLiteral("utc"), cell(THistoryModel::hcUtc)},
                  {QStringLiteral("local"), cell(THistoryModel::hcLocal)},
                  {QStringLiteral("from"), cell(THistoryModel::hcFrom)},
                  {QStringLiteral("to"), cell(THistoryModel::hcTo)},
                  {QStringLiteral("kind"), cell(THistoryModel::hcKind)},
                  {QStringLiteral("text"), cell(THistoryModel::hcText)},
                  {QStringLiteral("number"), cell(THistoryModel::hcNumber)},
                  {QStringLiteral("printed"), cell(THistoryModel::hcPrinted)},
                  {QStringLiteral("answered"), cell(THistoryModel::hcAnswered)},
                  {QStringLiteral("lines"),
                   QJsonArray{ListLineText(m.Line1), ListLineText(m.Line2), ListLineText(m.Line3)}}};
  if (m.Alarm == asAcknowledged) {
    row.insert(QStringLiteral("acknowledged_by"), DisplayText(m.AcknowledgedBy));
    row.insert(QStringLiteral("acknowledged_utc"), IsoUtc(m.AcknowledgedUtc));
  }
  if (!m.NwsEvent.empty()) row.insert(QStringLiteral("nws"), NwsObject(m, nowUtc));
  return row;
}

namespace {

constexpr std::size_t kBoardEntries = 500;
// How often the desk is looked at for what it changes without a signal.
constexpr int kLookMs = 2000;
// Entries whose answer may still come: their rows are read again until it has.
constexpr std::size_t kNewestUnanswered = 10;
constexpr int kMaxSessionHours = 24 * 30;

QString Iso(const QDateTime& t) {
  return t.toUTC().toString(Qt::ISODate);
}

// The messages `ids` of `store` (null: none) as rows, in the order given; one purged since it
// was found is left out.
QJsonArray HistoryRows(const TMessageStore* store, const std::vector<std::int64_t>& ids, TDateTime nowUtc) {
  QJsonArray rows;
  if (!store) return rows;
  std::unordered_map<std::int64_t, TStoredMessage> found;
  for (TStoredMessage& m : store->Messages(ids)) found.emplace(m.Id, std::move(m));
  for (const std::int64_t id : ids)
    if (auto it = found.find(id); it != found.end()) rows.append(HistoryRow(it->second, nowUtc));
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

// The bulletin board as the page shows it, each line's newest copy.
QJsonArray BulletinRows(const std::vector<TBulletinLine>& board) {
  QJsonArray rows;
  for (const TBulletinLine& l : board)
    rows.append(QJsonObject{
        {QStringLiteral("from"), DisplayText(l.From)},
        {QStringLiteral("id"), DisplayText(l.LineId)},
        {QStringLiteral("kind"),
         l.Kind == kStoredAnnouncement ? QStringLiteral("announcement") : QStringLiteral("bulletin")},
        {QStringLiteral("text"), DisplayText(l.Text)},
        {QStringLiteral("utc"), QString::fromStdString(FormatDateTime("yyyy-mm-dd", l.UtcTime) + "T" +
                                                       FormatDateTime("hh:nn:ss", l.UtcTime) + "Z")},
        {QStringLiteral("id_msg"), static_cast<double>(l.Id)}});
  return rows;
}

// Runs a reprint or a clear; what the store does not hold is the board's "not found".
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
  plan.Config.KeyFile = BoardKeyFile(dataDir);
  const std::string hours = ini.ReadString("Board", "SessionHours", "");
  if (!hours.empty()) {
    std::int32_t read = 0;
    if (!TryParseDecimal(hours, read) || read < 1 || read > kMaxSessionHours)
      return QStringLiteral("[Board] SessionHours in %1: \"%2\" is not a number of hours from 1 to %3")
          .arg(QString::fromStdString(iniFile), QString::fromStdString(hours))
          .arg(kMaxSessionHours);
    plan.Config.SessionHours = read;
  }
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
    return HistoryRows(FDesk.HistoryReader(), ids, FDesk.Now(tfUTC));
  };
  hooks.MessagesAfter = [this](std::int64_t after, std::size_t limit) {
    const TMessageStore* store = FDesk.HistoryReader();
    if (!store) throw std::runtime_error("The message store is not open");
    return HistoryRows(store, store->IdsAfter(after, limit), FDesk.Now(tfUTC));
  };
  hooks.ReprintMessages = [this](const std::vector<std::int64_t>& ids, const std::string& by) {
    Reprinting([&] { FDesk.ReprintMessages(ids, "on the board by " + by); });
  };
  hooks.ReprintJob = [this](std::int64_t job, const std::string& by) {
    Reprinting([&] { FDesk.ReprintJob(job, "on the board by " + by); });
  };
  hooks.Log = [this](const std::string& line) { FDesk.LogMessage(line); };
  hooks.ClearBulletin = [this](const std::string& from, const std::string& lineId) {
    Reprinting([&] { FDesk.ClearBulletinLine(from, lineId, "on the board"); });
  };
  hooks.ArchiveFolder = [this] { return FDesk.Choices().ArchivePdf ? FDesk.ArchiveFolder() : QString(); };
  hooks.AcknowledgeAlarms = [this](std::optional<std::int64_t> id, const std::string& who) {
    return FDesk.Acknowledge(id, who, kAckOnBoard);
  };
  hooks.SendOwnMessage = [this](const std::string& to, const std::string& text, const std::string& who) {
    return SendFor(to, text, "on the board by " + who);
  };
  hooks.CancelSent = [this](const std::string& number, const std::string& who) {
    TCancelled done = CancelFor(number, "on the board by " + who);
    if (done.Unknown) throw EBoardNotFound(done.Refused);
    return done.Refused;
  };
  hooks.ReadLogPeriod = [](const std::string& from, const std::string& to, double& fromUtc, double& toUtc) {
    return qm::ReadLogPeriod(from, to, fromUtc, toUtc).toStdString();
  };
  hooks.CommsLogCsv = [this](double fromUtc, double toUtc) {
    return CommsLogCsv(FDesk.CommsLog(fromUtc, toUtc));
  };
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
  connect(&FDesk, &TMessageDesk::AlarmsChanged, s, &TBoardServer::Changed);
  connect(&FDesk, &TMessageDesk::BulletinsChanged, s, &TBoardServer::Changed);
  connect(&FDesk, &TMessageDesk::SentChanged, s, &TBoardServer::Changed);
  connect(&FDesk, &TMessageDesk::FailureToReport, s, &TBoardServer::Changed);
  connect(&FSources, &TPacketSources::SourceChanged, s, &TBoardServer::Changed);
  // ... and on what the desk changes without a signal: the choices the window hands it (the
  // printer, printing off, the archive), the store failing or back, the log's file at a new
  // day, a job handed to the spooler. Those facts alone, without the list, are looked at now
  // and then; the state is made anew only when one of them moved.
  auto* look = new QTimer(s);
  connect(look, &QTimer::timeout, s, [this, s] {
    s->CheckKeys();
    // With no page following, the state is made when a request asks for it: marked stale
    // here, it costs nothing until then.
    if (s->Streams() == 0) {
      FLooked = {};
      s->Changed();
      return;
    }
    QJsonObject facts = DeskState(FDesk, {}, QString(), QString(), 0);
    facts.insert(QStringLiteral("health"), Health(Sources()));
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

QList<TBoardSource> TBoardRun::Sources() const {
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
  return sources;
}

QJsonObject TBoardRun::State() const {
  const QList<TBoardSource> sources = Sources();
  const QString count =
      DisplayText(CountText(static_cast<int>(FDesk.Listed().size()), FDesk.Choices().PageSetting));
  QJsonObject state = DeskState(FDesk, sources, count, FLastFailure, kBoardEntries);
  state.insert(QStringLiteral("health"), Health(sources));
  // The desk tells the last page's words; its time is when they were first seen.
  QJsonObject printer = state.value(QLatin1String("printer")).toObject();
  if (const QString page = printer.value(QLatin1String("lastPage")).toString(); page != FLastPage) {
    FLastPage = page;
    FLastPageAt = QDateTime::currentDateTimeUtc();
  }
  if (!FLastPage.isEmpty()) printer.insert(QStringLiteral("lastPageUtc"), Iso(FLastPageAt));
  state.insert(QStringLiteral("printer"), printer);
  state.insert(QStringLiteral("entries"), WithMessages(state.value(QLatin1String("entries")).toArray()));
  try {
    state.insert(QStringLiteral("bulletins"), BulletinRows(FDesk.BulletinBoard()));
  } catch (const std::exception& e) {
    // Never an empty board for one that cannot be read.
    state.insert(QStringLiteral("bulletins_failure"), QString::fromUtf8(e.what()));
  }
  return state;
}

QJsonObject TBoardRun::Health(const QList<TBoardSource>& sources) const {
  const QDateTime now = QDateTime::currentDateTimeUtc();
  std::map<QString, QString> notWell;  // what, by the part it is about
  int down = 0;
  for (const TBoardSource& source : sources) {
    if (!source.Down) continue;
    ++down;
    notWell[QStringLiteral("source ") + source.Name] =
        QStringLiteral("Source %1: %2").arg(source.Name, source.State);
  }
  if (const QStringList& problems = FDesk.PrinterProblems(); !problems.isEmpty())
    notWell[QStringLiteral("printer")] =
        QStringLiteral("Printer %1: %2").arg(FDesk.PrinterName(), problems.join(QStringLiteral("; ")));
  if (FDesk.StoreFailing())
    notWell[QStringLiteral("store")] = QStringLiteral("Store: failing; what comes is kept in memory");
  else if (!FDesk.StoreFile().empty() && !FDesk.HistoryReader())
    notWell[QStringLiteral("store")] = QStringLiteral("Store: not open");
  if (!FDesk.Logging()) notWell[QStringLiteral("log")] = QStringLiteral("Log: not running");
  if (!FRefusal.isEmpty()) notWell[QStringLiteral("board")] = QStringLiteral("Board: ") + FRefusal;

  // A part keeps the time it was first seen not well until it is well again.
  std::erase_if(FSince, [&](const auto& kept) { return !notWell.contains(kept.first); });
  QJsonArray parts;
  for (const auto& [part, what] : notWell) {
    const QDateTime since = FSince.try_emplace(part, now).first->second;
    parts.append(QJsonObject{{QStringLiteral("part"), part},
                             {QStringLiteral("what"), what},
                             {QStringLiteral("since"), Iso(since)}});
  }
  const bool nothingComes = !sources.isEmpty() && down == sources.size();
  const QString level = nothingComes      ? QStringLiteral("down")
                        : parts.isEmpty() ? QStringLiteral("well")
                                          : QStringLiteral("degraded");
  return QJsonObject{{QStringLiteral("level"), level}, {QStringLiteral("parts"), parts}};
}

QJsonArray TBoardRun::WithMessages(const QJsonArray& entries) const {
  std::vector<std::int64_t> wanted;
  std::unordered_map<std::int64_t, QJsonObject> kept;
  for (qsizetype i = 0; i < entries.size(); ++i) {
    const auto id = static_cast<std::int64_t>(entries[i].toObject().value(QLatin1String("id")).toDouble());
    if (id == 0) continue;
    auto it = FRows.find(id);
    const bool newest = static_cast<std::size_t>(entries.size() - i) <= kNewestUnanswered;
    if (it == FRows.end() || (newest && it->second.value(QLatin1String("answered")).toString().isEmpty()))
      wanted.push_back(id);
    else
      kept.emplace(id, it->second);
  }
  // One at a time: an entry's number is the desk's (held in memory first), the row's the file's.
  for (const std::int64_t id : wanted)
    for (const TStoredMessage& m : FDesk.ListedMessages({id})) kept[id] = HistoryRow(m, FDesk.Now(tfUTC));
  // Rows of entries no longer listed go.
  FRows = std::move(kept);
  QJsonArray out;
  for (const QJsonValue v : entries) {
    QJsonObject entry = v.toObject();
    const auto id = static_cast<std::int64_t>(entry.value(QLatin1String("id")).toDouble());
    if (auto it = FRows.find(id); it != FRows.end()) entry.insert(QStringLiteral("message"), it->second);
    out.append(entry);
  }
  return out;
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

QByteArray TBoardRun::AcknowledgeAnswer(const QByteArray& which, const QString& who) {
  std::optional<std::int64_t> id;
  std::int32_t number = 0;
  if (!which.isEmpty()) {
    if (!TryParseDecimal(which.toStdString(), number) || number == 0)
      return QByteArray::number(kAcknowledgeNoAlarm) + "\n\"" + which + "\" is no alarm's number\n";
    id = number;
  }
  const int done = FDesk.Acknowledge(id, ProgramText(who), kAckOnCommandLine);
  if (id && done == 0) return QByteArray::number(kAcknowledgeNoAlarm) + "\nNo alarm " + which + " sounds\n";
  QString text = done == 0   ? QStringLiteral("No alarm sounds")
                 : done == 1 ? QStringLiteral("1 alarm acknowledged by %1").arg(who)
                             : QStringLiteral("%1 alarms acknowledged by %2").arg(done).arg(who);
  return "0\n" + text.toUtf8() + '\n';
}

std::pair<std::string, std::string> TBoardRun::SendFor(const std::string& to, const std::string& text,
                                                       const std::string& where) {
  try {
    return {FDesk.Send(to, text, where).Number, {}};
  } catch (const ESendRefused& e) {
    return {{}, e.what()};
  }
}

QByteArray TBoardRun::SendAnswer(const QByteArray& message, const QString& who) {
  const qsizetype blank = message.indexOf(' ');
  const std::string call = message.left(blank).toStdString();
  const std::string text = blank < 0 ? std::string() : message.mid(blank + 1).toStdString();
  const auto [number, refused] = SendFor(call, text, "on the command line by " + ProgramText(who));
  if (number.empty())
    return QByteArray::number(kSendRefused) + '\n' + QByteArray::fromStdString(refused) + '\n';
  return "0\n" + QByteArray::fromStdString(number) + '\n';
}

TBoardRun::TCancelled TBoardRun::CancelFor(const std::string& asked, const std::string& where) {
  const std::string number = UpperCase(asked);
  const std::vector<TSentMessage>& sent = FDesk.SentMessages();
  const auto m =
      std::find_if(sent.rbegin(), sent.rend(), [&](const TSentMessage& s) { return s.Number == number; });
  const std::string to = m == sent.rend() ? std::string() : m->To;
  if (FDesk.CancelSent(number, where)) return {{}, false, to};
  if (m == sent.rend()) return {"No message " + number + " is being sent", true, {}};
  return {"Message " + number + " to " + to + " is no longer being sent: " + SentStateText(*m), false, to};
}

QByteArray TBoardRun::CancelSendAnswer(const QByteArray& number, const QString& who) {
  const TCancelled done = CancelFor(number.toStdString(), "on the command line by " + ProgramText(who));
  if (!done.Refused.empty())
    return QByteArray::number(kSendRefused) + '\n' + QByteArray::fromStdString(done.Refused) + '\n';
  return "0\nStopped message " + number.toUpper() +
         (done.To.empty() ? QByteArray() : " to " + QByteArray::fromStdString(done.To)) + '\n';
}

namespace {

// Why the desk on `lock`'s folder gave no answer, and the exit code that says so.
int NoAnswer(const TInstanceLock& lock, const QString& dataDir, const TInstanceLock::TStatusReply& reply,
             QString& err, int timeoutMs) {
  const QString folder = QDir::toNativeSeparators(dataDir);
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

// The answer's first line, its exit code, and the rest for standard output; nullopt without one.
std::optional<QByteArray> Answered(const TInstanceLock::TStatusReply& reply, QString& out, QString& err) {
  if (!reply.Stranger.isEmpty()) err += QStringLiteral("quillmark: %1\n").arg(reply.Stranger);
  if (reply.Kind != TInstanceLock::TStatusReply::srAnswered) return std::nullopt;
  const qsizetype firstLine = reply.Answer.indexOf('\n');
  out = QString::fromUtf8(reply.Answer.mid(firstLine + 1));
  return reply.Answer.left(firstLine);
}

// The answer to an act of the desk (--send, --cancel-send): 0 done, kSendRefused with the
// desk's reason on standard error, and as AskStatus when no desk answers.
int ActAnswered(const TInstanceLock& lock, const QString& dataDir, const TInstanceLock::TStatusReply& reply,
                QString& out, QString& err, int timeoutMs) {
  if (const auto code = Answered(reply, out, err)) {
    if (*code == "0") return 0;
    err += QStringLiteral("quillmark: ") + out;
    out.clear();
    return kSendRefused;
  }
  return NoAnswer(lock, dataDir, reply, err, timeoutMs);
}

}  // namespace

int AskStatus(const QString& dataDir, QString& out, QString& err, int timeoutMs) {
  const TInstanceLock lock(dataDir);
  const TInstanceLock::TStatusReply reply = lock.AskHolderStatus(timeoutMs);
  if (const auto code = Answered(reply, out, err)) return *code == "0" ? 0 : 1;
  return NoAnswer(lock, dataDir, reply, err, timeoutMs);
}

int AskAcknowledge(const QString& dataDir, const QByteArray& which, QString& out, QString& err,
                   int timeoutMs) {
  const TInstanceLock lock(dataDir);
  const TInstanceLock::TStatusReply reply = lock.AskHolderToAcknowledge(which, timeoutMs);
  if (const auto code = Answered(reply, out, err)) return *code == "0" ? 0 : kAcknowledgeNoAlarm;
  return NoAnswer(lock, dataDir, reply, err, timeoutMs);
}

int AskSend(const QString& dataDir, const QString& call, const QString& text, QString& out, QString& err,
            int timeoutMs) {
  // Refused here already what the desk would refuse for its text alone.
  if (const std::string problem = SendProblem(call.toUpper().toStdString(), text.toStdString());
      !problem.empty()) {
    err += QStringLiteral("quillmark: %1\n").arg(QString::fromStdString(problem));
    return kSendRefused;
  }
  const TInstanceLock lock(dataDir);
  return ActAnswered(lock, dataDir, lock.AskHolderToSend(call.toUtf8(), text.toUtf8(), timeoutMs), out, err,
                     timeoutMs);
}

int AskCancelSend(const QString& dataDir, const QString& number, QString& out, QString& err, int timeoutMs) {
  const TInstanceLock lock(dataDir);
  return ActAnswered(lock, dataDir, lock.AskHolderToCancelSend(number.toUtf8(), timeoutMs), out, err,
                     timeoutMs);
}

std::string BoardKeyFile(const std::string& dataDir) {
  return QDir(QString::fromStdString(dataDir)).filePath(QString::fromLatin1(kBoardKeysFile)).toStdString();
}

QString BoardKeyUrl(const std::string& host, int port, const std::string& key) {
  std::string shown = host;
  if (shown == "0.0.0.0" || shown == "::") shown = QSysInfo::machineHostName().toStdString();
  if (shown.find(':') != std::string::npos) shown = "[" + shown + "]";
  return QStringLiteral("http://%1:%2/?key=%3")
      .arg(QString::fromStdString(shown), port != 0 ? QString::number(port) : QStringLiteral("PORT"),
           QString::fromStdString(key));
}

QString TBoardRun::KeyUrl(const std::string& key) const {
  return BoardKeyUrl(FPlan.Config.Host, FServer ? FServer->Port() : FPlan.Config.Port, key);
}

int BoardKeyCommand(const TCommandLine& command, const std::string& iniFile, const std::string& dataDir,
                    QString& out, QString& err) {
  const std::string file = BoardKeyFile(dataDir);
  const std::string name = command.KeyName.toStdString();
  try {
    if (command.Action == TCommandLine::caBoardKeys) {
      const std::vector<TBoardKey> keys = ReadBoardKeys(file);
      if (keys.empty()) out += QStringLiteral("No board keys; quillmark --board-key NAME makes one\n");
      for (const TBoardKey& k : keys)
        out += QStringLiteral("%1: %2\n")
                   .arg(QString::fromStdString(k.Name), QString::fromLatin1(BoardKeyRights(k)));
      return 0;
    }
    if (command.Action == TCommandLine::caBoardKeyRevoke) {
      if (!RevokeBoardKey(file, name)) {
        err += QStringLiteral("quillmark: there is no board key \"%1\" (quillmark --board-keys lists them)\n")
                   .arg(command.KeyName);
        return 1;
      }
      out += QStringLiteral("Board key \"%1\" revoked; its sessions end now\n").arg(command.KeyName);
      return 0;
    }
    std::error_code made;
    MakePrivateFolders(dataDir, made);
    if (made) throw std::runtime_error("The data folder " + dataDir + " cannot be made: " + made.message());
    bool replaced = false;
    const TBoardKey key = MakeBoardKey(file, name, command.CanAct, replaced);
    out += QStringLiteral("Board key \"%1\" made (%2)%3\n")
               .arg(command.KeyName, QString::fromLatin1(BoardKeyRights(key)),
                    replaced ? QStringLiteral("; the key of that name before it no longer opens the board")
                             : QString());
    // A desk that runs on this folder is where the key works: at its address, which its own
    // start's --web may have chosen, not at the settings file's.
    const QUrl running(RunningBoardUrl(QString::fromStdString(dataDir)));
    std::string host;
    int port = 0;
    if (running.isValid() && running.port() > 0) {
      host = running.host().toStdString();
      port = running.port();
    } else {
      TBoardPlan plan;
      const QString wrong = PlanBoard(command.Options.Web, iniFile, dataDir, plan);
      if (!wrong.isEmpty()) err += QStringLiteral("quillmark: %1\n").arg(wrong);
      if (plan.Off) err += QStringLiteral("quillmark: the board is off ([Board] Listen=off or --web off)\n");
      host = plan.Config.Host;
      port = plan.Config.Port;
    }
    out += QStringLiteral("Hand over: ") + BoardKeyUrl(host, port, key.Key) + QLatin1Char('\n');
    return 0;
  } catch (const std::exception& e) {
    err += QStringLiteral("quillmark: %1\n").arg(QString::fromUtf8(e.what()));
    return 1;
  }
}

}  // namespace qm
