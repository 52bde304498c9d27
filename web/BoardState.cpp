#include "web/BoardState.h"

#include "base/ProgramText.h"
#include "base/Timing.h"
#include "desk/MessageDesk.h"

namespace qm {

namespace {

QString Str(const QJsonObject& o, const char* key) {
  return o.value(QLatin1String(key)).toString();
}

}  // namespace

QString IsoUtc(double utc) {
  return QString::fromStdString(FormatDateTime("yyyy-mm-dd", utc) + "T" + FormatDateTime("hh:nn:ss", utc) +
                                "Z");
}

QJsonObject DeskState(const TMessageDesk& desk, const QList<TBoardSource>& sources, const QString& countText,
                      const QString& lastFailure, std::size_t maxEntries) {
  QJsonArray sourceArray;
  for (const TBoardSource& s : sources)
    sourceArray.append(QJsonObject{{QStringLiteral("name"), s.Name},
                                   {QStringLiteral("state"), s.State},
                                   {QStringLiteral("down"), s.Down},
                                   {QStringLiteral("packets"), static_cast<double>(s.Packets)},
                                   {QStringLiteral("lastHeard"), s.LastHeard}});

  const QString folder = desk.PrintFolder();
  QString printerName = folder.isEmpty() ? desk.PrinterName() : QStringLiteral("PDF files in ") + folder;
  if (desk.Choices().PrintingDisabled) printerName += QStringLiteral(" (printing is off)");
  QJsonObject printer{{QStringLiteral("name"), printerName},
                      {QStringLiteral("problems"), QJsonArray::fromStringList(desk.PrinterProblems())},
                      {QStringLiteral("waitingJobs"), static_cast<int>(desk.PendingJobCount())},
                      {QStringLiteral("lastPage"), desk.LastConfirmed()}};

  QJsonObject store{{QStringLiteral("open"), desk.HistoryReader() != nullptr}};
  if (const std::string file = desk.StoreFile(); !file.empty()) {
    store.insert(QStringLiteral("file"), QString::fromStdString(file));
    store.insert(QStringLiteral("failing"), desk.StoreFailing());
  }
  QJsonObject log{{QStringLiteral("running"), desk.Logging()}};
  if (desk.Logging()) log.insert(QStringLiteral("file"), QString::fromStdString(desk.LogFile()));

  const std::vector<TListedEntry>& listed = desk.Listed();
  QJsonArray entries;
  const std::size_t first = listed.size() > maxEntries ? listed.size() - maxEntries : 0;
  for (std::size_t i = first; i < listed.size(); ++i) {
    const TListedEntry& e = listed[i];
    entries.append(QJsonObject{
        {QStringLiteral("key"), static_cast<double>(e.Key)},
        {QStringLiteral("id"), static_cast<double>(e.StoreId)},
        {QStringLiteral("lines"),
         QJsonArray{ListLineText(e.Lines[0]), ListLineText(e.Lines[1]), ListLineText(e.Lines[2])}},
        {QStringLiteral("printing"), e.Job != 0}});
  }
  QJsonArray alarms;
  for (const TDeskAlarm& a : desk.Alarms())
    alarms.append(QJsonObject{{QStringLiteral("id"), static_cast<double>(a.Id)},
                              {QStringLiteral("from"), DisplayText(a.Sender)},
                              {QStringLiteral("to"), DisplayText(a.Addressee)},
                              {QStringLiteral("kind"), QString::fromLatin1(AlarmKindName(a.Kind))},
                              {QStringLiteral("text"), DisplayText(a.Text)},
                              {QStringLiteral("since"), IsoUtc(a.SinceUtc)}});
  QJsonArray sent;
  for (const TSentMessage& m : desk.SentMessages()) {
    QJsonObject row{{QStringLiteral("number"), QString::fromStdString(m.Number)},
                    {QStringLiteral("to"), DisplayText(m.To)},
                    {QStringLiteral("text"), DisplayText(m.Text)},
                    {QStringLiteral("state"), QString::fromLatin1(SentStateName(m.State))},
                    {QStringLiteral("stateText"), QString::fromStdString(SentStateText(m))},
                    {QStringLiteral("tries"), m.Tries},
                    {QStringLiteral("source"), DisplayText(m.Source)},
                    {QStringLiteral("created"), IsoUtc(m.CreatedUtc)}};
    if (m.LastTryUtc > 0) row.insert(QStringLiteral("lastTry"), IsoUtc(m.LastTryUtc));
    if (m.EndedUtc > 0) row.insert(QStringLiteral("ended"), IsoUtc(m.EndedUtc));
    sent.append(row);
  }
  return QJsonObject{{QStringLiteral("alarms"), alarms},
                     {QStringLiteral("sent"), sent},
                     {QStringLiteral("sources"), sourceArray},
                     {QStringLiteral("printer"), printer},
                     {QStringLiteral("store"), store},
                     {QStringLiteral("log"), log},
                     {QStringLiteral("count"), countText},
                     {QStringLiteral("listed"), static_cast<double>(listed.size())},
                     {QStringLiteral("entries"), entries},
                     {QStringLiteral("archive"), desk.Choices().ArchivePdf},
                     {QStringLiteral("demo"), desk.PlaysDemo()},
                     {QStringLiteral("failure"), lastFailure}};
}

QStringList StateLines(const QJsonObject& state, bool& well) {
  well = true;
  QStringList lines;
  for (const QJsonValue v : state.value(QLatin1String("sources")).toArray()) {
    const QJsonObject s = v.toObject();
    if (s.value(QLatin1String("down")).toBool()) well = false;
    QString line =
        QStringLiteral("Source %1: %2, %3 packets")
            .arg(Str(s, "name").isEmpty() ? QStringLiteral("(none)") : Str(s, "name"), Str(s, "state"))
            .arg(static_cast<quint64>(s.value(QLatin1String("packets")).toDouble()));
    if (!Str(s, "lastHeard").isEmpty()) line += QStringLiteral(", last heard ") + Str(s, "lastHeard");
    lines << line;
  }
  const QJsonObject printer = state.value(QLatin1String("printer")).toObject();
  const QJsonArray problems = printer.value(QLatin1String("problems")).toArray();
  QString printerLine = QStringLiteral("Printer %1: ").arg(Str(printer, "name"));
  if (problems.isEmpty()) {
    printerLine += QStringLiteral("ready");
  } else {
    well = false;
    QStringList words;
    for (const QJsonValue p : problems) words << p.toString();
    printerLine += words.join(QStringLiteral("; "));
  }
  lines << printerLine;
  if (!Str(printer, "lastPage").isEmpty()) lines << QStringLiteral("Last page: ") + Str(printer, "lastPage");
  const QJsonObject store = state.value(QLatin1String("store")).toObject();
  lines << QStringLiteral("Store: %1%2")
               .arg(
                   Str(store, "file").isEmpty() ? QStringLiteral("not open") : Str(store, "file"),
                   store.value(QLatin1String("failing")).toBool() ? QStringLiteral(" (failing)") : QString());
  const QJsonObject log = state.value(QLatin1String("log")).toObject();
  lines << QStringLiteral("Log: %1").arg(Str(log, "file").isEmpty() ? QStringLiteral("not running")
                                                                    : Str(log, "file"));
  lines << QStringLiteral("Listed: %1").arg(Str(state, "count"));
  if (!Str(state, "failure").isEmpty()) lines << QStringLiteral("Last failure: ") + Str(state, "failure");
  for (const QJsonValue v : state.value(QLatin1String("alarms")).toArray()) {
    const QJsonObject a = v.toObject();
    // "2026-12-10T14:03:00Z" as "2026-12-10 14:03 UTC".
    const QString since = Str(a, "since").left(16).replace(QLatin1Char('T'), QLatin1Char(' '));
    lines << QStringLiteral("Alarm: %1 to %2: %3 (number %4, since %5 UTC)")
                 .arg(Str(a, "from"), Str(a, "to"), Str(a, "text"))
                 .arg(static_cast<qint64>(a.value(QLatin1String("id")).toDouble()))
                 .arg(since);
  }
  return lines;
}

}  // namespace qm
