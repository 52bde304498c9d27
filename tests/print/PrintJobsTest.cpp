#include "print/PrintJobs.h"
#include "print/ProgramFont.h"
#include "tests/support/PdfTools.h"
#ifdef QM_HAVE_CUPS
#include "print/CupsSpool.h"
#endif

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFontInfo>
#include <QPrinter>
#include <QTemporaryDir>

#include <functional>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using test::FirstWordTop;
using test::PdfFonts;
using test::PdfInfoField;
using test::PdfLines;
using test::PdfPages;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

QFont ListFont() {
  return ProgramFont(QStringLiteral("Courier New"), 10);
}
QFont WindowFont() {
  return ProgramFont(QStringLiteral("MS Sans Serif"), 8);
}

// Prints into PDF files of a temporary folder; skips when poppler is missing.
class PrintToPdf : public ::testing::Test {
 protected:
  void SetUp() override {
    const QString missing = test::MissingPopplerTools();
    if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
    ASSERT_TRUE(FDir.isValid());
  }
  QString Pdf(const QString& name) const { return FDir.filePath(name + QStringLiteral(".pdf")); }
  // One job into its own file, with a printer list that has no printers at all.
  QString PrintJob(const QString& name, const QString& text, const QFont& font) {
    TPrintJobs jobs(TPrinterList{});
    jobs.SetOutputFile(Pdf(name));
    jobs.PrintText(text, font);
    FLast = jobs.LastJob();
    return Pdf(name);
  }
  static QString NumberedLines(int count) {
    QStringList lines;
    for (int i = 1; i <= count; ++i)
      lines << QStringLiteral("line %1 of the long text").arg(i, 4, 10, QLatin1Char('0'));
    return lines.join(QStringLiteral("\r\n"));
  }

  // A job of `count` numbered lines laid out in steps (PrintLines), its end told into FTold,
  // FTicket and FFailure; `failAt`: the source throws at that line instead.
  void StartLongJob(TPrintJobs& jobs, int count, int failAt = 0) {
    ASSERT_GT(count, TPrintJobs::kStepLines);
    const auto source = [count, failAt, next = 0](QString& line) mutable {
      if (next == count) return false;
      if (++next == failAt) throw EPrintError("the text failed");
      line = QStringLiteral("line %1 of the long text").arg(next, 4, 10, QLatin1Char('0'));
      return true;
    };
    const auto done = [this](const TJobTicket& ticket, const QString& failure) {
      ++FTold;
      FTicket = ticket;
      FFailure = failure;
    };
    ASSERT_FALSE(jobs.PrintLines(source, ListFont(), TPrintJobs::JobTitle, {}, {}, done).has_value());
  }
  // Runs the thread's events until the job StartLongJob began has told its end.
  bool WaitUntilTold() {
    QElapsedTimer waited;
    waited.start();
    while (FTold == 0 && waited.elapsed() < 30000)
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    return FTold > 0;
  }

  QTemporaryDir FDir;
  TPrintStats FLast;
  int FTold = 0;
  TJobTicket FTicket;
  QString FFailure = QStringLiteral("never told");
};

TEST(ProgramFontTest, WindowsFamiliesResolveToMetricCompatibleFonts) {
  struct Case {
    const char* family;
    int points;
    const char* resolved;
    bool fixedPitch;
  } const cases[] = {
      {"Courier New", 10, "Liberation Mono", true},
      {"MS Sans Serif", 8, "Liberation Sans", false},
      {"Arial", 9, "Liberation Sans", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.family);
    const QFont font = ProgramFont(QString::fromLatin1(c.family), c.points);
    const QFontInfo info(font);
    EXPECT_EQ(info.family().toStdString(), c.resolved);
    EXPECT_EQ(info.pointSize(), c.points);
    EXPECT_EQ(info.fixedPitch(), c.fixedPitch);
    EXPECT_FALSE(info.bold());
    EXPECT_FALSE(info.italic());
  }
}

