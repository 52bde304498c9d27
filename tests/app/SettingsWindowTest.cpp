// The window's use of its settings file: what a first start writes, what the "Save"
// buttons, the close box and the destruction save, what a second window reads back,
// the "Connection" section and a stored window state at start.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/MainForm.h"
#include "settings/IniFile.h"
#include "settings/SettingsDefaults.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/TestStateCodes.h"

namespace qm {
namespace {

using test::WaitFor;

std::string ReadFile(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& name, const std::string& text) {
  std::ofstream(name, std::ios::binary) << text;
}

std::vector<std::string> Sections(const std::string& iniText) {
  return TIniFile(iniText).SectionNames();
}

std::string Value(const std::string& iniText, const char* section, const char* key) {
  return TIniFile(iniText).ReadString(section, key, "<missing>");
}

constexpr const char* kVersionOnly = "[Info]\r\nVersion=1.3.3.1\r\n";

// A bulletin the window lists when "All Bulletins" is checked.
constexpr const char* kBulletin = "*12:00:00 N0SRC>APRS,WIDE1-1::BLN1     :Net tonight at 8";

int ScreenPpi() {
  return static_cast<int>(std::lround(QGuiApplication::primaryScreen()->logicalDotsPerInch()));
}

// The stored check boxes in the order they are saved.
std::vector<QCheckBox*> StoredBoxes(const TMainForm& form) {
  return {form.cbDisablePrinting, form.cbStationList,         form.cbThisStation, form.cbBeepOnReceive,
          form.cbNWSAdvisiories,  form.cbNWSAdvisioriesPrint, form.cbNWSWarnings, form.cbNWSWarningsPrint,
          form.cbNWSWatches,      form.cbNWSWatchesPrint,     form.cbAnn,         form.cbBull};
}

// Their states as "name=1" lines, so a difference names the box.
std::string BoxStates(const TMainForm& form) {
  std::string text;
  for (const QCheckBox* box : StoredBoxes(form))
    text += box->objectName().toStdString() + (box->isChecked() ? "=1\n" : "=0\n");
  return text;
}

std::string ExpectedBoxStates(const TMainForm& form, const char* marks) {
  std::string text;
  const auto boxes = StoredBoxes(form);
  for (std::size_t i = 0; i < boxes.size(); ++i)
    text += boxes[i]->objectName().toStdString() + "=" + marks[i] + "\n";
  return text;
}

struct SettingsWindowTest : public ::testing::Test {
  test::TFormEnvironment env;
  std::string Ini() const { return ReadFile(env.IniFile()); }
  // A window whose settings file lies in a folder of its own, so that the folder can
  // be taken away later: no write can then succeed, not even for root.
  std::string RefusableIni() const { return env.Dir.path().toStdString() + "/sub/Quillmark.ini"; }
  TMainFormSetup RefusableSetup() {
    std::filesystem::create_directory(env.Dir.path().toStdString() + "/sub");
    TMainFormSetup s = env.Setup();
    s.IniFile = RefusableIni();
    return s;
  }
  void RefuseWrites() {
    const std::string sub = env.Dir.path().toStdString() + "/sub";
    std::filesystem::remove_all(sub);
    WriteFile(sub, "a file where the folder was");
  }
  QString Refused() const { return QString::fromStdString("Unable to write to " + RefusableIni()); }
  QStringList CheckedStates(const TMainForm& form) const {
    QStringList codes;
    for (int i = 0; i < form.clbStates->count(); ++i)
      if (form.clbStates->item(i)->checkState() == Qt::Checked) codes << form.clbStates->item(i)->text();
    return codes;
  }
  QStringList Stations(const TMainForm& form) const {
    QStringList entries;
    for (int i = 0; i < form.lbStationList->count(); ++i) entries << form.lbStationList->item(i)->text();
    return entries;
  }
  void AddStation(TMainForm& form, const char* entry) {
    form.edStation->setText(QString::fromLatin1(entry));
    form.btnAdd->click();
  }
  void CheckState(TMainForm& form, const char* code) {
    const auto found = form.clbStates->findItems(QString::fromLatin1(code), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << code;
    found.front()->setCheckState(Qt::Checked);
  }
  // The two state lists as one save writes them, every state unchecked but the given ones.
  static std::string StateSections(const std::vector<std::string>& checked) {
    std::string text = "[Settings.clbStates.Items]\r\nCount=52\r\n";
    const auto& codes = StateCodes();
    for (std::size_t i = 0; i < codes.size(); ++i)
      text += "Item" + std::to_string(i) + "=" + codes[i] + "\r\n";
    text += "[StateSelection]\r\n";
    for (const auto& code : codes) {
      const bool on = std::find(checked.begin(), checked.end(), code) != checked.end();
      text += code + (on ? "=1\r\n" : "=0\r\n");
    }
    return text;
  }
};

// --- First start ----------------------------------------------------------------------

TEST_F(SettingsWindowTest, FirstStartWritesOnlyTheVersionAndShowsTheDefaults) {
  TMainForm form(env.Setup());
  form.show();
  WaitFor([&] { return form.isVisible(); });
  EXPECT_EQ(Ini(), kVersionOnly);

  EXPECT_EQ(BoxStates(form), ExpectedBoxStates(form, "001000000000"));
  EXPECT_EQ(form.edMsgCount->text(), QStringLiteral("20"));
  EXPECT_EQ(form.lbStationList->count(), 0);
  ASSERT_EQ(form.clbStates->count(), 52);
  for (int i = 0; i < 52; ++i)
    EXPECT_EQ(form.clbStates->item(i)->text().toStdString(), StateCodes()[static_cast<std::size_t>(i)]);
  EXPECT_TRUE(CheckedStates(form).isEmpty());
  EXPECT_EQ(form.edPort->text(), QString());
  EXPECT_EQ(form.edPace->text(), QStringLiteral("3"));
  // The demo plays: only its fields are open, and the window says what happens and where.
  EXPECT_TRUE(form.edCaptureFile->isEnabled());
  EXPECT_FALSE(form.edServer->isEnabled());
  EXPECT_TRUE(form.lblSourceNote->text().startsWith(QStringLiteral("Welcome: enter your callsign")));

  // Changing controls and leaving the window alone writes nothing until a save.
  form.cbAnn->click();
  CheckState(form, "TX");
  QCoreApplication::processEvents();
  EXPECT_EQ(Ini(), kVersionOnly);
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

// --- Save buttons ---------------------------------------------------------------------

TEST_F(SettingsWindowTest, SaveButtonWritesTheFileByteForByte) {
  for (const char* button : {"btnSaveSettings1", "btnSaveSettings2"}) {
    SCOPED_TRACE(button);
    std::filesystem::remove(env.IniFile());
    TMainForm form(env.Setup());
    form.cbStationList->click();
    form.cbNWSWarnings->click();
    form.cbNWSWatches->click();
    form.cbNWSWatchesPrint->click();
    form.cbBull->click();
    AddStation(form, "NOCALL*");
    AddStation(form, "NOCALL-9");
    CheckState(form, "AL");
    form.findChild<QPushButton*>(QString::fromLatin1(button))->click();

    const std::string expected = std::string(kVersionOnly) +
                                 "[Settings]\r\n"
                                 "cbDisablePrinting.Checked=False\r\n"
                                 "cbStationList.Checked=True\r\n"
                                 "cbThisStation.Checked=True\r\n"
                                 "edMsgCount.Text=20\r\n"
                                 "cbBeepOnReceive.Checked=False\r\n"
                                 "cbNWSAdvisiories.Checked=False\r\n"
                                 "cbNWSAdvisioriesPrint.Checked=False\r\n"
                                 "cbNWSWarnings.Checked=True\r\n"
                                 "cbNWSWarningsPrint.Checked=False\r\n"
                                 "cbNWSWatches.Checked=True\r\n"
                                 "cbNWSWatchesPrint.Checked=True\r\n"
                                 "cbAnn.Checked=False\r\n"
                                 "cbBull.Checked=True\r\n"
                                 "[Settings.lbStationList.Items]\r\n"
                                 "Count=2\r\n"
                                 "Item0=NOCALL*\r\n"
                                 "Item1=NOCALL-9\r\n" +
                                 StateSections({"AL"});
    EXPECT_EQ(Ini(), expected);
    EXPECT_TRUE(form.FProperties->SavedSinceRestore());
    // The window's place is saved only at close or at the end.
    EXPECT_FALSE(form.FWindowState->SavedSinceRestore());
    EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
  }
}

TEST_F(SettingsWindowTest, SavingAnEmptyStationListRemovesItsSection) {
  TMainForm form(env.Setup());
  AddStation(form, "W1AW");
  form.btnSaveSettings1->click();
  ASSERT_EQ(Value(Ini(), "Settings.lbStationList.Items", "Item0"), "W1AW");
  form.lbStationList->setCurrentRow(0);
  form.btnRemove->click();
  ASSERT_EQ(form.lbStationList->count(), 0);
  form.btnSaveSettings2->click();
  EXPECT_FALSE(TIniFile(Ini()).SectionExists("Settings.lbStationList.Items"));
}

TEST_F(SettingsWindowTest, LeavingDisablePrintingSaves) {
  TMainForm form(env.Setup());
  form.show();
  form.activateWindow();
  ASSERT_TRUE(WaitFor([&] { return QApplication::activeWindow() == &form; }));
  form.PageControl1->setCurrentIndex(0);
  form.cbDisablePrinting->setFocus();
  ASSERT_TRUE(WaitFor([&] { return form.cbDisablePrinting->hasFocus(); }));
  form.cbDisablePrinting->click();
  EXPECT_EQ(Ini(), kVersionOnly);  // checking it is no save yet
  form.edStation->setFocus();
  ASSERT_TRUE(WaitFor([&] { return form.edStation->hasFocus(); }));
  const std::string text = Ini();
  EXPECT_EQ(Value(text, "Settings", "cbDisablePrinting.Checked"), "True");
  EXPECT_TRUE(TIniFile(text).SectionExists("StateSelection"));
  EXPECT_FALSE(TIniFile(text).SectionExists("FormState"));  // not the window's place
}

TEST_F(SettingsWindowTest, OnlyLeavingDisablePrintingForAnotherControlSaves) {
  struct Case {
    const char* name;
    Qt::FocusReason reason;
    bool saves;
  } cases[] = {
      {"tab", Qt::TabFocusReason, true},     {"back tab", Qt::BacktabFocusReason, true},
      {"mouse", Qt::MouseFocusReason, true}, {"other program", Qt::ActiveWindowFocusReason, false},
      {"menu", Qt::PopupFocusReason, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(env.IniFile());
    TMainForm form(env.Setup());
    QFocusEvent leave(QEvent::FocusOut, c.reason);
    QCoreApplication::sendEvent(form.cbDisablePrinting, &leave);
    EXPECT_EQ(TIniFile(Ini()).SectionExists("Settings"), c.saves);
    EXPECT_EQ(form.FProperties->SavedSinceRestore(), c.saves);
  }
}

TEST_F(SettingsWindowTest, RefusedSaveIsReportedAndKeepsTheOldFile) {
  TMainForm form(RefusableSetup());
  RefuseWrites();
  form.cbBull->click();
  form.btnSaveSettings1->click();
  EXPECT_EQ(env.Errors, QStringList{Refused()});
  EXPECT_FALSE(form.FProperties->SavedSinceRestore());
  EXPECT_TRUE(form.isEnabled());
}

// --- A second window on the same file -------------------------------------------------

TEST_F(SettingsWindowTest, SecondWindowRestoresEveryStoredControl) {
  const QRect place(37, 41, 712, 463);
  {
    TMainForm first(env.Setup());
    for (QCheckBox* box : StoredBoxes(first)) box->click();
    first.edMsgCount->setText(QStringLiteral("  35 "));
    AddStation(first, "N0CALL-*");
    AddStation(first, "W1AW");
    for (const char* code : {"AK", "PR", "TX", "WY"}) CheckState(first, code);
    first.show();
    first.setGeometry(place);
    first.btnSaveSettings2->click();
  }  // the window's place is saved as it goes
  EXPECT_EQ(Value(Ini(), "Settings", "edMsgCount.Text"), "35");
  EXPECT_EQ(Value(Ini(), "FormState", "NormalPos"), "37,41,749,504");

  TMainForm second(env.Setup());
  EXPECT_EQ(BoxStates(second), ExpectedBoxStates(second, "110111111111"));
  EXPECT_EQ(second.edMsgCount->text(), QStringLiteral("35"));
  EXPECT_EQ(Stations(second), (QStringList{QStringLiteral("N0CALL-*"), QStringLiteral("W1AW")}));
  EXPECT_EQ(CheckedStates(second), (QStringList{QStringLiteral("AK"), QStringLiteral("PR"),
                                                QStringLiteral("TX"), QStringLiteral("WY")}));
  EXPECT_EQ(second.clbStates->count(), 52);
  EXPECT_EQ(second.geometry(), place);
  EXPECT_FALSE(second.StartMinimized());
  // Restoring is no save: the file stays as the first window left it.
  const std::string before = Ini();
  QCoreApplication::processEvents();
  EXPECT_EQ(Ini(), before);
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(SettingsWindowTest, HandEditedFileIsReadAsTheWindowWouldWriteIt) {
  WriteFile(env.IniFile(),
            "[Info]\r\nVersion=0.9\r\n"
            "[Settings]\r\ncbThisStation.Checked=1\r\ncbBull.Checked= true \r\nedMsgCount.Text=\r\n"
            "[Settings.lbStationList.Items]\r\nCount=2\r\nItem0=  KC0XYZ  \r\nItem1=W1AW\r\n"
            "[Settings.clbStates.Items]\r\nCount=3\r\nItem0=TX\r\nItem1=GU\r\nItem2=AK\r\n"
            "[StateSelection]\r\nAK=True\r\nGU=5\r\nTX=0x1\r\n");
  TMainForm form(env.Setup());
  EXPECT_TRUE(form.cbThisStation->isChecked());  // "1" is no boolean: left as designed
  EXPECT_TRUE(form.cbBull->isChecked());
  EXPECT_EQ(form.edMsgCount->text(), QString());
  EXPECT_EQ(Stations(form), (QStringList{QStringLiteral("KC0XYZ"), QStringLiteral("W1AW")}));
  QStringList codes;
  for (int i = 0; i < form.clbStates->count(); ++i) codes << form.clbStates->item(i)->text();
  // The codes the file lists, sorted, marked as it says ("True" is no number).
  EXPECT_EQ(codes, (QStringList{QStringLiteral("AK"), QStringLiteral("GU"), QStringLiteral("TX")}));
  EXPECT_EQ(CheckedStates(form), (QStringList{QStringLiteral("GU"), QStringLiteral("TX")}));
  // The start only renews the version.
  EXPECT_EQ(Value(Ini(), "Info", "Version"), "1.3.3.1");
  EXPECT_EQ(Value(Ini(), "Settings", "cbBull.Checked"), "true");
}

// --- The close box --------------------------------------------------------------------

TEST_F(SettingsWindowTest, CloseBoxSavesPlaceThenPropertiesOnlyWhenAllowed) {
  struct Case {
    const char* name;
    QMessageBox::StandardButton answer;
    bool closes;
    bool printed;
  } cases[] = {
      {"Yes prints and saves", QMessageBox::Yes, true, true},
      {"No saves without printing", QMessageBox::No, true, false},
      {"Cancel keeps the window and saves nothing", QMessageBox::Cancel, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(env.IniFile());
    std::filesystem::remove(env.PdfFile().toStdString());
    TMainForm form(env.Setup());
    form.cbBull->click();
    env.Host->Deliver(kBulletin);
    ASSERT_TRUE(WaitFor([&] { return form.MessageLineCount() == 3; }));
    form.show();
    env.Answer = c.answer;
    EXPECT_EQ(form.close(), c.closes);
    EXPECT_EQ(form.isVisible(), !c.closes);
    EXPECT_EQ(std::filesystem::exists(env.PdfFile().toStdString()), c.printed);
    EXPECT_EQ(form.MessageLineCount(), c.printed ? 0 : 3);
    const std::string text = Ini();
    if (!c.closes) {
      EXPECT_EQ(text, kVersionOnly);
      continue;
    }
    EXPECT_EQ(Sections(text), (std::vector<std::string>{"Info", "FormState", "Settings",
                                                        "Settings.clbStates.Items", "StateSelection"}));
    EXPECT_EQ(Value(text, "Settings", "cbBull.Checked"), "True");
    EXPECT_EQ(Value(text, "FormState", "ShowCmd"), "1");
    EXPECT_EQ(Value(text, "FormState", "Color"), "-16777201");
    EXPECT_EQ(Value(text, "FormState", "PixelsPerInch"), std::to_string(ScreenPpi()));
  }
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(SettingsWindowTest, RefusedWriteAtTheCloseBoxIsReportedAndTheWindowCloses) {
  TMainForm form(RefusableSetup());
  form.show();
  RefuseWrites();
  EXPECT_TRUE(form.close());
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(env.Errors, (QStringList{Refused(), Refused()}));  // the place, then the properties
}

// --- Destruction ----------------------------------------------------------------------

TEST_F(SettingsWindowTest, DestructionSavesOnlyWhatWasNotSavedSinceTheStart) {
  struct Case {
    const char* name;
    bool saveFirst;
    bool closeBox;
    const char* storedAnn;
  } cases[] = {
      {"no save: the end keeps the change", false, false, "True"},
      {"save, then a change: the end keeps the saved value", true, false, "False"},
      {"save, then a change, then the close box: the change is kept", true, true, "True"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(env.IniFile());
    {
      TMainForm form(env.Setup());
      form.show();
      form.setGeometry(50, 60, 700, 480);
      if (c.saveFirst) form.btnSaveSettings1->click();
      form.cbAnn->click();
      CheckState(form, "NV");
      if (c.closeBox) {
        EXPECT_TRUE(form.close());
      }
    }
    const std::string text = Ini();
    EXPECT_EQ(Value(text, "Settings", "cbAnn.Checked"), c.storedAnn);
    EXPECT_EQ(Value(text, "StateSelection", "NV"), std::string(c.storedAnn) == "True" ? "1" : "0");
    // The window's place was never saved before: the end saves it in every case.
    EXPECT_EQ(Value(text, "FormState", "NormalPos"), "50,60,750,540");
    // A closed window is not saved a second time.
    EXPECT_EQ(Sections(text).front(), "Info");
  }
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(SettingsWindowTest, RefusedWriteAtDestructionIsReportedAndDestructionGoesOn) {
  int destroying = 0;
  QSystemTrayIcon* tray = nullptr;
  bool trayShownAfter = true;
  {
    TMainForm form(RefusableSetup());
    tray = form.FTrayIcon;
    form.Destroying = [&] { ++destroying; };
    RefuseWrites();
    form.cbAnn->click();
    form.FormDestroy();
    trayShownAfter = tray->isVisible();
    EXPECT_FALSE(form.Desk().Logging());
  }
  EXPECT_EQ(env.Errors, (QStringList{Refused(), Refused()}));  // properties, then the place
  EXPECT_EQ(destroying, 1);
  EXPECT_FALSE(trayShownAfter);
}

// --- The "Connection" page ------------------------------------------------------------

TEST_F(SettingsWindowTest, ApplyWritesTheConnectionAndReconnects) {
  int made = 0;
  TMainFormSetup setup = env.Setup();
  const auto makeHost = setup.CreateHost;
  setup.CreateHost = [&](const THostSettings& s) {
    ++made;
    auto host = makeHost(s);
    env.Host->Callsign = s.Callsign;  // the own station is the configured call
    return host;
  };
  {
    TMainForm form(setup);
    ASSERT_EQ(made, 1);
    EXPECT_EQ(env.HostSettings.Transport, THostSettings::htReplay);
    form.cbxTransport->setCurrentIndex(1);
    form.edServer->setText(QStringLiteral(" aprs.example.net "));
    form.edPort->setText(QStringLiteral("14580"));
    form.edCallsign->clear();
    QTest::keyClicks(form.edCallsign, QStringLiteral("n0call-5"));
    form.edFilter->setText(QStringLiteral("m/50 b/W1AW*"));
    form.edCaptureFile->setText(QString());
    form.edPace->setText(QStringLiteral("0.5"));
    form.btnApplyConnection->click();
    ASSERT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
    EXPECT_EQ(made, 2);
    EXPECT_EQ(env.Host->Starts, 1);
    EXPECT_EQ(env.HostSettings.Transport, THostSettings::htAprsIs);
    EXPECT_EQ(env.HostSettings.Server, "aprs.example.net");
    EXPECT_EQ(env.HostSettings.Port, 14580);
    EXPECT_EQ(env.HostSettings.Callsign, "N0CALL-5");  // typed letters become capitals
    EXPECT_EQ(env.HostSettings.Filter, "m/50 b/W1AW*");
    EXPECT_EQ(env.HostSettings.Pace, 0.5);
    EXPECT_EQ(form.FStationCall, "N0CALL-5");  // asked again from the new link
    EXPECT_EQ(Ini(), std::string(kVersionOnly) +
                         "[Connection]\r\nTransport=aprs-is\r\nServer=aprs.example.net\r\nPort=14580\r\n"
                         "Callsign=N0CALL-5\r\nFilter=m/50 b/W1AW*\r\nCaptureFile=\r\nPace=0.5\r\n"
                         "SerialDevice=/dev/ttyUSB0\r\nSerialBaud=9600\r\n");
  }
  env.HostSettings = THostSettings{};
  TMainForm second(setup);
  EXPECT_EQ(made, 3);
  EXPECT_EQ(env.HostSettings.Transport, THostSettings::htAprsIs);
  EXPECT_EQ(env.HostSettings.Server, "aprs.example.net");
  EXPECT_EQ(env.HostSettings.Port, 14580);
  EXPECT_EQ(env.HostSettings.Callsign, "N0CALL-5");
  EXPECT_EQ(env.HostSettings.Filter, "m/50 b/W1AW*");
  EXPECT_EQ(env.HostSettings.Pace, 0.5);
  EXPECT_EQ(second.cbxTransport->currentIndex(), 1);
  EXPECT_EQ(second.edServer->text(), QStringLiteral("aprs.example.net"));
  EXPECT_EQ(second.edPort->text(), QStringLiteral("14580"));
  EXPECT_EQ(second.edCallsign->text(), QStringLiteral("N0CALL-5"));
  EXPECT_EQ(second.edFilter->text(), QStringLiteral("m/50 b/W1AW*"));
  EXPECT_EQ(second.edPace->text(), QStringLiteral("0.5"));
}

// A further source: Add writes nothing, Apply writes [Connection2] beside the first source's
// section as it was; the next start hears both, a source on the command line alone, and Remove
// takes the section out again.
TEST_F(SettingsWindowTest, AnAddedSourceIsWrittenOnApplyAndRemovedWithItsSection) {
  const std::string first =
      "[Connection]\r\nTransport=kiss-tcp\r\nServer=\r\nPort=0\r\nCallsign=N0CALL-5\r\n";
  WriteFile(env.IniFile(), first);
  std::vector<THostSettings> made;
  TMainFormSetup setup = env.Setup();
  const auto makeHost = setup.CreateHost;
  setup.CreateHost = [&](const THostSettings& s) {
    made.push_back(s);
    return makeHost(s);
  };
  {
    TMainForm form(setup);
    ASSERT_EQ(made.size(), 1u);
    form.btnAddSource->click();
    EXPECT_EQ(Sections(Ini()), (std::vector<std::string>{"Connection", "Info"}));
    form.edServer->setText(QStringLiteral("aprs.example.net"));
    form.btnApplyConnection->click();
    ASSERT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
    ASSERT_EQ(made.size(), 2u);
    EXPECT_EQ(made[1].Transport, THostSettings::htAprsIs);  // the usual backup of a TNC
    EXPECT_EQ(made[1].Callsign, "N0CALL-5");
    EXPECT_EQ(Value(Ini(), "Connection2", "Server"), "aprs.example.net");
    EXPECT_EQ(Ini().rfind(first, 0), 0u);
  }
  made.clear();
  setup.Options.Transport = THostSettings::htKissTcp;
  std::make_unique<TMainForm>(setup).reset();
  EXPECT_EQ(made.size(), 1u);
  made.clear();
  setup.Options.Transport.reset();
  TMainForm second(setup);
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[1].Server, "aprs.example.net");
  ASSERT_EQ(second.lbSources->count(), 2);
  second.lbSources->setCurrentRow(1);
  EXPECT_EQ(second.edServer->text(), QStringLiteral("aprs.example.net"));
  second.btnRemoveSource->click();
  EXPECT_EQ(Value(Ini(), "Connection2", "Transport"), "<missing>");
  EXPECT_EQ(Ini().rfind(first, 0), 0u);
}

// Remove writes the further sources anew, one number down; what only the file sets goes along.
TEST_F(SettingsWindowTest, RemoveRenumbersTheFurtherSourcesWithWhatOnlyTheFileSets) {
  WriteFile(env.IniFile(),
            "[Connection]\r\nTransport=kiss-tcp\r\nPort=0\r\nCallsign=N0CALL-5\r\n"
            "[Connection2]\r\nTransport=aprs-is\r\nServer=a.example.net\r\nCallsign=N0CALL-5\r\n"
            "[Connection3]\r\nTransport=kiss-tcp\r\nServer=b.example.net\r\nPort=8001\r\n"
            "Callsign=N0CALL-5\r\nRfQuietMinutes=5\r\n");
  TMainForm form(env.Setup());
  ASSERT_EQ(form.lbSources->count(), 3);
  form.lbSources->setCurrentRow(1);
  form.btnRemoveSource->click();
  EXPECT_EQ(Value(Ini(), "Connection2", "Server"), "b.example.net");
  EXPECT_EQ(Value(Ini(), "Connection2", "RfQuietMinutes"), "5");
  EXPECT_EQ(Value(Ini(), "Connection3", "Server"), "<missing>");
}

TEST_F(SettingsWindowTest, InvalidPortOrPaceIsReportedAndNothingReconnects) {
  const std::string port = "The port must be a number from 1 to 65535, or empty for the usual one";
  const std::string pace = "Packets per second must be a number, 0 or more";
  struct Case {
    const char* port;
    const char* pace;
    std::string error;
  } cases[] = {
      {"70000", "3", port}, {"-1", "3", port},  {"abc", "3", port},    {"8001", "-1", pace},
      {"8001", "x", pace},  {"8001", "", pace}, {"8001", "nan", pace}, {"8001", "inf", pace},
  };
  int made = 0;
  TMainFormSetup setup = env.Setup();
  const auto makeHost = setup.CreateHost;
  setup.CreateHost = [&](const THostSettings& s) {
    ++made;
    return makeHost(s);
  };
  TMainForm form(setup);
  test::TFakeHost* host = env.Host;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("port '") + c.port + "', pace '" + c.pace + "'");
    env.Errors.clear();
    form.cbxTransport->setCurrentIndex(2);
    form.edPort->setText(QString::fromLatin1(c.port));
    form.edPace->setText(QString::fromLatin1(c.pace));
    form.btnApplyConnection->click();
    EXPECT_EQ(env.Errors, QStringList{QString::fromStdString(c.error)});
    EXPECT_EQ(made, 1);
    EXPECT_EQ(env.Host, host);
    EXPECT_EQ(env.HostSettings.Transport, THostSettings::htReplay);
    EXPECT_EQ(Ini(), kVersionOnly);
  }
}

// A login the server would refuse or mangle is stopped at the window and never stored.
TEST_F(SettingsWindowTest, BadCallsignOrFilterIsReportedAndNotStored) {
  struct Case {
    const char* call;
    const char* filter;
    const char* error;  // nullptr: applied
  } cases[] = {
      {"MY CALL 123456789", "t/m", "\"MY CALL 123456789\" is not a callsign"},
      {"", "t/m", "The APRS-IS server needs your callsign to log in"},
      {"N0CALL-1", "t/m\xC2\xA0m/50", "The filter may hold printable ASCII characters only"},
      {"n0call-10", "t/m m/50", nullptr},
  };
  TMainForm form(env.Setup());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    env.Errors.clear();
    form.cbxTransport->setCurrentIndex(form.cbxTransport->findData(int(THostSettings::htAprsIs)));
    EXPECT_TRUE(form.edFilter->isEnabled());
    EXPECT_FALSE(form.edCaptureFile->isEnabled());
    form.edCallsign->setText(QString::fromUtf8(c.call));
    form.edFilter->setText(QString::fromUtf8(c.filter));
    form.btnApplyConnection->click();
    if (c.error) {
      ASSERT_EQ(env.Errors.size(), 1);
      EXPECT_TRUE(env.Errors.front().startsWith(QString::fromUtf8(c.error)))
          << env.Errors.front().toStdString();
      EXPECT_EQ(Ini(), kVersionOnly);
    } else {
      EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
      EXPECT_EQ(env.HostSettings.Callsign, "N0CALL-10");
      EXPECT_EQ(env.HostSettings.EffectiveServer(), "rotate.aprs2.net");
      EXPECT_EQ(env.HostSettings.EffectivePort(), 14580);
      EXPECT_NE(Ini().find("Callsign=N0CALL-10\r\n"), std::string::npos);
    }
  }
}

// Answering is off until ticked, and Apply takes it only with a callsign that may transmit and,
// for APRS-IS, a passcode; the file keeps it, and keeps it off once unticked.
TEST_F(SettingsWindowTest, AnswerIsTickedOnlyWithALicensedCallAndItsPasscode) {
  struct Case {
    THostSettings::TTransport transport;
    const char* call;
    const char* passcode;
    bool answer;
    const char* error;  // nullptr: applied
  } cases[] = {
      {THostSettings::htKissTcp, "N0CALL-5", "", true, "Answering sends as your callsign"},
      {THostSettings::htKissTcp, "EOC", "", true, "Answering sends as your callsign"},
      {THostSettings::htAprsIs, "Q1ABC-7", "", true, "Answering over APRS-IS needs the passcode"},
      {THostSettings::htAprsIs, "Q1ABC-7", "40000", true, "The passcode must be a number from 0 to 32767"},
      {THostSettings::htAprsIs, "Q1ABC-7", "12345", true, nullptr},
      {THostSettings::htKissTcp, "Q1ABC-7", "12345", false, nullptr},
  };
  TMainForm form(env.Setup());
  EXPECT_FALSE(form.cbAnswer->isChecked());
  EXPECT_TRUE(form.cbAnswer->isHidden());  // the first start replays the demo, which never answers
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " " + c.passcode);
    env.Errors.clear();
    form.cbxTransport->setCurrentIndex(form.cbxTransport->findData(int(c.transport)));
    form.edCallsign->setText(QString::fromUtf8(c.call));
    EXPECT_EQ(form.cbAnswer->text(), QStringLiteral("Answer messages to ") + c.call);
    form.edPasscode->setText(QString::fromUtf8(c.passcode));
    form.cbAnswer->setChecked(c.answer);
    const std::string before = Ini();
    form.btnApplyConnection->click();
    if (c.error) {
      ASSERT_EQ(env.Errors.size(), 1);
      EXPECT_TRUE(env.Errors.front().startsWith(QString::fromUtf8(c.error)))
          << env.Errors.front().toStdString();
      EXPECT_EQ(Ini(), before);
    } else {
      EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
      EXPECT_EQ(env.HostSettings.AnswerMessages, c.answer);
      EXPECT_EQ(env.HostSettings.Passcode, 12345);
      EXPECT_NE(
          Ini().find(std::string("AnswerMessages=") + (c.answer ? "1" : "0") + "\r\nPasscode=12345\r\n"),
          std::string::npos)
          << Ini();
    }
  }
}

// The speed list offers the usual speeds; a typed one outside them is refused, whatever the source.
TEST_F(SettingsWindowTest, OnlyTheUsualSerialSpeedsAreApplied) {
  const struct {
    const char* Baud;
    bool Applied;
  } cases[] = {{"12", false}, {"4000000", false}, {"", false}, {"300", true}, {"230400", true}};
  TMainForm form(env.Setup());
  QStringList offered;
  for (int i = 0; i < form.cbxSerialBaud->count(); ++i) offered << form.cbxSerialBaud->itemText(i);
  EXPECT_EQ(offered.join(' '), QStringLiteral("300 1200 2400 4800 9600 19200 38400 57600 115200 230400"));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Baud);
    env.Errors.clear();
    form.cbxTransport->setCurrentIndex(form.cbxTransport->findData(int(THostSettings::htKissSerial)));
    form.cbxSerialDevice->setCurrentText(QStringLiteral("/dev/ttyUSB0"));
    form.cbxSerialBaud->setCurrentText(QString::fromLatin1(c.Baud));
    form.btnApplyConnection->click();
    if (c.Applied) {
      EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
      EXPECT_EQ(env.HostSettings.SerialBaud, std::stoi(c.Baud));
    } else {
      EXPECT_EQ(env.Errors,
                QStringList{QStringLiteral("The serial speed must be one of 300, 1200, 2400, 4800, 9600, "
                                           "19200, 38400, 57600, 115200 or 230400 bits a second")});
      EXPECT_NE(env.HostSettings.SerialBaud, std::atoi(c.Baud));
    }
  }
}

TEST_F(SettingsWindowTest, DamagedConnectionSectionFallsBackToTheUsualValues) {
  struct Case {
    const char* name;
    const char* section;
    THostSettings::TTransport transport;
    int port;
    double pace;
    const char* device = "/dev/ttyUSB0";
    int baud = 9600;
    int rfQuietMs = 30 * 60000;
    bool notMade = false;  // no link, the section named instead
  } cases[] = {
      {"names ignore case", "Transport=KISS-TCP\r\nPort=8001\r\nPace=10\r\n", THostSettings::htKissTcp, 8001,
       10},
      {"unknown transport", "Transport=serial\r\n", THostSettings::htReplay, 0, 3, "/dev/ttyUSB0", 9600,
       30 * 60000, true},
      {"port out of range", "Transport=aprs-is\r\nPort=70000\r\n", THostSettings::htAprsIs, 0, 3},
      {"negative port", "Port=-5\r\n", THostSettings::htReplay, 0, 3},
      {"pace no number", "Pace=fast\r\n", THostSettings::htReplay, 0, 3},
      {"pace negative", "Pace=-2\r\n", THostSettings::htReplay, 0, 3},
      {"pace not finite", "Pace=nan\r\n", THostSettings::htReplay, 0, 3},
      {"pace endless", "Pace=inf\r\n", THostSettings::htReplay, 0, 3},
      {"serial TNC", "Transport=kiss-serial\r\nSerialDevice=/dev/ttyACM1\r\nSerialBaud=1200\r\n",
       THostSettings::htKissSerial, 0, 3, "/dev/ttyACM1", 1200},
      {"serial speed zero", "SerialBaud=0\r\n", THostSettings::htReplay, 0, 3},
      {"serial speed negative", "SerialBaud=-9600\r\n", THostSettings::htReplay, 0, 3},
      {"serial speed no number", "SerialBaud=fast\r\n", THostSettings::htReplay, 0, 3},
      {"serial speed no TNC offers", "SerialBaud=12\r\n", THostSettings::htReplay, 0, 3},
      {"radio quiet for 2 h", "RfQuietMinutes=120\r\n", THostSettings::htReplay, 0, 3, "/dev/ttyUSB0", 9600,
       120 * 60000},
      {"radio never quiet", "RfQuietMinutes=0\r\n", THostSettings::htReplay, 0, 3, "/dev/ttyUSB0", 9600, 0},
      {"radio quiet negative", "RfQuietMinutes=-1\r\n", THostSettings::htReplay, 0, 3},
      {"radio quiet a whole day", "RfQuietMinutes=1440\r\n", THostSettings::htReplay, 0, 3, "/dev/ttyUSB0",
       9600, 1440 * 60000},
      {"radio quiet over a day", "RfQuietMinutes=1441\r\n", THostSettings::htReplay, 0, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(env.IniFile(), std::string("[Connection]\r\n") + c.section);
    env.HostSettings = THostSettings{};  // what the link is made with, if one is
    TMainForm form(env.Setup());
    if (c.notMade) {
      EXPECT_EQ(env.Errors, QStringList{QString::fromStdString(UnknownTransportText(0, "serial"))});
      env.Errors.clear();
    }
    EXPECT_EQ(env.HostSettings.Transport, c.transport);
    EXPECT_EQ(env.HostSettings.Port, c.port);
    EXPECT_EQ(env.HostSettings.Pace, c.pace);
    EXPECT_EQ(env.HostSettings.SerialDevice, c.device);
    EXPECT_EQ(env.HostSettings.SerialBaud, c.baud);
    EXPECT_EQ(env.HostSettings.RfQuietWarnMs, c.rfQuietMs);
    // The page shows the port in use: the transport's usual one when none is stored.
    const int shown = env.HostSettings.EffectivePort();
    EXPECT_EQ(form.edPort->text(), shown == 0 ? QString() : QString::number(shown));
    EXPECT_EQ(form.edPace->text(), QString::number(c.pace));
    EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
  }
}

TEST_F(SettingsWindowTest, ALongConnectionStateNeverWidensTheWindow) {
  TMainForm form(env.Setup());
  const QString longState =
      QStringLiteral("Replaying ") + QString(QStringLiteral("/a-long-folder-name")).repeated(20);
  emit env.Host->StateChanged(longState);
  EXPECT_EQ(form.lblConnectionState->text(), longState);
  form.PageControl1->setCurrentWidget(form.tsConnection);
  form.show();
  EXPECT_LE(form.minimumSizeHint().width(), 680);
  EXPECT_LE(form.width(), 680);
}

// --- A stored window state at start ---------------------------------------------------

TEST_F(SettingsWindowTest, StoredWindowStateAtStart) {
  const int ppi = ScreenPpi();
  struct Case {
    const char* name;
    int ppi;
    const char* showCmd;
    const char* normalPos;
    bool minimized;
    bool maximized;
    bool placed;
  } cases[] = {
      {"normal", ppi, "1", "100,80,700,530", false, false, true},
      {"minimised", ppi, "2", "100,80,700,530", true, false, true},
      {"minimised, old style", ppi, "6", "100,80,700,530", true, false, true},
      {"maximised", ppi, "3", "100,80,700,530", false, true, true},
      {"no place: show state ignored", ppi, "2", "", false, false, false},
      {"right not past left", ppi, "1", "10,10,5,400", false, false, false},
      {"another screen", ppi + 48, "2", "100,80,700,530", false, false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(env.IniFile(), std::string("[FormState]\r\nFlags=0\r\nShowCmd=") + c.showCmd +
                                 "\r\nNormalPos=" + c.normalPos +
                                 "\r\nPixelsPerInch=" + std::to_string(c.ppi) + "\r\nColor=-16777201\r\n");
    TMainForm form(env.Setup());
    EXPECT_EQ(form.StartMinimized(), c.minimized);
    EXPECT_EQ(form.isMaximized(), c.maximized);
    // A maximised window keeps the stored place as its normal one.
    EXPECT_EQ(form.geometry() == QRect(100, 80, 600, 450), c.placed);
    if (!c.placed) {
      EXPECT_EQ(form.size(), QSize(680, 449));
    }
  }
}

// A window minimised from maximised comes back maximised; a place on no screen that exists
// is moved onto one, so the window never opens where nobody sees it.
TEST_F(SettingsWindowTest, StoredPlacementFlagsAndAPlaceOffEveryScreen) {
  const std::string ppi = std::to_string(ScreenPpi());
  const struct {
    const char* name;
    const char* section;
    bool maximized;
  } cases[] = {
      {"minimised from maximised", "Flags=2\r\nShowCmd=2\r\nNormalPos=50,80,750,530\r\n", true},
      {"minimised from normal", "Flags=0\r\nShowCmd=2\r\nNormalPos=50,80,750,530\r\n", false},
      {"far off every screen", "Flags=0\r\nShowCmd=1\r\nNormalPos=-20000,-20000,-19300,-19550\r\n", false},
      {"beyond the right edge", "Flags=0\r\nShowCmd=1\r\nNormalPos=30000,80,30700,530\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(env.IniFile(), std::string("[FormState]\r\n") + c.section + "PixelsPerInch=" + ppi + "\r\n");
    TMainForm form(env.Setup());
    form.ShowInitially(form.StartMinimized());
    if (form.StartMinimized()) form.miRestoreClick();
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(form.isMaximized(), c.maximized);
    if (!c.maximized) {
      EXPECT_TRUE(form.screen()->availableGeometry().contains(form.geometry())) << c.name;
      EXPECT_EQ(form.size(), QSize(700, 450));
    }
  }
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(SettingsWindowTest, StoredMinimisedStartsInTheTrayOrMinimisedInTheTaskbar) {
  WriteFile(env.IniFile(),
            "[FormState]\r\nFlags=0\r\nShowCmd=2\r\nNormalPos=120,90,820,540\r\nPixelsPerInch=" +
                std::to_string(ScreenPpi()) + "\r\n");
  for (bool tray : {true, false}) {
    SCOPED_TRACE(tray ? "with a notification area" : "without one");
    TMainFormSetup setup = env.Setup();
    setup.TrayAvailable = [tray] { return tray; };
    TMainForm form(setup);
    ASSERT_TRUE(form.StartMinimized());
    form.ShowInitially(form.StartMinimized());
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.FTrayIcon->isVisible());
    EXPECT_EQ(form.isVisible(), !tray);
    if (!tray) {
      EXPECT_TRUE(form.isMinimized());
    }
    // Ending from the tray keeps the program in the tray for the next start.
    form.FormDestroy();
    EXPECT_EQ(Value(Ini(), "FormState", "ShowCmd"), "2");
    EXPECT_EQ(Value(Ini(), "FormState", "NormalPos"), "120,90,820,540");
  }
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

}  // namespace
}  // namespace qm
