#include "print/PrintJobs.h"

#include "print/PdfArchive.h"
#include "print/WinSpool.h"

#ifdef QM_HAVE_CUPS
#include "print/CupsEvents.h"
#include "print/CupsSpool.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QScreen>
#include <QTemporaryFile>
#include <QTextLayout>
#include <QTimer>

#include <system_error>
#include <vector>

#include "base/PrivateFiles.h"

namespace qm {

namespace {

bool WritesFile(const QPrinter& printer) {
  return printer.outputFormat() == QPrinter::PdfFormat && !printer.outputFileName().isEmpty();
}

// Settings a set-up dialog may change, carried from one QPrinter to another.
void CopySettings(const QPrinter& from, QPrinter& to) {
  to.setPageLayout(from.pageLayout());
  to.setCopyCount(from.copyCount());
  to.setCollateCopies(from.collateCopies());
  to.setDuplex(from.duplex());
  to.setColorMode(from.colorMode());
  to.setPageOrder(from.pageOrder());
}

// The text's lines: CR LF, CR and LF each end one; a break at the very end starts none.
QStringList SplitLines(const QString& text) {
  QStringList lines;
  qsizetype start = 0;
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text.at(i);
    if (c != u'\r' && c != u'\n') continue;
    lines.append(text.mid(start, i - start));
    if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n') ++i;
    start = i + 1;
  }
  if (start < n) lines.append(text.mid(start));
  return lines;
}

// Whole points, as a font given in pixels is printed.
QFont JobFont(const QFont& font) {
  QFont result(font);
  if (result.pointSize() <= 0 && result.pixelSize() > 0) {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const qreal dpi = screen ? screen->logicalDotsPerInchY() : 96.0;
    result.setPointSize(qMax(1, qRound(result.pixelSize() * 72.0 / dpi)));
  }
  return result;
}

class TBusyGuard {
 public:
  explicit TBusyGuard(bool& busy) : FBusy(busy) { FBusy = true; }
  ~TBusyGuard() { FBusy = false; }
  TBusyGuard(const TBusyGuard&) = delete;
  TBusyGuard& operator=(const TBusyGuard&) = delete;

 private:
  bool& FBusy;
};

// The job being handed over is the caller's to ask about from `numbered`, but has no page yet.
class TSendingGuard {
 public:
  explicit TSendingGuard(int& job) : FJob(job) { FJob = 0; }
  ~TSendingGuard() { FJob = 0; }
  TSendingGuard(const TSendingGuard&) = delete;
  TSendingGuard& operator=(const TSendingGuard&) = delete;

 private:
  int& FJob;
};

// One job's page being laid out, a line at a time, on `printer` (open from the constructor on).
class TPageLayout {
 public:
  TPageLayout(QPrinter& printer, const QFont& font, TPageFrame frame = {})
      : FPrinter(printer), FFrame(std::move(frame)) {
    if (!FPainter.begin(&printer)) throw EPrintError(TPrintJobs::NotValidText.toStdString());
    // The page rectangle in twips, whole twips, as device pixels again.
    const int dpiX = printer.logicalDpiX();
    const int dpiY = printer.logicalDpiY();
    const qint64 twipsW = qint64(printer.width()) * 1440 / dpiX;
    const qint64 twipsH = qint64(printer.height()) * 1440 / dpiY;
    const qint64 pixelsW = twipsW * dpiX / 1440;
    const qint64 pixelsH = twipsH * dpiY / 1440;
    FPageW = qreal(pixelsW);
    FPageH = qreal(pixelsH);
    FFont = QFont(font, &printer);
    FPainter.setFont(FFont);
    FPainter.setPen(Qt::black);
    FOption.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    // Continuation lines of a line wider than the page start four blanks in, so they are
    // not read as lines of their own (an entry's own lines start two blanks in).
    FIndent = qMin(QFontMetricsF(FFont, &printer).horizontalAdvance(QStringLiteral("    ")), FPageW / 4);
    if (FFrame.Empty()) return;
    if (FFrame.PrintedUtc.isEmpty())
      FFrame.PrintedUtc = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH:mm 'UTC'"));
    const qreal line = QFontMetricsF(FFont, &printer).lineSpacing();
    // The frame's lines, and a blank line between them and the text.
    const int headerLines = (FFrame.Mark.isEmpty() ? 0 : 1) + (FFrame.HeaderFooter ? 1 : 0);
    FTop = line * (headerLines + 1);
    FBottom = FFrame.HeaderFooter ? line * 2 : 0;
    // A page too small for its frame prints the text alone.
    if (FTop + FBottom + line > FPageH) FTop = FBottom = 0;
    FrameTop();
  }
  ~TPageLayout() {
    if (FPainter.isActive()) Abort();
  }
  TPageLayout(const TPageLayout&) = delete;
  TPageLayout& operator=(const TPageLayout&) = delete;