TEST(JobDocumentTest, ListAndTextJobsHaveTheirBlankLines) {
  EXPECT_EQ(ListJobDocument({QStringLiteral("a"), QStringLiteral("b")}), QStringLiteral("a\r\nb\r\n\r\n"));
  EXPECT_EQ(TextJobDocument(QStringLiteral("x\ry")), QStringLiteral("\r\nx\ry"));
}

TEST_F(PrintToPdf, EveryLineBreakEndsOneLine) {
  struct Case {
    const char* text;
    int lines;
  } const cases[] = {
      {"a\r\nb", 2}, {"a\rb\nc", 3}, {"a\r\n", 1},  {"a\r\n\r\n", 2}, {"", 0},
      {"\r\n", 1},   {"a\n\rb", 3},  {"a\r\rb", 3}, {"one line", 1},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
    const QString pdf =
        PrintJob(QStringLiteral("breaks%1").arg(n++), QString::fromLatin1(c.text), ListFont());
    EXPECT_EQ(FLast.Lines, c.lines);
    EXPECT_EQ(FLast.Pages, 1);
    EXPECT_EQ(PdfPages(pdf), 1);
  }
  const QString pdf =
      PrintJob(QStringLiteral("mixed"), QStringLiteral("alpha\rbeta\ngamma\r\ndelta"), ListFont());
  EXPECT_THAT(test::StdLines(PdfLines(pdf)), ElementsAre("alpha", "beta", "gamma", "delta"));
}

TEST_F(PrintToPdf, OneEntryListPrintsOnePageInTheMonospaceFont) {
  const QStringList entry{QStringLiteral("LOCAL:[07/12/2026 22:01:02]  UTC:[07/12/2026 22:01:02]"),
                          QStringLiteral("  N0CALL>APRS via WIDE1-1,WIDE2-1"),
                          QStringLiteral("  BLN1: Net tonight at 8 pm on 147.000")};
  const QString pdf = PrintJob(QStringLiteral("list"), ListJobDocument(entry), ListFont());
  EXPECT_EQ(PdfPages(pdf), 1);
  EXPECT_EQ(FLast.Pages, 1);
  EXPECT_EQ(FLast.Lines, 4);  // the three lines and the trailing blank one
  EXPECT_THAT(test::StdLines(PdfLines(pdf)), ElementsAreArray(test::AsPdfTextLines(entry)));
  EXPECT_THAT(test::StdLines(PdfFonts(pdf)), ElementsAre("LiberationMono"));
  EXPECT_EQ(PdfInfoField(pdf, QStringLiteral("Title")), QStringLiteral("Quillmark"));
  // Monospace with every blank kept: "UTC" begins in column 29 of the first line.
  const auto words = test::PdfWords(pdf);
  ASSERT_GE(words.size(), 3u);
  ASSERT_EQ(words[0].Text, QStringLiteral("LOCAL:[07/12/2026"));
  const double advance = (words[0].XMax - words[0].XMin) / 17;
  EXPECT_EQ(words[2].Text, QStringLiteral("UTC:[07/12/2026"));
  EXPECT_NEAR(words[2].XMin - words[0].XMin, 29 * advance, advance / 4);
  EXPECT_NEAR(advance, 6.0, 0.1);  // Liberation Mono is 0.6 em wide: 10 points
  // A PDF file has no unprintable edge: the first line starts a quarter inch from the top.
  const double top = FirstWordTop(pdf);
  EXPECT_GE(top, 18.0);
  EXPECT_LT(top, 22.0);
}

