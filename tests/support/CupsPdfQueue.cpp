#include "tests/support/CupsPdfQueue.h"

#include "tests/support/PdfTools.h"

#include <QDeadlineTimer>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
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

int SubmitTextAs(const QString& user, const QString& title, const QByteArray& text, const QString& queue) {
  QString program = QStringLiteral("lp");
  QStringList arguments{QStringLiteral("-d"), queue, QStringLiteral("-t"), title};
  if (!user.isEmpty()) {
    arguments = QStringList{QStringLiteral("-u"), user, QStringLiteral("--"), program} + arguments;
    program = QStringLiteral("runuser");
  }
  QProcess lp;
  lp.start(program, arguments);
  // The text goes in on standard input: a file of ours may be closed to that user.
  if (!lp.waitForStarted(30000)) throw std::runtime_error("cannot start lp");
  lp.write(text);
  lp.closeWriteChannel();
  if (!lp.waitForFinished(30000) || lp.exitStatus() != QProcess::NormalExit || lp.exitCode() != 0)
    throw std::runtime_error("lp failed: " + QString::fromLocal8Bit(lp.readAllStandardError()).toStdString());
  // "request id is Quillmark-PDF-12 (0 file(s))"
  const QString said = QString::fromLocal8Bit(lp.readAllStandardOutput());
  const QRegularExpression request(
      QStringLiteral("request id is %1-(\\d+)").arg(QRegularExpression::escape(queue)));
  const auto match = request.match(said);
  if (!match.hasMatch()) throw std::runtime_error("lp named no job: " + said.toStdString());
  return match.captured(1).toInt();
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

}  // namespace qm::test
