#include "print/Ics309.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <algorithm>

#include "base/ProgramText.h"
#include "print/ProgramFont.h"

#ifdef _WIN32
#include <QtGlobal>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace qm {

namespace {

constexpr int kTimeWidth = 18;  // "2026-12-10 14:05" and two blanks
constexpr int kCallWidth = 11;  // a call with its SSID and two blanks

// The period as a file name's part: "20261210-0800".
QString FileStamp(TDateTime utc) {
  const TDateTimeParts p = DecodeDateTime(utc);
  return QString::asprintf("%04d%02d%02d-%02d%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute);
}

std::string CsvField(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (const char c : field) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + '"';
}

std::string Utf8(std::string_view programText) {
  return DisplayText(programText).toStdString();
}

// A text's line breaks as blanks: a row is one line of the form.
QString OneLine(QString text) {
  for (QChar& c : text)
    if (c == u'\r' || c == u'\n') c = u' ';
  return text;
}

TPageFrame LogFrame(const TCommsLog& log) {
  TPageFrame frame;
  frame.HeaderFooter = true;
  frame.Station = log.Station;
  return frame;
}

}  // namespace

int TCommsLog::Received() const {
  return static_cast<int>(
      std::count_if(Rows.begin(), Rows.end(), [](const TLogRow& r) { return !r.Outgoing; }));
}

TCommsLog MakeCommsLog(QString station, QString op, TDateTime fromUtc, TDateTime toUtc,
                       std::vector<TLogRow> received, const std::vector<TLogRow>& outgoing) {
  TCommsLog log{std::move(station), std::move(op), fromUtc, toUtc, std::move(received)};
  for (TLogRow row : outgoing) {
    if (row.UtcTime < fromUtc || row.UtcTime >= toUtc) continue;
    row.Outgoing = true;
    log.Rows.push_back(std::move(row));
  }
  std::stable_sort(log.Rows.begin(), log.Rows.end(),
                   [](const TLogRow& a, const TLogRow& b) { return a.UtcTime < b.UtcTime; });
  return log;
}

QString AccountName() {
#ifdef _WIN32
  return qEnvironmentVariable("USERNAME");
#else
  if (const passwd* pw = getpwuid(getuid())) return QString::fromLocal8Bit(pw->pw_name);
  return qEnvironmentVariable("USER");
#endif
}

std::string CommsLogCsv(const TCommsLog& log) {
  std::string csv = "Time (UTC),From,To,Subject/Message\r\n";
  for (const TLogRow& row : log.Rows)
    csv += MinuteText(row.UtcTime).toStdString() + ',' + CsvField(Utf8(row.From)) + ',' +
           CsvField(Utf8(row.To)) + ',' + CsvField(Utf8(row.Text)) + "\r\n";
  return csv;
}

QString CommsLogDocument(const TCommsLog& log) {
  QStringList lines;
  lines << QStringLiteral("COMMUNICATIONS LOG (ICS 309)");
  lines << QStringLiteral("Station: %1    Operator: %2").arg(log.Station, log.Operator);
  lines << QStringLiteral("Period: %1 to %2 UTC").arg(MinuteText(log.FromUtc), MinuteText(log.ToUtc));
  lines << QStringLiteral("Messages: %1 in, %2 out").arg(log.Received()).arg(log.Sent());
  lines << QString();
  const auto row = [](const QString& time, const QString& from, const QString& to, const QString& text) {
    return time.leftJustified(kTimeWidth) + from.leftJustified(kCallWidth) + to.leftJustified(kCallWidth) +
           text;
  };
  lines << row(QStringLiteral("Time (UTC)"), QStringLiteral("From"), QStringLiteral("To"),
               QStringLiteral("Subject/Message"));
  for (const TLogRow& r : log.Rows)
    lines << row(MinuteText(r.UtcTime), DisplayText(r.From), DisplayText(r.To), OneLine(DisplayText(r.Text)));
  if (log.Rows.empty()) lines << QStringLiteral("(no messages in this period)");
  return lines.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");
}

QFont CommsLogFont() {
  QFont font = ProgramFont(QStringLiteral("Courier New"), 8);
  font.setFixedPitch(true);
  return font;
}

TCommsLogFiles SaveCommsLog(const TCommsLog& log, const QString& folder) {
  const QString base =
      QDir(folder).filePath(QStringLiteral("ics309-%1-%2").arg(FileStamp(log.FromUtc), FileStamp(log.ToUtc)));
  TCommsLogFiles files{base + QStringLiteral(".pdf"), base + QStringLiteral(".csv")};
  QSaveFile csv(files.Csv);
  const std::string text = CommsLogCsv(log);
  if (!csv.open(QIODevice::WriteOnly) ||
      csv.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
      !csv.commit())
    throw EPrintError("Unable to write the log \"" + files.Csv.toStdString() +
                      "\": " + csv.errorString().toStdString());
  // A printer list of its own: the file asks no spooler.
  TPrintJobs pdf{TPrinterList{}};
  pdf.SetOutputFile(files.Pdf);
  pdf.SetPageFrame(LogFrame(log));
  pdf.PrintText(CommsLogDocument(log), CommsLogFont(), QStringLiteral("Quillmark ICS-309"));
  if (!QFile::exists(files.Pdf))
    throw EPrintError("Unable to write the log \"" + files.Pdf.toStdString() + "\"");
  return files;
}

TJobTicket PrintCommsLog(TPrintJobs& jobs, const TCommsLog& log) {
  const TPageFrame before = jobs.PageFrame();
  jobs.SetPageFrame(LogFrame(log));
  try {
    TJobTicket ticket =
        jobs.PrintText(CommsLogDocument(log), CommsLogFont(), QStringLiteral("Quillmark ICS-309"));
    jobs.SetPageFrame(before);
    return ticket;
  } catch (...) {
    jobs.SetPageFrame(before);
    throw;
  }
}

}  // namespace qm