TEST_F(PrintToPdf, FontsGivenInPixelsPrintInWholePoints) {
  struct Case {
    const char* name;
    int pixels;  // at the screen's 96 pixels per inch
    double advance;
  } const cases[] = {
      {"list font 13 px = 10 pt", 13, 6.0}, {"16 px = 12 pt", 16, 7.2}, {"11 px = 8 pt", 11, 4.8}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFont font = ListFont();
    font.setPixelSize(c.pixels);
    const auto words =
        test::PdfWords(PrintJob(QStringLiteral("px%1").arg(c.pixels), QStringLiteral("0123456789"), font));
    ASSERT_EQ(words.size(), 1u);
    EXPECT_NEAR((words[0].XMax - words[0].XMin) / 10, c.advance, 0.05);
  }
}

TEST_F(PrintToPdf, LinesWiderThanThePageWrapWithoutLoss) {
  QStringList words;
  for (int i = 0; i < 80; ++i) words << QStringLiteral("word%1").arg(i, 2, 10, QLatin1Char('0'));
  const QString sentence = words.join(QLatin1Char(' '));
  const QString block = QString(500, QLatin1Char('x'));
  const QString pdf = PrintJob(QStringLiteral("wide"), sentence + QStringLiteral("\r\n") + block, ListFont());
  const QStringList printed = PdfLines(pdf);
  EXPECT_EQ(printed.size(), FLast.Lines);
  // The words come back in order, each whole (breaks fall between words), and the block
  // without blanks is broken anywhere, without a character lost.
  // (Continuation lines are indented.)
  QStringList sentenceLines, blockLines;
  for (const QString& line : printed)
    (line.trimmed().startsWith(QLatin1Char('x')) ? blockLines : sentenceLines) << line.trimmed();
  EXPECT_GE(sentenceLines.size(), 4);
  EXPECT_GE(blockLines.size(), 5);
  EXPECT_EQ(sentenceLines.join(QLatin1Char(' ')).simplified(), sentence);
  EXPECT_EQ(blockLines.join(QString()), block);
}

TEST_F(PrintToPdf, ContinuationLinesAreIndentedByFourBlanksAndKeepEveryToken) {
  struct Case {
    const char* name;
    QFont font;
    const char* separator;
    double indent;  // four blanks of the font, points
  } const cases[] = {
      {"words, list font", ListFont(), " ", 4 * 6.0},
      {"no blanks, list font", ListFont(), "", 4 * 6.0},
      {"words, window font", WindowFont(), " ", 4 * 8 * 569 / 2048.0},  // Liberation Sans blank
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QStringList tokens;
    for (int i = 0; i < 150; ++i) tokens << QStringLiteral("T%1").arg(i, 3, 10, QLatin1Char('0'));
    const QString line = tokens.join(QLatin1String(c.separator));
    const auto words = test::PdfWords(PrintJob(QStringLiteral("indent%1").arg(n++),
                                               QStringLiteral("first\r\n") + line + "\r\nlast", c.font));
    ASSERT_GE(words.size(), 3u);
    EXPECT_EQ(words.front().Text, QStringLiteral("first"));
    EXPECT_EQ(words.back().Text, QStringLiteral("last"));
    // Every character of the long line, in order; the first word of each printed line
    // after its first starts at the indent.
    QString printed;
    int continuations = 0;
    for (size_t i = 1; i + 1 < words.size(); ++i) {
      printed += words[i].Text + QLatin1String(c.separator);
      const bool startsLine = words[i].YMin > words[i - 1].YMin + 1;
      if (!startsLine || i == 1) continue;
      ++continuations;
      EXPECT_NEAR(words[i].XMin - words[1].XMin, c.indent, 0.5) << words[i].Text.toStdString();
    }
    EXPECT_EQ(printed.chopped(qstrlen(c.separator)), line);
    EXPECT_GE(continuations, 3);
    EXPECT_EQ(FLast.Lines, continuations + 3);
    EXPECT_NEAR(words.back().XMin, words.front().XMin, 0.5);  // the next line is not indented
  }
}

