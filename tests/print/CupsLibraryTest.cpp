// Printing where libcups cannot be used: every request answers as it does when the spooler
// cannot be reached, in words that name the library. Each case runs in a process of its own
// (libcups is loaded once a process), with QM_TEST_LIBCUPS naming what is loaded instead. Qt's
// own CUPS plugin links libcups by itself, so it still knows the queue Quillmark-PDF.
#include "print/PrintJobs.h"

#include <QUuid>

#include <cstdio>
#include <cstdlib>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace qm {
namespace {

using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

// What each kind of request answers, one line each on standard error.
[[noreturn]] void AskEveryWay() {
  const QString queue = QStringLiteral("Quillmark-PDF");
  TPrintJobs jobs(TPrinterList{{queue}, {}});
  jobs.SelectPrinter(0);
  try {
    const TJobTicket ticket =
        jobs.PrintText(QStringLiteral("a page"), QFont(), TPrintJobs::JobTitle, QUuid::createUuid());
    std::fprintf(stderr, "printed as job %d\n", ticket.SpoolerJob);
  } catch (const EPrintError& e) {
    std::fprintf(stderr, "print: %s\n", e.what());
  }
  const TSpoolAnswer state = jobs.JobState(TJobTicket{queue, 7, QUuid::createUuid()});
  std::fprintf(stderr, "state %d: %s\n", int(state.State), qPrintable(state.Reason));
  const TFoundJob found = jobs.FindJob(queue, QUuid::createUuid());
  std::fprintf(stderr, "find %d: %s\n", int(found.State), qPrintable(found.Reason));
  for (const QString& problem : jobs.PrinterState().Problems)
    std::fprintf(stderr, "printer: %s\n", qPrintable(problem));
  std::fflush(stderr);
  std::_Exit(0);
}

// A line of AskEveryWay's: `said` names the library and then, somewhere in dlerror's words
// (which name the file as the loader found it), `why`.
::testing::Matcher<const std::string&> Says(const std::string& said, const char* why) {
  return ::testing::ContainsRegex(said + "libcups.so.2 cannot be loaded: [^\n]*" + why);
}

TEST(CupsLibraryTest, WithoutLibcupsEveryRequestSaysSoAndNothingCountsAsPrinted) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, not a fork of this one
  struct Case {
    const char* name;
    const char* library;
    const char* why;
  } const cases[] = {
      {"not installed", "/nonexistent/libcups.so.2",
       "/nonexistent/libcups.so.2: cannot open shared object file"},
      // Found, but not libcups: the first function looked up is missing.
      {"a function missing", "libm.so.6", "libm.so.6: undefined symbol: cupsAddOption"},
  };
  const QByteArray before = qgetenv("QM_TEST_LIBCUPS");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    qputenv("QM_TEST_LIBCUPS", c.library);
    EXPECT_EXIT(AskEveryWay(), ::testing::ExitedWithCode(0),
                AllOf(Says("print: " + TPrintJobs::RefusedText.toStdString() + ": ", c.why),
                      Says("state " + std::to_string(int(ssUnreachable)) + ": ", c.why),
                      Says("find " + std::to_string(int(fsUnreachable)) + ": ", c.why),
                      Says("printer: The printer Quillmark-PDF cannot be asked: ", c.why),
                      Not(HasSubstr("printed as job"))));
  }
  if (before.isNull())
    qunsetenv("QM_TEST_LIBCUPS");
  else
    qputenv("QM_TEST_LIBCUPS", before);
}

}  // namespace
}  // namespace qm
