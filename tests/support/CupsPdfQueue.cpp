#include "tests/support/CupsPdfQueue.h"

#include "tests/support/PdfTools.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDirIterator>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QThread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace qm::test {

namespace {

// The socket the suite's cupsd listens on (scripts/cups-pdf-queue.sh).
constexpr char CupsdSocket[] = "/run/cups/cups.sock";

QSet<int> JobIds(const QString& which, const QString& queue) {
  QSet<int> ids;
  const QString listing =
      RunTool(QStringLiteral("lpstat"), {QStringLiteral("-W"), which, QStringLiteral("-o"), queue});
  const QString prefix = queue + QLatin1Char('-');
  for (const QString& line : listing.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QString request = line.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    bool ok = false;
    const int id = request.startsWith(prefix) ? request.mid(prefix.size()).toInt(&ok) : 0;
    if (ok) ids.insert(id);
  }
  return ids;
}

// A connection to cupsd, made before a change that restarts it: cupsd closes it when it
// goes down for the restart.
class TCupsdWatch {
 public:
  TCupsdWatch() {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, CupsdSocket, sizeof address.sun_path - 1);
    // cupsd may be restarting for another test that changed its settings.
    const QDeadlineTimer deadline(45000);
    for (;;) {
      FFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (FFd >= 0 && ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return;
      if (FFd >= 0) ::close(FFd);
      if (deadline.hasExpired())
        throw std::runtime_error("cannot connect to cupsd at " + std::string(CupsdSocket));
      QThread::msleep(50);
    }
  }
  ~TCupsdWatch() { ::close(FFd); }
  TCupsdWatch(const TCupsdWatch&) = delete;
  TCupsdWatch& operator=(const TCupsdWatch&) = delete;

  // Waits until cupsd has closed the connection, then until it answers again. cupsd puts a
  // restart off while jobs print, for up to ReloadTimeout (30 s).
  void WaitForRestart() const {
    const QDeadlineTimer deadline(45000);
    pollfd watch{FFd, POLLIN, 0};
    if (::poll(&watch, 1, int(deadline.remainingTime())) != 1)
      throw std::runtime_error("cupsd did not restart within 45 s");
    for (;;) {
      try {
        if (RunTool(QStringLiteral("lpstat"), {QStringLiteral("-r")}).contains(QStringLiteral("is running")))
          return;
      } catch (const std::runtime_error&) {
        // not answering yet
      }
      if (deadline.hasExpired()) throw std::runtime_error("cupsd did not answer after its restart");
      QThread::msleep(50);
    }
  }

 private:
  int FFd = -1;
};

// The value cupsctl lists for a cupsd.conf directive, "" when it is not set.
QString CupsdDirectiveValue(const QString& name) {
  for (const QString& line : RunTool(QStringLiteral("cupsctl"), {}).split(QLatin1Char('\n')))
    if (line.startsWith(name + QLatin1Char('='))) return line.mid(name.size() + 1).trimmed();
  return {};
}

void SetCupsdDirective(const QString& name, const QString& value) {
  const TCupsdWatch watch;
  RunTool(QStringLiteral("cupsctl"), {name + QLatin1Char('=') + value});
  watch.WaitForRestart();
}

}  // namespace

QSet<int> CompletedJobIds(const QString& queue) {
  return JobIds(QStringLiteral("completed"), queue);
}

QSet<int> KnownJobIds(const QString& queue) {
  return JobIds(QStringLiteral("all"), queue);
}

bool WaitUntilForgotten(int id, const QString& queue, int timeoutMs) {
  const QDeadlineTimer deadline(timeoutMs);
  while (KnownJobIds(queue).contains(id)) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(100);
  }
  return true;
}

bool WaitForJobPdf(int id, int timeoutMs, const QString& queue) {
  const QDeadlineTimer deadline(timeoutMs);
  while (JobPdf(id).isEmpty() || JobIds(QStringLiteral("not-completed"), queue).contains(id)) {
    if (deadline.hasExpired()) return false;
    QThread::msleep(100);
  }
  return true;
}

TCupsdDirective::TCupsdDirective(const QString& name, const QString& value, const QString& defaultValue)
    : FName(name), FOld(CupsdDirectiveValue(name)), FDefault(defaultValue) {
  try {
    SetCupsdDirective(name, value);
  } catch (...) {
    // The change may have been made before the failure: put back all the same.
    try {
      Restore();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "cupsd's %s was NOT put back: %s\n", qPrintable(FName), e.what());
    }
    throw;
  }
}

void TCupsdDirective::Restore() {
  if (FRestored) return;
  FRestored = true;
  // Not set before: the default is put back by naming it, as cupsctl cannot remove a line.
  SetCupsdDirective(FName, FOld.isEmpty() ? FDefault : FOld);
}

TCupsdDirective::~TCupsdDirective() {
  try {
    Restore();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cupsd's %s was NOT put back to %s: %s\n", qPrintable(FName),
                 qPrintable(FOld.isEmpty() ? FDefault : FOld), e.what());
  }
}

bool RunsUntilKilled(const QString& program, const QStringList& arguments, QString& output, int timeoutMs) {
  QProcess process;
  process.start(program, arguments);
  if (!process.waitForStarted(timeoutMs) || !process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    throw std::runtime_error("the child " + program.toStdString() + " did not end");
  }
  output = QString::fromUtf8(process.readAllStandardOutput());
  return process.exitStatus() == QProcess::CrashExit && process.exitCode() == SIGKILL;
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
  return JobIds(QStringLiteral("not-completed"), FName);
}

}  // namespace qm::test