TEST_F(PrintToPdf, TextJobStartsWithOneBlankLine) {
  const QString text = QStringLiteral("WWUS84 KOUN 072201\rSPSOUN");
  const QString plain = PrintJob(QStringLiteral("plain"), text, WindowFont());
  const QString job = PrintJob(QStringLiteral("textjob"), TextJobDocument(text), WindowFont());
  EXPECT_EQ(FLast.Lines, 3);
  EXPECT_THAT(test::StdLines(PdfLines(job)), ElementsAre("WWUS84 KOUN 072201", "SPSOUN"));
  EXPECT_THAT(test::StdLines(PdfFonts(job)), ElementsAre("LiberationSans"));
  // One line of 8 points lower than the same text without the blank line.
  const double shift = FirstWordTop(job) - FirstWordTop(plain);
  EXPECT_GT(shift, 7.0);
  EXPECT_LT(shift, 12.0);
}

TEST_F(PrintToPdf, LongTextContinuesOnFurtherPagesOfTheSameJob) {
  const int count = 200;
  const QString pdf = PrintJob(QStringLiteral("long"), NumberedLines(count), ListFont());
  const int pages = PdfPages(pdf);
  EXPECT_GE(pages, 2);
  EXPECT_EQ(FLast.Pages, pages);
  EXPECT_EQ(FLast.Lines, count);
  EXPECT_EQ(PdfInfoField(pdf, QStringLiteral("Title")), QStringLiteral("Quillmark"));
  // Every line once, in order, across the pages.
  const QStringList printed = PdfLines(pdf);
  ASSERT_EQ(printed.size(), count);
  for (int i = 0; i < count; ++i)
    ASSERT_EQ(printed[i], QStringLiteral("line %1 of the long text").arg(i + 1, 4, 10, QLatin1Char('0')));
}

TEST_F(PrintToPdf, NewPageStartsOnlyWhileLinesRemain) {
  const QString pdf = PrintJob(QStringLiteral("measure"), NumberedLines(200), ListFont());
  const int perPage = int(PdfLines(pdf, 1, 1).size());
  ASSERT_GT(perPage, 10);
  struct Case {
    int lines;
    int pages;
  } const cases[] = {{perPage, 1}, {perPage + 1, 2}, {2 * perPage, 2}, {2 * perPage + 1, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lines);
    // A break after the last line starts no page of its own.
    const QString fit =
        PrintJob(QStringLiteral("fit%1").arg(c.lines), NumberedLines(c.lines) + "\r\n", ListFont());
    EXPECT_EQ(PdfPages(fit), c.pages);
    EXPECT_EQ(FLast.Pages, c.pages);
  }
}

TEST_F(PrintToPdf, PrintingWhileAJobIsLaidOutFailsAndTheJobFinishes) {
  TPrintJobs jobs(TPrinterList{});
  jobs.SetOutputFile(Pdf(QStringLiteral("outer")));
  const int count = 2 * TPrintJobs::kStepLines + 1;
  StartLongJob(jobs, count);
  EXPECT_TRUE(jobs.Busy());
  std::vector<std::string> errors;
  for (int n = 0; n < 2; ++n) try {
      jobs.PrintText(QStringLiteral("inner"), ListFont());
    } catch (const EPrintError& e) {
      errors.push_back(e.what());
    }
  EXPECT_EQ(errors, std::vector<std::string>(2, "Printing in progress"));
  ASSERT_TRUE(WaitUntilTold());
  EXPECT_EQ(FFailure, QString());
  EXPECT_FALSE(jobs.Busy());
  EXPECT_EQ(PdfLines(Pdf(QStringLiteral("outer"))).size(), count);
}

