#include "print/WinSpool.h"

#include <QStringList>

#ifdef _WIN32
#include <windows.h>
#include <winspool.h>
#endif

namespace qm {

TSpoolAnswer WinJobAnswer(const TWinJob& job) {
  using namespace winjob;
  const unsigned s = job.Status;
  const QString said = job.StatusText.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(job.StatusText);
  if (s & (Printed | Complete)) return TSpoolAnswer{ssCompleted, {}};
  if (s & (Deleting | Deleted))
    return TSpoolAnswer{ssFailed, QStringLiteral("job %1 was deleted at the print spooler").arg(job.Id),
                        sfCancelled};
  if (s & Offline)
    return TSpoolAnswer{ssFailed, QStringLiteral("the printer of job %1 is offline%2").arg(job.Id).arg(said),
                        sfOffline};
  if (s & BlockedDevq)
    return TSpoolAnswer{ssFailed,
                        QStringLiteral("the printer driver cannot print job %1%2").arg(job.Id).arg(said),
                        sfAborted};
  if (s & Error)
    return TSpoolAnswer{ssFailed,
                        QStringLiteral("the printer reported an error on job %1%2").arg(job.Id).arg(said),
                        sfAborted};
  QStringList why;
  if (s & Paused) why << QStringLiteral("paused");
  if (s & PaperOut) why << QStringLiteral("out of paper");
  if (s & UserIntervention) why << QStringLiteral("the printer needs attention");
  if (s & Restart) why << QStringLiteral("to be printed again");
  if (s & Spooling) why << QStringLiteral("being spooled");
  if (s & Printing) why << QStringLiteral("printing");
  if (!job.StatusText.isEmpty()) why << job.StatusText;
  return TSpoolAnswer{ssPending, why.join(QStringLiteral(", "))};
}

TSpoolAnswer WinJobGoneAnswer(int id, bool seenPrinting) {
  if (seenPrinting) return TSpoolAnswer{ssCompleted, {}};
  return TSpoolAnswer{ssCompleted,
                      QStringLiteral("job %1 left the queue unseen: taken by the print spooler").arg(id)};
}

bool WinJobSeenPrinting(unsigned status) {
  return (status & (winjob::Printing | winjob::Printed | winjob::Complete)) != 0;
}

int MatchWinJob(const std::vector<TWinJob>& before, const std::vector<TWinJob>& after,
                const QString& document, const QString& user, qint64 from, qint64 to) {
  int found = 0;
  for (const TWinJob& job : after) {
    bool old = false;
    for (const TWinJob& was : before) old = old || was.Id == job.Id;
    if (old || job.Document != document || job.User.compare(user, Qt::CaseInsensitive) != 0 ||
        job.Submitted < from || job.Submitted > to)
      continue;
    if (found != 0) return 0;
    found = job.Id;
  }
  return found;
}

#ifdef _WIN32

static_assert(winjob::Paused == JOB_STATUS_PAUSED && winjob::Error == JOB_STATUS_ERROR &&
              winjob::Deleting == JOB_STATUS_DELETING && winjob::Spooling == JOB_STATUS_SPOOLING &&
              winjob::Printing == JOB_STATUS_PRINTING && winjob::Offline == JOB_STATUS_OFFLINE &&
              winjob::PaperOut == JOB_STATUS_PAPEROUT && winjob::Printed == JOB_STATUS_PRINTED &&
              winjob::Deleted == JOB_STATUS_DELETED && winjob::BlockedDevq == JOB_STATUS_BLOCKED_DEVQ &&
              winjob::UserIntervention == JOB_STATUS_USER_INTERVENTION &&
              winjob::Restart == JOB_STATUS_RESTART && winjob::Complete == JOB_STATUS_COMPLETE);

namespace {

QString Text(const wchar_t* text) {
  return text ? QString::fromWCharArray(text) : QString();
}

QString LastError() {
  return QStringLiteral("Windows error %1").arg(GetLastError());
}

qint64 Ms(const SYSTEMTIME& time) {
  FILETIME file;
  if (!SystemTimeToFileTime(&time, &file)) return 0;
  const qint64 ticks = (qint64(file.dwHighDateTime) << 32) | file.dwLowDateTime;
  return ticks / 10000 - 11644473600000LL;  // 100 ns since 1601 to ms since 1970
}

TWinJob FromInfo(const JOB_INFO_1W& info) {
  return TWinJob{int(info.JobId),    Text(info.pDocument),  Text(info.pUserName),
                 Ms(info.Submitted), unsigned(info.Status), Text(info.pStatus)};
}

// An open printer, closed when it goes.
class TPrinterHandle {
 public:
  explicit TPrinterHandle(const QString& printer) {
    std::wstring name = printer.toStdWString();
    if (!OpenPrinterW(name.data(), &FHandle, nullptr)) FHandle = nullptr;
  }
  ~TPrinterHandle() {
    if (FHandle) ClosePrinter(FHandle);
  }
  TPrinterHandle(const TPrinterHandle&) = delete;
  TPrinterHandle& operator=(const TPrinterHandle&) = delete;
  HANDLE Get() const { return FHandle; }

 private:
  HANDLE FHandle = nullptr;
};

}  // namespace

bool ListWinJobs(const QString& printer, std::vector<TWinJob>& jobs, QString& why) {
  jobs.clear();
  const TPrinterHandle handle(printer);
  if (!handle.Get()) {
    why = QStringLiteral("the print spooler does not open %1: %2").arg(printer, LastError());
    return false;
  }
  // The list may grow between asking its size and reading it: ask again then.
  std::vector<BYTE> buffer;
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD needed = 0;
    DWORD count = 0;
    if (EnumJobsW(handle.Get(), 0, 0xFFFF, 1, buffer.data(), DWORD(buffer.size()), &needed, &count)) {
      const auto* info = reinterpret_cast<const JOB_INFO_1W*>(buffer.data());
      for (DWORD i = 0; i < count; ++i) jobs.push_back(FromInfo(info[i]));
      return true;
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) break;
    buffer.resize(needed);
  }
  why = QStringLiteral("the print spooler does not list the jobs of %1: %2").arg(printer, LastError());
  return false;
}

TWinLookUp LookUpWinJob(const QString& printer, int id, TWinJob& job, QString& why) {
  const TPrinterHandle handle(printer);
  if (!handle.Get()) {
    why = QStringLiteral("the print spooler does not open %1: %2").arg(printer, LastError());
    return wlNoAnswer;
  }
  std::vector<BYTE> buffer;
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD needed = 0;
    if (GetJobW(handle.Get(), DWORD(id), 1, buffer.data(), DWORD(buffer.size()), &needed)) {
      job = FromInfo(*reinterpret_cast<const JOB_INFO_1W*>(buffer.data()));
      return wlFound;
    }
    const DWORD error = GetLastError();
    if (error == ERROR_INVALID_PARAMETER) return wlGone;  // no such job (any more)
    if (error != ERROR_INSUFFICIENT_BUFFER || needed == 0) break;
    buffer.resize(needed);
  }
  why = QStringLiteral("the print spooler does not tell about job %1 on %2: %3")
            .arg(id)
            .arg(printer, LastError());
  return wlNoAnswer;
}

bool DeleteWinJob(const QString& printer, int id) {
  const TPrinterHandle handle(printer);
  return handle.Get() && SetJobW(handle.Get(), DWORD(id), 0, nullptr, JOB_CONTROL_DELETE);
}

QString WinUserName() {
  wchar_t name[257];
  DWORD size = 257;
  return GetUserNameW(name, &size) ? QString::fromWCharArray(name) : QString();
}

#endif

}  // namespace qm