  // One line of the text.
  void Line(const QString& paragraph) {
    QTextLayout layout(paragraph, FFont, &FPrinter);
    layout.setTextOption(FOption);
    layout.setCacheEnabled(true);
    std::vector<QTextLine> lines;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
      const qreal x = lines.empty() ? 0 : FIndent;
      line.setLeadingIncluded(true);
      line.setLineWidth(FPageW - x);
      line.setPosition(QPointF(x, 0));
      lines.push_back(line);
    }
    layout.endLayout();
    for (const QTextLine& line : lines) {
      // A new page starts only for a line that does not fit and has a page of its own to go to.
      if (FY > 0 && FY + line.height() > FPageH - FTop - FBottom) {
        FrameBottom();
        if (!FPrinter.newPage()) throw EPrintError(TPrintJobs::NotValidText.toStdString());
        ++FStats.Pages;
        FY = 0;
        FrameTop();
      }
      line.draw(&FPainter, QPointF(0, FTop + FY));
      FY += line.height();
      ++FStats.Lines;
    }
  }
  // The page is whole: closed, or the failure thrown.
  void End() {
    FrameBottom();
    if (!FPainter.end() || FPrinter.printerState() == QPrinter::Error)
      throw EPrintError(TPrintJobs::NotValidText.toStdString());
  }
  void Abort() {
    FPrinter.abort();
    FPainter.end();
  }
  const TPrintStats& Stats() const { return FStats; }

 private:
  // The mark and the header at the top of the current page.
  void FrameTop() {
    if (FTop <= 0) return;
    const QFontMetricsF metrics(FFont, &FPrinter);
    qreal y = metrics.ascent();
    if (!FFrame.Mark.isEmpty()) {
      QFont bold(FFont);
      bold.setBold(true);
      FPainter.setFont(bold);
      FPainter.drawText(QPointF(0, y), FFrame.Mark);
      FPainter.setFont(FFont);
      y += metrics.lineSpacing();
    }
    if (!FFrame.HeaderFooter) return;
    QString header = FFrame.Station.isEmpty() ? QString() : FFrame.Station + QStringLiteral("   ");
    header += QStringLiteral("printed ") + FFrame.PrintedUtc;
    if (FFrame.Job > 0) header += QStringLiteral("   job %1").arg(FFrame.Job);
    FPainter.drawText(QPointF(0, y), header);
    FPainter.drawLine(QPointF(0, y + metrics.descent()), QPointF(FPageW, y + metrics.descent()));
  }
  // The footer at the bottom of the current page.
  void FrameBottom() {
    if (FBottom <= 0) return;
    const QFontMetricsF metrics(FFont, &FPrinter);
    QString footer = QStringLiteral("page %1").arg(FStats.Pages);
    if (!FFrame.Station.isEmpty()) footer = FFrame.Station + QStringLiteral("   ") + footer;
    FPainter.drawText(QPointF(0, FPageH - metrics.descent()), footer);
  }

  QPrinter& FPrinter;
  TPageFrame FFrame;
  qreal FTop = 0, FBottom = 0;  // the frame's share of each page
  QPainter FPainter;
  QFont FFont;
  QTextOption FOption;
  qreal FPageW = 0, FPageH = 0, FIndent = 0, FY = 0;
  TPrintStats FStats{1, 0};
};

}  // namespace