// A job longer than a step is laid out from the event loop: the same page as at once, and its
// end told once.
TEST_F(PrintToPdf, AJobLaidOutInStepsIsTheSamePageAsAtOnce) {
  const int count = 3 * TPrintJobs::kStepLines + 7;
  const QString atOnce = PrintJob(QStringLiteral("at-once"), NumberedLines(count), ListFont());
  const TPrintStats whole = FLast;

  TPrintJobs jobs(TPrinterList{});
  jobs.SetOutputFile(Pdf(QStringLiteral("in-steps")));
  StartLongJob(jobs, count);
  EXPECT_TRUE(jobs.Busy());
  ASSERT_TRUE(WaitUntilTold());
  EXPECT_EQ(FTold, 1);
  EXPECT_EQ(FFailure, QString());
  EXPECT_EQ(FTicket.Printer, Pdf(QStringLiteral("in-steps")));
  EXPECT_FALSE(jobs.Busy());
  EXPECT_EQ(jobs.LastJob().Lines, whole.Lines);
  EXPECT_EQ(jobs.LastJob().Pages, whole.Pages);
  EXPECT_EQ(PdfLines(Pdf(QStringLiteral("in-steps"))), PdfLines(atOnce));

  // Dropped halfway: nothing told, and the next job may start.
  StartLongJob(jobs, count);
  jobs.Abandon();
  EXPECT_FALSE(jobs.Busy());
  jobs.PrintText(QStringLiteral("after"), ListFont());
  QCoreApplication::processEvents();
  EXPECT_EQ(FTold, 1);
}

TEST_F(PrintToPdf, AFailureWhileSpoolingClosesTheJob) {
  TPrintJobs jobs(TPrinterList{});
  jobs.SetOutputFile(Pdf(QStringLiteral("failing")));
  StartLongJob(jobs, 2 * TPrintJobs::kStepLines, TPrintJobs::kStepLines + 1);
  ASSERT_TRUE(WaitUntilTold());
  EXPECT_EQ(FFailure, QStringLiteral("the text failed"));
  EXPECT_FALSE(jobs.Busy());
  jobs.SetOutputFile(Pdf(QStringLiteral("after")));
  jobs.PrintText(QStringLiteral("after the failure"), ListFont());
  EXPECT_THAT(test::StdLines(PdfLines(Pdf(QStringLiteral("after")))), ElementsAre("after the failure"));
}

TEST_F(PrintToPdf, ChoosingAPrinterWhileAJobSpoolsAffectsOnlyLaterJobs) {
  TPrintJobs jobs(TPrinterList{{QStringLiteral("Quillmark-Gone-3")}, {}});
  QPrinter& setup = jobs.SetupPrinter();
  setup.setOutputFormat(QPrinter::PdfFormat);
  setup.setOutputFileName(Pdf(QStringLiteral("spooling")));
  jobs.AcceptSetup();
  const int count = 2 * TPrintJobs::kStepLines + 1;
  StartLongJob(jobs, count);
  // The operator picks the box's entry and confirms another set-up between two steps.
  jobs.SelectPrinter(0);
  jobs.SetupPrinter().setOutputFileName(Pdf(QStringLiteral("unused")));
  jobs.SelectPrinter(0);
  ASSERT_TRUE(WaitUntilTold());
  EXPECT_EQ(PdfLines(Pdf(QStringLiteral("spooling"))).size(), count);
  EXPECT_EQ(jobs.CurrentPrinterName(), QStringLiteral("Quillmark-Gone-3"));
  EXPECT_THROW(jobs.PrintText(QStringLiteral("x"), ListFont()), EPrintError);
}

