// The command line as the window takes it: a printer chosen for the run. The program itself
// with its command line: tests/run/CommandLineProgramTest.cpp.
#include <gtest/gtest.h>

#include <QComboBox>

#include "app/MainForm.h"
#include "run/CommandLine.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

// --printer picks a printer of the list for this run; a name not in it is reported and the
// system's default stays.
TEST(CommandLine, PrinterOptionChoosesThePrinterForThisRun) {
  for (const char* name : {"Office", "Missing"}) {
    SCOPED_TRACE(name);
    test::TFormEnvironment env;
    TMainFormSetup setup = env.Setup();
    setup.Printers = TPrinterList{{QStringLiteral("Desk"), QStringLiteral("Office")}, QStringLiteral("Desk")};
    setup.Options.Printer = QString::fromLatin1(name);
    TMainForm form(std::move(setup));
    const bool known = std::string(name) == "Office";
    EXPECT_EQ(form.Desk().PrinterName(), known ? QStringLiteral("Office") : QStringLiteral("Desk"));
    EXPECT_EQ(form.cbxPrinter->currentText(), known ? QStringLiteral("Office") : QStringLiteral("(default)"));
    EXPECT_EQ(env.Errors,
              known ? QStringList{} : QStringList{QStringLiteral("There is no printer \"Missing\" here")});
  }
}

}  // namespace
}  // namespace qm