// What PrintLines' job holds between its steps.
struct TPrintJobs::TRun {
  std::shared_ptr<QPrinter> Printer;  // the open job's printer, kept whatever is chosen meanwhile
  QString File;                       // the PDF file written (for CUPS, the one handed over)
#ifdef QM_HAVE_CUPS
  std::unique_ptr<QTemporaryFile> Pdf;  // the page for CUPS
#endif
  std::unique_ptr<TPageLayout> Layout;  // goes first: it may still write to the file
  TLineSource Source;
  QString Title;
  QFont Font;
  QUuid Token;
  TNumbered Numbered;
  TJobDone Done;
};

QString TextJobDocument(const QString& text) {
  return QStringLiteral("\r\n") + text;
}

QString ListJobDocument(const QStringList& lines) {
  QString document;
  for (const QString& line : lines) document += line + QStringLiteral("\r\n");
  return document + QStringLiteral("\r\n");
}

QString FailureKindText(TSpoolFailure failure, const QString& printer) {
  switch (failure) {
    case sfNone:
      break;
    case sfCancelled:
      return QStringLiteral("Jobs on %1 were cancelled at the print spooler").arg(printer);
    case sfAborted:
      return QStringLiteral("Jobs on %1 were aborted by the print spooler").arg(printer);
    case sfNoPage:
      return QStringLiteral("Jobs on %1 never received their pages").arg(printer);
    case sfForgotten:
      return QStringLiteral("The print spooler forgot jobs on %1 without a word on how they ended")
          .arg(printer);
    case sfNoSpooler:
      return QStringLiteral("There is no print spooler to ask about jobs on %1").arg(printer);
    case sfOffline:
      return QStringLiteral("The printer %1 is offline: its jobs were taken back").arg(printer);
  }
  return {};
}

QStringList TPrintJobs::InstalledPrinters() {
  return QPrinterInfo::availablePrinterNames();
}

TPrinterList TPrintJobs::SystemPrinters() {
  return TPrinterList{InstalledPrinters(), QPrinterInfo::defaultPrinterName()};
}

TPrintJobs::TPrintJobs() {
#ifdef QM_HAVE_CUPS
  FJobEnds = std::make_unique<TCupsJobEnds>();
#endif
}

TPrintJobs::TPrintJobs(TPrinterList printers) : TPrintJobs() {
  FPrinters = std::move(printers);
  FRead = true;
  ReadPrinters();
}

void TPrintJobs::ReadPrinters() const {
  if (FRead && FPdf) return;
  if (!FRead) FPrinters = SystemPrinters();
  FRead = true;
  // Made once: a new QPrinter asks the spooler for its default printer, without a bound.
  FPdf = std::make_unique<QPrinter>(QPrinter::HighResolution);
  FPdf->setOutputFormat(QPrinter::PdfFormat);
  MakeCurrent(FPrinters.DefaultName);
}

TPrintJobs::~TPrintJobs() {
  Abandon();
}

void TPrintJobs::MakeCurrent(const QString& name) const {
  auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
  // An unknown name leaves QPrinter on whatever it had; PrintText checks the name took.
  if (!name.isEmpty()) printer->setPrinterName(name);
  FPrinter = std::move(printer);
  FCurrentName = name;
}

void TPrintJobs::SelectPrinter(int index) {
  ReadPrinters();
  // An index that names no entry leaves none chosen, as -1 does.
  if (index < -1 || index >= FPrinters.Names.size()) index = -1;
  FSelected = index;
  MakeCurrent(index < 0 ? FPrinters.DefaultName : FPrinters.Names.at(index));
  if (FCurrentName.isEmpty()) throw EPrintError(NoDefaultText.toStdString());
}

QPrinter& TPrintJobs::SetupPrinter() {
  ReadPrinters();
  auto setup = std::make_unique<QPrinter>(QPrinter::HighResolution);
  if (WritesFile(*FPrinter)) {
    setup->setOutputFormat(QPrinter::PdfFormat);
    setup->setOutputFileName(FPrinter->outputFileName());
  } else if (!FCurrentName.isEmpty()) {
    setup->setPrinterName(FCurrentName);
  }
  CopySettings(*FPrinter, *setup);
  FSetup = std::move(setup);
  return *FSetup;
}