TEST_F(PrintToPdf, PageIsThePrintableAreaWhateverMarginsTheSetupHad) {
  struct Case {
    const char* name;
    double minimum;  // what the device cannot print, points
    double margins;  // margins confirmed in a set-up dialog, points
    double corner;   // where the text starts: the device's edge, a quarter inch where it has none
  } const cases[] = {{"no margins", 0, 0, 18},        {"dialog margins", 0, 36, 18},
                     {"device edge", 18, 18, 18},     {"both", 18, 54, 18},
                     {"narrow device edge", 9, 9, 9}, {"wide device edge", 36, 36, 36}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPrintJobs jobs(TPrinterList{});
    QPrinter& setup = jobs.SetupPrinter();
    setup.setOutputFormat(QPrinter::PdfFormat);
    setup.setOutputFileName(Pdf(QStringLiteral("margins%1").arg(n++)));
    QPageLayout layout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                       QMarginsF(c.margins, c.margins, c.margins, c.margins), QPageLayout::Point,
                       QMarginsF(c.minimum, c.minimum, c.minimum, c.minimum));
    ASSERT_TRUE(setup.setPageLayout(layout));
    jobs.AcceptSetup();
    jobs.PrintText(QStringLiteral("corner"), ListFont());
    const auto words = test::PdfWords(jobs.Printer().outputFileName());
    ASSERT_EQ(words.size(), 1u);
    EXPECT_NEAR(words[0].XMin, c.corner, 1.0);
    EXPECT_NEAR(words[0].YMin, c.corner, 3.0);
  }
}

