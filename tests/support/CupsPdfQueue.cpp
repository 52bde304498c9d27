#include "tests/support/CupsPdfQueue.h"

#include "tests/support/PdfTools.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QTemporaryFile>
#include <QThread>

#include <algorithm>
#include <stdexcept>

namespace qm::test {

QSet<int> CompletedJobIds(const QString& queue) {
  QSet<int> ids;
  const QString listing =
      RunTool(QStringLiteral("lpstat"),
              {QStringLiteral("-W"), QStringLiteral("completed"), QStringLiteral("-o"), queue});
  const QString prefix = queue + QLatin1Char('-');
  for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QString request = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    bool ok = false;
    const int id = request.startsWith(prefix) ? request.mid(prefix.size()).toInt(&ok) : 0;
    if (ok) ids.insert(id);
  }
  return ids;
}

int WaitForNewCompletedJob(const QSet<int>& before, int timeoutMs, const QString& queue) {
  const QDeadlineTimer deadline(timeoutMs);
  for (;;) {
    const QSet<int> now = CompletedJobIds(queue);
    int newest = -1;
    for (int id : now)
      if (!before.contains(id)) newest = std::max(newest, id);
    if (newest >= 0 || deadline.hasExpired()) return newest;
    // CUPS offers no notification to block on from here; ask again shortly.
    QThread::msleep(100);
  }
}

QString JobPdf(int id, const QString& folder) {
  const QString pattern = QStringLiteral("job_%1-*.pdf").arg(id);
  QDirIterator it(folder, {pattern}, QDir::Files, QDirIterator::Subdirectories);
  return it.hasNext() ? it.next() : QString();
}

int JobPdfCount(int id, const QString& folder) {
  int count = 0;
  QDirIterator it(folder, {QStringLiteral("job_%1-*.pdf").arg(id)}, QDir::Files,
                  QDirIterator::Subdirectories);
  for (; it.hasNext(); it.next()) ++count;
  return count;
}

void CupsPdfQueueScript(const QString& command) {
  const QString source = qEnvironmentVariable("QM_SOURCE_DIR");
  if (source.isEmpty()) throw std::runtime_error("QM_SOURCE_DIR is not set");
  RunTool(source + QStringLiteral("/scripts/cups-pdf-queue.sh"), {command}, 60000);
}

QString NewestCompletedJobPdf(const QString& queue, const QString& folder) {
  const QSet<int> ids = CompletedJobIds(queue);
  if (ids.isEmpty()) return {};
  return JobPdf(*std::max_element(ids.begin(), ids.end()), folder);
}

QString JobName(int id, const QString& queue) {
  QTemporaryFile test;
  if (!test.open()) throw std::runtime_error("cannot write the ipptool test file");
  test.write(
      "{\n"
      "  NAME \"job-name of one job\"\n"
      "  OPERATION Get-Job-Attributes\n"
      "  GROUP operation-attributes-tag\n"
      "  ATTR charset attributes-charset utf-8\n"
      "  ATTR naturalLanguage attributes-natural-language en\n"
      "  ATTR uri printer-uri $uri\n"
      "  ATTR integer job-id $job_id\n"
      "  ATTR name requesting-user-name $user\n"
      "  ATTR keyword requested-attributes job-name\n"
      "  STATUS successful-ok\n"
      "  DISPLAY job-name\n"
      "}\n");
  test.close();
  // CSV output: the header "job-name", then the value.
  const QStringList lines =
      RunTool(QStringLiteral("ipptool"),
              {QStringLiteral("-c"), QStringLiteral("-d"), QStringLiteral("job_id=%1").arg(id),
               QStringLiteral("ipp://localhost/printers/%1").arg(queue), test.fileName()})
          .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  if (lines.size() < 2 || lines[0].trimmed() != QLatin1String("job-name"))
    throw std::runtime_error("ipptool gave no job-name for job " + std::to_string(id));
  QString name = lines[1].trimmed();
  if (name.size() >= 2 && name.startsWith(QLatin1Char('"')) && name.endsWith(QLatin1Char('"')))
    name = name.mid(1, name.size() - 2);
  return name;
}

TPrivateCupsQueue::TPrivateCupsQueue()
    : FName(QStringLiteral("Quillmark-Test-%1").arg(QCoreApplication::applicationPid())) {
  RunTool(QStringLiteral("lpadmin"),
          {QStringLiteral("-p"), FName, QStringLiteral("-E"), QStringLiteral("-v"),
           QStringLiteral("cups-pdf:/quillmark"), QStringLiteral("-m"),
           QStringLiteral("lsb/usr/cups-pdf/CUPS-PDF_opt.ppd"), QStringLiteral("-o"),
           QStringLiteral("pdftops-renderer-default=pdftocairo"), QStringLiteral("-o"),
           QStringLiteral("TitlePref=1"), QStringLiteral("-o"), QStringLiteral("Label=1"),
           QStringLiteral("-o"), QStringLiteral("printer-is-shared=false")},
          60000);
}

TPrivateCupsQueue::~TPrivateCupsQueue() {
  try {
    RunTool(QStringLiteral("cancel"), {QStringLiteral("-a"), FName});
    RunTool(QStringLiteral("lpadmin"), {QStringLiteral("-x"), FName});
  } catch (const std::exception&) {
    // A cupsd that is gone takes its queue along at the next start; nothing to do here.
  }
}

void TPrivateCupsQueue::Enable(bool on) const {
  RunTool(on ? QStringLiteral("cupsenable") : QStringLiteral("cupsdisable"), {FName});
}

void TPrivateCupsQueue::Accept(bool on) const {
  RunTool(on ? QStringLiteral("cupsaccept") : QStringLiteral("cupsreject"), {FName});
}

void TPrivateCupsQueue::Cancel(int job) const {
  RunTool(QStringLiteral("cancel"), {FName + QLatin1Char('-') + QString::number(job)});
}

QSet<int> TPrivateCupsQueue::PendingJobIds() const {
  QSet<int> ids;
  const QString listing = RunTool(QStringLiteral("lpstat"), {QStringLiteral("-o"), FName});
  const QString prefix = FName + QLatin1Char('-');
  for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QString request = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    bool ok = false;
    const int id = request.startsWith(prefix) ? request.mid(prefix.size()).toInt(&ok) : 0;
    if (ok) ids.insert(id);
  }
  return ids;
}

}  // namespace qm::test