void TPrintJobs::AcceptSetup() {
  if (!FSetup) return;
  FPrinter = std::move(FSetup);
  // The dialog may have chosen another printer than the box shows; that one prints now.
  FCurrentName = FPrinter->outputFormat() == QPrinter::NativeFormat ? FPrinter->printerName() : QString();
}

void TPrintJobs::SetOutputFile(const QString& path) {
  FOutputFile = path;
}

TJobTicket TPrintJobs::PrintText(const QString& text, const QFont& font, const QString& title,
                                 [[maybe_unused]] const QUuid& token,
                                 [[maybe_unused]] const TNumbered& numbered) {
  if (FBusy) throw EPrintError(InProgressText.toStdString());
  ReadPrinters();

  // The open job keeps its printer, whatever is chosen while it spools.
  const std::shared_ptr<QPrinter> printer = FPrinter;
  if (FOutputFile.isEmpty() && FOutputFolder.isEmpty() && !WritesFile(*printer)) RequireUsable(*printer);

  TBusyGuard busy(FBusy);
  const TSendingGuard sending(FSendingJob);
  FLastArchived.clear();
  if (!FOutputFile.isEmpty()) {
    PrintToPdf(*printer, FOutputFile, text, font, title);
    return TJobTicket{FOutputFile, 0, token};
  }
  if (!FOutputFolder.isEmpty()) {
    const QString file = NewFolderPdf();
    PrintToPdf(*printer, file, text, font, title);
    return TJobTicket{file, 0, token};
  }
  if (WritesFile(*printer)) {
    PrepareJob(*printer, title);
    LayOut(*printer, text, JobFont(font));
    return TJobTicket{printer->outputFileName(), 0, token};
  }
#ifdef QM_HAVE_CUPS
  // Qt's own CUPS engine does not say when the spooler refuses a job: the pages go to a
  // PDF file of ours, laid out for this printer, and that file to the spooler.
  QTemporaryFile pdf(QDir::tempPath() + QStringLiteral("/quillmark-job-XXXXXX.pdf"));
  if (!pdf.open()) throw EPrintError(NotValidText.toStdString());
  // Held while the job runs: RemoveLeftJobFiles leaves a file alone while a process holds it.
  ::flock(pdf.handle(), LOCK_EX);
  PrintToPdf(*printer, pdf.fileName(), text, font, title);
  TJobTicket ticket{printer->printerName(), 0, token};
  ticket.SpoolerJob = SubmitToCups(
      ticket.Printer, pdf.fileName(), title, CupsJobOptions(*printer), token,
      [&](int job) {
        FSendingJob = job;
        if (!numbered) return;
        TJobTicket numberedTicket = ticket;
        numberedTicket.SpoolerJob = job;
        numbered(numberedTicket);
      },
      *FJobEnds);
  Archive(pdf.fileName(), ticket.SpoolerJob, *printer, text, font, title);
  return ticket;
#elif defined(_WIN32)
  Archive(QString(), 0, *printer, text, font, title);
  PrepareJob(*printer, title);
  // The engine does not say which job it made: the one listed after the hand-over and not
  // before, with this title and user, submitted meanwhile (the spooler's clock: a second's slack).
  TJobTicket ticket{printer->printerName(), 0, token};
  std::vector<TWinJob> before;
  std::vector<TWinJob> after;
  QString why;
  const bool listed = ListWinJobs(ticket.Printer, before, why);
  const qint64 from = QDateTime::currentMSecsSinceEpoch() - 1000;
  LayOut(*printer, text, JobFont(font));
  const qint64 to = QDateTime::currentMSecsSinceEpoch() + 1000;
  if (listed && ListWinJobs(ticket.Printer, after, why)) {
    ticket.SpoolerJob = MatchWinJob(before, after, title, WinUserName(), from, to);
    for (const TWinJob& job : after)
      if (job.Id == ticket.SpoolerJob && WinJobSeenPrinting(job.Status))
        FSeenPrinting.emplace(ticket.Printer, job.Id);
  }
  return ticket;
#else
  Archive(QString(), 0, *printer, text, font, title);
  PrepareJob(*printer, title);
  LayOut(*printer, text, JobFont(font));
  return TJobTicket{printer->printerName(), 0, token};
#endif
}