TEST(PrintErrorsTest, JobsFailWithTheOperatorsTexts) {
  struct Case {
    const char* name;
    TPrinterList printers;
    int select;  // -2: leave the start state
    QString outputFile;
    const char* error;
  } const cases[] = {
      {"no printer installed", {}, -2, {}, "There is no default printer currently selected"},
      {"entries but no default",
       {{QStringLiteral("Office")}, {}},
       -2,
       {},
       "There is no default printer currently selected"},
      {"chosen printer gone",
       {{QStringLiteral("Quillmark-Gone-1")}, {}},
       0,
       {},
       "Printer selected is not valid"},
      {"default printer gone",
       {{QStringLiteral("Quillmark-Gone-2")}, QStringLiteral("Quillmark-Gone-2")},
       -2,
       {},
       "Printer selected is not valid"},
      {"file cannot be written",
       {},
       -2,
       QStringLiteral("/nonexistent-quillmark-dir/out.pdf"),
       "Printer selected is not valid"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPrintJobs jobs(c.printers);
    if (c.select > -2) jobs.SelectPrinter(c.select);
    jobs.SetOutputFile(c.outputFile);
    try {
      jobs.PrintText(QStringLiteral("text"), WindowFont());
      ADD_FAILURE() << "no error";
    } catch (const EPrintError& e) {
      EXPECT_STREQ(e.what(), c.error);
    }
    EXPECT_FALSE(jobs.Busy());
  }
}

TEST(PrinterChoiceTest, TypingIntoAnEmptyBoxFindsNoDefault) {
  TPrintJobs jobs(TPrinterList{});
  EXPECT_TRUE(jobs.Printers().isEmpty());
  EXPECT_FALSE(jobs.HasDefault());
  try {
    jobs.SelectPrinter(-1);
    ADD_FAILURE() << "no error";
  } catch (const EPrintError& e) {
    EXPECT_STREQ(e.what(), "There is no default printer currently selected");
  }
  EXPECT_THROW(jobs.SelectPrinter(0), EPrintError);
}

TEST(PrinterChoiceTest, MinusOneGoesBackToTheSystemDefault) {
  TPrintJobs jobs(TPrinterList{{QStringLiteral("Office"), QStringLiteral("Shack")}, QStringLiteral("Shack")});
  EXPECT_EQ(jobs.CurrentPrinterName(), QStringLiteral("Shack"));
  EXPECT_EQ(jobs.SelectedIndex(), -1);
  jobs.SelectPrinter(0);
  EXPECT_EQ(jobs.CurrentPrinterName(), QStringLiteral("Office"));
  EXPECT_EQ(jobs.SelectedIndex(), 0);
  jobs.SelectPrinter(-1);
  EXPECT_EQ(jobs.CurrentPrinterName(), QStringLiteral("Shack"));
  EXPECT_EQ(jobs.SelectedIndex(), -1);
  // An index that names no entry is no choice: the default again, never another error.
  for (const int outside : {2, -2}) {
    jobs.SelectPrinter(0);
    jobs.SelectPrinter(outside);
    EXPECT_EQ(jobs.CurrentPrinterName(), QStringLiteral("Shack"));
    EXPECT_EQ(jobs.SelectedIndex(), -1);
  }
}

TEST_F(PrintToPdf, OnlyAConfirmedSetupChangesLaterJobs) {
  TPrintJobs jobs(TPrinterList{});
  // Cancelled: the dialog's changes are dropped.
  QPrinter& cancelled = jobs.SetupPrinter();
  cancelled.setOutputFormat(QPrinter::PdfFormat);
  cancelled.setOutputFileName(Pdf(QStringLiteral("cancelled")));
  cancelled.setPageOrientation(QPageLayout::Landscape);
  EXPECT_THROW(jobs.PrintText(QStringLiteral("x"), ListFont()), EPrintError);

  // Confirmed "print to file" in landscape: later jobs write that file, in landscape.
  QPrinter& confirmed = jobs.SetupPrinter();
  confirmed.setOutputFormat(QPrinter::PdfFormat);
  confirmed.setOutputFileName(Pdf(QStringLiteral("confirmed")));
  confirmed.setPageOrientation(QPageLayout::Landscape);
  jobs.AcceptSetup();
  jobs.PrintText(QStringLiteral("to file"), ListFont());
  EXPECT_THAT(test::StdLines(PdfLines(Pdf(QStringLiteral("confirmed")))), ElementsAre("to file"));
  const QStringList size = PdfInfoField(Pdf(QStringLiteral("confirmed")), QStringLiteral("Page size"))
                               .split(QLatin1Char(' '), Qt::SkipEmptyParts);  // "W x H pts (A4)"
  ASSERT_GE(size.size(), 3);
  EXPECT_GT(size[0].toDouble(), size[2].toDouble());
  EXPECT_FALSE(QFile::exists(Pdf(QStringLiteral("cancelled"))));

  // The next set-up starts from the confirmed settings.
  EXPECT_EQ(jobs.SetupPrinter().pageLayout().orientation(), QPageLayout::Landscape);
  EXPECT_EQ(jobs.SetupPrinter().outputFileName(), Pdf(QStringLiteral("confirmed")));
}

#ifdef QM_HAVE_CUPS
// (A PDF printer keeps no duplex setting, so sides stay one-sided here.)
TEST(CupsJobOptionsTest, TheSetupReachesTheSpoolerAsQtsEngineWouldPassIt) {
  using TOptions = std::vector<std::pair<std::string, std::string>>;
  struct Case {
    const char* name;
    QPageSize::PageSizeId paper;
    QPageLayout::Orientation orientation;
    int copies;
    bool collate;
    QPrinter::ColorMode color;
    TOptions options;
  } const cases[] = {
      {"plain",
       QPageSize::A4,
       QPageLayout::Portrait,
       1,
       true,
       QPrinter::Color,
       {{"media", "A4"}, {"sides", "one-sided"}}},
      {"copies, landscape",
       QPageSize::A4,
       QPageLayout::Landscape,
       3,
       true,
       QPrinter::Color,
       {{"media", "A4"}, {"copies", "3"}, {"Collate", "True"}, {"sides", "one-sided"}, {"landscape", ""}}},
      {"uncollated, grey",
       QPageSize::Letter,
       QPageLayout::Portrait,
       2,
       false,
       QPrinter::GrayScale,
       {{"media", "Letter"}, {"copies", "2"}, {"sides", "one-sided"}, {"print-color-mode", "monochrome"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setPageSize(QPageSize(c.paper));
    printer.setPageOrientation(c.orientation);
    printer.setCopyCount(c.copies);
    printer.setCollateCopies(c.collate);
    printer.setColorMode(c.color);
    TOptions options;
    for (const auto& [name, value] : CupsJobOptions(printer))
      options.emplace_back(name.toStdString(), value.toStdString());
    EXPECT_EQ(options, c.options);
  }
}
#endif

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// Each job into a file of its own in the output folder; a folder that cannot be made fails the
// job instead of reporting it printed.
// Whichever way a PDF file is made (a file, a folder of pages, a PDF printer chosen in the
// set-up), no word comes within a quarter inch of the sheet's edge, also where long lines wrap
// and the text runs over to further pages.
TEST_F(PrintToPdf, NoTextWithinAQuarterInchOfTheEdge) {
  const QString wide =
      QStringLiteral("W").repeated(300) + QStringLiteral(" ") + QStringLiteral("x ").repeated(200);
  const QString text = NumberedLines(150) + QStringLiteral("\r\n") + wide;
  const struct {
    const char* Name;
    std::function<QString(TPrintJobs&)> Print;
  } cases[] = {
      {"output file",
       [&](TPrintJobs& jobs) {
         jobs.SetOutputFile(Pdf(QStringLiteral("edge-file")));
         return jobs.PrintText(text, ListFont()).Printer;
       }},
      {"folder of pages",
       [&](TPrintJobs& jobs) {
         jobs.SetOutputFolder(FDir.filePath(QStringLiteral("edge-pages")));
         return jobs.PrintText(text, ListFont()).Printer;
       }},
      {"PDF printer from the set-up",
       [&](TPrintJobs& jobs) {
         QPrinter& setup = jobs.SetupPrinter();
         setup.setOutputFormat(QPrinter::PdfFormat);
         setup.setOutputFileName(Pdf(QStringLiteral("edge-setup")));
         jobs.AcceptSetup();
         return jobs.PrintText(text, ListFont()).Printer;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TPrintJobs jobs(TPrinterList{});
    const QString pdf = c.Print(jobs);
    ASSERT_GE(PdfPages(pdf), 2);
    // "595.276 x 841.89 pts (A4)"
    const QStringList size = PdfInfoField(pdf, QStringLiteral("Page size")).split(QLatin1Char(' '));
    ASSERT_GE(size.size(), 3);
    const double width = size[0].toDouble(), height = size[2].toDouble();
    ASSERT_GT(width, 100.0);
    ASSERT_GT(height, 100.0);
    const auto words = test::PdfWords(pdf);
    ASSERT_GT(words.size(), 300u);
    for (const auto& w : words) {
      const bool inside = w.XMin >= 18 && w.YMin >= 18 && w.XMax <= width - 18 && w.YMax <= height - 18;
      ASSERT_TRUE(inside) << w.Text.left(20).toStdString() << " at " << w.XMin << "," << w.YMin << " to "
                          << w.XMax << "," << w.YMax << " on " << width << "x" << height;
    }
  }
}

TEST_F(PrintToPdf, OutputFolderTakesEachJobAsAFileOfItsOwn) {
  TPrintJobs jobs(TPrinterList{});
  const QString folder = FDir.filePath(QStringLiteral("pages/new"));
  jobs.SetOutputFolder(folder);
  const QString first = jobs.PrintText(QStringLiteral("first job"), ListFont()).Printer;
  const QString second = jobs.PrintText(QStringLiteral("second job"), ListFont()).Printer;
  EXPECT_NE(first, second);
  EXPECT_EQ(QDir(folder).entryList({QStringLiteral("quillmark-*.pdf")}, QDir::Files).size(), 2);
  EXPECT_EQ(PdfLines(second), QStringList{QStringLiteral("second job")});

  QFile blocker(FDir.filePath(QStringLiteral("file")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  jobs.SetOutputFolder(FDir.filePath(QStringLiteral("file/pages")));
  EXPECT_THROW(jobs.PrintText(QStringLiteral("lost?"), ListFont()), EPrintError);
}

}  // namespace
}  // namespace qm