int TPrintJobs::RemoveLeftJobFiles() {
  int removed = 0;
#ifdef QM_HAVE_CUPS
  const QDir temp(QDir::tempPath());
  for (const QFileInfo& file :
       temp.entryInfoList({QStringLiteral("quillmark-job-??????.pdf")}, QDir::Files)) {
    const QByteArray path = QFile::encodeName(file.filePath());
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st {};
    // A job's lock goes with its process.
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
        ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.constData()) == 0)
      ++removed;
    ::close(fd);
  }
#endif
  return removed;
}

QString TPrintJobs::NewFolderPdf() const {
  QDir dir(FOutputFolder);
  std::error_code made;
  MakePrivateFolders(FOutputFolder.toStdString(), made);
  if (made)
    throw EPrintError("Unable to create the folder \"" + FOutputFolder.toStdString() +
                      "\" for the PDF files");
  const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
  for (int n = 1;; ++n) {
    QString name = dir.filePath(QStringLiteral("quillmark-%1-%2.pdf").arg(stamp).arg(n));
    if (!QFileInfo::exists(name)) return name;
  }
}

void TPrintJobs::PrintToPdf(const QPrinter& settings, const QString& file, const QString& text,
                            const QFont& font, const QString& title) {
  FPdf->setOutputFileName(file);
  CopySettings(settings, *FPdf);
  FPdf->setCopyCount(1);  // copies are the spooler's
  PrepareJob(*FPdf, title);
  LayOut(*FPdf, text, JobFont(font));
}

void TPrintJobs::Archive(const QString& pdf, int spoolerJob, const QPrinter& settings, const QString& text,
                         const QFont& font, const QString& title) {
  if (FArchiveFolder.isEmpty()) return;
  try {
    const QString file = TPdfArchive(FArchiveFolder).NewFile(QDateTime::currentDateTime(), spoolerJob);
    if (pdf.isEmpty())
      PrintToPdf(settings, file, text, font, title);
    else if (!QFile::copy(pdf, file))
      throw EPrintError("Unable to write the archive copy \"" + file.toStdString() + "\"");
    FLastArchived = file;
  } catch (const std::exception& e) {
    if (ArchiveFailed) ArchiveFailed(QString::fromUtf8(e.what()));
  }
}

TSpoolAnswer TPrintJobs::JobState(const TJobTicket& ticket) const {
  if (ticket.SpoolerJob == 0) return TSpoolAnswer{ssCompleted, {}};
  if (ticket.SpoolerJob == FSendingJob) return TSpoolAnswer{ssPending, SendingText};
#ifdef QM_HAVE_CUPS
  return CupsJobState(ticket, *FJobEnds);
#elif defined(_WIN32)
  TWinJob job;
  QString why;
  const std::pair<QString, int> key{ticket.Printer, ticket.SpoolerJob};
  switch (LookUpWinJob(ticket.Printer, ticket.SpoolerJob, job, why)) {
    case wlNoAnswer:
      return TSpoolAnswer{ssUnreachable, why};
    case wlGone: {
      const bool seen = FSeenPrinting.erase(key) > 0;
      return WinJobGoneAnswer(ticket.SpoolerJob, seen);
    }
    case wlFound:
      break;
  }
  if (WinJobSeenPrinting(job.Status)) FSeenPrinting.insert(key);
  TSpoolAnswer answer = WinJobAnswer(job);
  if (answer.State == ssCompleted) FSeenPrinting.erase(key);
  // Left in the queue it might print after all, besides the page printed again.
  if (answer.State == ssFailed && answer.Failure != sfCancelled) {
    FSeenPrinting.erase(key);
    if (!DeleteWinJob(ticket.Printer, ticket.SpoolerJob))
      answer.Reason += QStringLiteral("; it could not be taken out of the queue and may print as well");
  }
  return answer;
#else
  return TSpoolAnswer{ssFailed, QStringLiteral("no print spooler to ask about job %1").arg(ticket.SpoolerJob),
                      sfNoSpooler};
#endif
}

TPrinterState TPrintJobs::PrinterState() const {
  ReadPrinters();
  // Pages that become files wait for no printer.
  if (!FOutputFile.isEmpty() || !FOutputFolder.isEmpty() || WritesFile(*FPrinter) || FCurrentName.isEmpty())
    return {};
#ifdef QM_HAVE_CUPS
  return CupsPrinterState(FCurrentName);
#else
  return {};
#endif
}

TFoundJob TPrintJobs::FindJob(const QString& printer, const QUuid& token) const {
  if (token.isNull()) return TFoundJob{fsCannotTell, {}, {}, QStringLiteral("the job carries no token")};
  // A job written to a PDF file was done when PrintText returned; no spooler keeps it.
  if (printer.isEmpty() || QDir::isAbsolutePath(printer))
    return TFoundJob{fsCannotTell, {}, {}, QStringLiteral("%1 is a file, not a print queue").arg(printer)};
#ifdef QM_HAVE_CUPS
  TFoundJob found = FindCupsJob(printer, token, FSendingJob);
  if (found.State == fsFound && found.Ticket.SpoolerJob == FSendingJob)
    found.Answer = TSpoolAnswer{ssPending, SendingText};
  return found;
#else
  (void)printer;
  return TFoundJob{fsCannotTell, {}, {}, QStringLiteral("no print spooler keeps jobs here")};
#endif
}

void TPrintJobs::PrepareJob(QPrinter& printer, const QString& title) const {
  printer.setDocName(title);
  // The printable area is the page: no margins beyond what the device cannot print. An edge
  // the device reports none for (every edge of a PDF file) keeps a quarter inch, so no text
  // sits on the very edge of the sheet or is cut off where the file is printed later.
  // (Margins below the device's minimum would be refused.)
  printer.setFullPage(false);
  QPageLayout layout = printer.pageLayout();
  layout.setUnits(QPageLayout::Point);
  QMarginsF margins = layout.minimumMargins();
  const auto atLeast = [](qreal edge) { return edge < 0.5 ? MinimumPdfMarginPoints : edge; };
  margins = QMarginsF(atLeast(margins.left()), atLeast(margins.top()), atLeast(margins.right()),
                      atLeast(margins.bottom()));
  printer.setPageMargins(margins, QPageLayout::Point);
}

void TPrintJobs::LayOut(QPrinter& printer, const QString& text, const QFont& font) {
  TPageLayout page(printer, font, FFrame);
  for (const QString& paragraph : SplitLines(text)) page.Line(paragraph);
  page.End();
  FLastJob = page.Stats();
}

void TPrintJobs::RequireUsable(const QPrinter& printer) const {
  if (FCurrentName.isEmpty()) throw EPrintError(NoDefaultText.toStdString());
  if (!printer.isValid() || printer.outputFormat() != QPrinter::NativeFormat ||
      printer.printerName() != FCurrentName)
    throw EPrintError(NotValidText.toStdString());
}

std::optional<TJobTicket> TPrintJobs::PrintLines(TLineSource source, const QFont& font, const QString& title,
                                                 const QUuid& token, TNumbered numbered, TJobDone done) {
  if (FBusy) throw EPrintError(InProgressText.toStdString());
  ReadPrinters();
  auto run = std::make_unique<TRun>();
  run->Printer = FPrinter;
  QPrinter& printer = *run->Printer;
  const bool toFile = !FOutputFile.isEmpty() || !FOutputFolder.isEmpty() || WritesFile(printer);
  if (!toFile) RequireUsable(printer);
#ifndef QM_HAVE_CUPS
  if (!toFile) {
    // The printer's own engine takes the whole job at once.
    QString text, line;
    while (source(line)) text += line + u'\n';
    return PrintText(text, font, title, token, numbered);
  }
#endif
  run->Source = std::move(source);
  run->Title = title;
  run->Font = JobFont(font);
  run->Token = token;
  run->Numbered = std::move(numbered);
  run->Done = std::move(done);
  FLastArchived.clear();
  QPrinter* target = FPdf.get();
  if (!FOutputFile.isEmpty()) {
    run->File = FOutputFile;
  } else if (!FOutputFolder.isEmpty()) {
    run->File = NewFolderPdf();
  } else if (WritesFile(printer)) {
    target = &printer;
    run->File = printer.outputFileName();
  }
#ifdef QM_HAVE_CUPS
  if (!toFile) {
    run->Pdf =
        std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/quillmark-job-XXXXXX.pdf"));
    if (!run->Pdf->open()) throw EPrintError(NotValidText.toStdString());
    // Held while the job runs: RemoveLeftJobFiles leaves a file alone while a process holds it.
    ::flock(run->Pdf->handle(), LOCK_EX);
    run->File = run->Pdf->fileName();
  }
#endif
  if (target == FPdf.get()) {
    FPdf->setOutputFileName(run->File);
    CopySettings(printer, *FPdf);
    FPdf->setCopyCount(1);  // copies are the spooler's
  }
  PrepareJob(*target, title);
  run->Layout = std::make_unique<TPageLayout>(*target, run->Font, FFrame);
  FRun = std::move(run);
  FBusy = true;
  bool whole = false;
  try {
    // Inside the caller's turn, as PrintText; what is left goes from the event loop.
    whole = Step(kStepLines, std::nullopt);
  } catch (...) {
    FRun.reset();
    FBusy = false;
    throw;
  }
  if (whole) return FinishRun();
  if (!FStepTimer) {
    FStepTimer = std::make_unique<QTimer>();
    FStepTimer->setSingleShot(true);
    FStepTimer->setInterval(0);
    QObject::connect(FStepTimer.get(), &QTimer::timeout, [this] { NextStep(); });
  }
  FStepTimer->start();
  return std::nullopt;
}

bool TPrintJobs::Step(int lines, std::optional<std::chrono::milliseconds> bound) {
  QElapsedTimer timer;
  timer.start();
  QString line;
  for (int n = 0; n < lines; ++n) {
    if (bound && n > 0 && timer.elapsed() >= bound->count()) return false;
    if (!FRun->Source(line)) return true;
    FRun->Layout->Line(line);
  }
  return false;
}

void TPrintJobs::NextStep() {
  if (!FRun) return;
  TJobDone done = FRun->Done;
  TJobTicket ticket;
  QString failure;
  try {
    if (!Step(kStepLines, kStepTime)) {
      FStepTimer->start();
      return;
    }
    ticket = FinishRun();
  } catch (const std::exception& e) {
    FRun.reset();
    FBusy = false;
    failure = QString::fromUtf8(e.what());
  }
  if (done) done(ticket, failure);
}

TJobTicket TPrintJobs::FinishRun() {
  const std::unique_ptr<TRun> run = std::move(FRun);
  const TBusyGuard busy(FBusy);  // up to the hand-over's end
  const TSendingGuard sending(FSendingJob);
  run->Layout->End();
  FLastJob = run->Layout->Stats();
#ifdef QM_HAVE_CUPS
  if (run->Pdf) {
    QPrinter& printer = *run->Printer;
    TJobTicket ticket{printer.printerName(), 0, run->Token};
    ticket.SpoolerJob = SubmitToCups(
        ticket.Printer, run->File, run->Title, CupsJobOptions(printer), run->Token,
        [&](int job) {
          FSendingJob = job;
          if (!run->Numbered) return;
          TJobTicket numberedTicket = ticket;
          numberedTicket.SpoolerJob = job;
          run->Numbered(numberedTicket);
        },
        *FJobEnds);
    // Archive lays a job out again only where it has no PDF file of its own.
    Archive(run->File, ticket.SpoolerJob, printer, QString(), run->Font, run->Title);
    return ticket;
  }
#endif
  return TJobTicket{run->File, 0, run->Token};
}

void TPrintJobs::Abandon() {
  if (!FRun) return;
  if (FStepTimer) FStepTimer->stop();
  FRun.reset();  // the page is aborted, its file for CUPS removed
  FBusy = false;
}

}  // namespace qm
