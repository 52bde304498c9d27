#include "app/MainForm.h"

#include <gtest/gtest.h>
#include <QCheckBox>
#include <QComboBox>
#include <QEnterEvent>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <iterator>
#include <stdexcept>

#include "generated/QuillmarkVersion.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/QtTestApp.h"
#include "widgets/PayPalLabel.h"

namespace qm {
namespace {

// A window whose failures are collected instead of shown in a box.
struct TFormFixture : public ::testing::Test {
  TMainFormSetup FormSetup() {
    TMainFormSetup s = env.Setup();
    s.ReportError = [this](const QString& m) { errors << m; };
    return s;
  }
  test::TFormEnvironment env;
  QStringList errors;
};

using MainFormTest = TFormFixture;

template <typename W>
W* Find(TMainForm& form, const char* name) {
  return form.findChild<W*>(QString::fromLatin1(name));
}

TEST_F(MainFormTest, CheckBoxesStartAsDesigned) {
  TMainForm form(FormSetup());
  struct Case {
    const char* name;
    QCheckBox* member;
    const char* caption;
    const char* hint;
    bool checked;
  } cases[] = {
      {"cbDisablePrinting", form.cbDisablePrinting, "Disable printing", "Disable printing received messages",
       false},
      {"cbThisStation", form.cbThisStation, "Messages to and from this station",
       "Collect messages sent to this station", true},
      {"cbBeepOnReceive", form.cbBeepOnReceive, "Beep on received message",
       "Sound an alarm whenever a message arrives", false},
      {"cbBull", form.cbBull, "All Bulletins", "All bulletins will be printed", false},
      {"cbAnn", form.cbAnn, "All Announcements", "All announcements will be printed", false},
      {"cbStationList", form.cbStationList,
       "Messages to and from:", "Collect messages to/from the below listed items", false},
      {"cbNWSWatches", form.cbNWSWatches, "Watches", "Watches for selected states will be printed", false},
      {"cbNWSWarnings", form.cbNWSWarnings, "Warnings", "Warnings for selected states will be printed",
       false},
      {"cbNWSAdvisiories", form.cbNWSAdvisiories, "Advisories",
       "Advisories for selected states will be printed", false},
      {"cbNWSWatchesPrint", form.cbNWSWatchesPrint, "Print full text of watch",
       "Uses finger to retrieve full text of alert", false},
      {"cbNWSWarningsPrint", form.cbNWSWarningsPrint, "Print full text of warning",
       "Uses finger to retrieve full text of alert", false},
      {"cbNWSAdvisioriesPrint", form.cbNWSAdvisioriesPrint, "Print full text of advisory",
       "Uses finger to retrieve full text of alert", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.member, nullptr);
    EXPECT_EQ(Find<QCheckBox>(form, c.name), c.member);
    EXPECT_EQ(c.member->text(), QString::fromUtf8(c.caption));
    EXPECT_EQ(c.member->statusTip(), QString::fromUtf8(c.hint));
    EXPECT_EQ(c.member->toolTip(), QString::fromUtf8(c.hint));
    EXPECT_EQ(c.member->isChecked(), c.checked);
  }
}

TEST_F(MainFormTest, ButtonsCarryTheirCaptionsAndHints) {
  TMainForm form(FormSetup());
  struct Case {
    const char* name;
    QPushButton* member;
    const char* caption;
    const char* hint;
  } cases[] = {
      {"btnClearMessages", form.btnClearMessages, "Clear message window", "Clear the message list"},
      {"btnPrintNow", form.btnPrintNow, "Print messages in list now", "Force printing of messages"},
      {"btnAdd", form.btnAdd, "Add", "Add entry to list"},
      {"btnRemove", form.btnRemove, "Remove", "Remove selected list item from list"},
      {"btnSaveSettings1", form.btnSaveSettings1, "Save", "Save settings"},
      {"btnAllStates", form.btnAllStates, "All", "Select (check) all states"},
      {"btnNoneStates", form.btnNoneStates, "None", "Unselect (uncheck) all states"},
      {"btnSaveSettings2", form.btnSaveSettings2, "Save", "Save settings"},
      {"btnApplyConnection", form.btnApplyConnection, "Apply", "Connect with these settings"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.member, nullptr);
    EXPECT_EQ(Find<QPushButton>(form, c.name), c.member);
    EXPECT_EQ(c.member->text(), QString::fromUtf8(c.caption));
    EXPECT_EQ(c.member->statusTip(), QString::fromUtf8(c.hint));
  }
}

TEST_F(MainFormTest, EditsAndLabelsStartAsDesigned) {
  TMainForm form(FormSetup());
  struct EditCase {
    const char* name;
    QLineEdit* member;
    const char* text;
    const char* hint;
  } edits[] = {
      {"edMsgCount", form.edMsgCount, "20", "Number of messages to hold before printing a full page"},
      {"edStation", form.edStation, "",
       "Enter items here to add to the list (a single trailing wild card \"*\" character is allowed)"},
      // The demo replay uses no server; the operator's callsign is asked for.
      {"edServer", form.edServer, "", nullptr},
      {"edPort", form.edPort, "", nullptr},
      {"edCallsign", form.edCallsign, "", nullptr},
      {"edFilter", form.edFilter, "t/m", nullptr},
      {"edCaptureFile", form.edCaptureFile, "", nullptr},
      {"edPace", form.edPace, "3", nullptr},
  };
  for (const auto& c : edits) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.member, nullptr);
    EXPECT_EQ(Find<QLineEdit>(form, c.name), c.member);
    EXPECT_EQ(c.member->text(), QString::fromUtf8(c.text));
    if (c.hint) {
      EXPECT_EQ(c.member->statusTip(), QString::fromUtf8(c.hint));
    }
    EXPECT_FALSE(c.member->statusTip().isEmpty());
  }
  struct LabelCase {
    const char* name;
    QLabel* member;
    const char* text;
  } labels[] = {
      // Read from the host as the window is made.
      {"lblStationCall", form.lblStationCall, "[NOCALL-9]"},
      {"lbMsgStatus", form.lbMsgStatus, "0 of ?? messages collected"},
      {"Label1", form.Label1, "Printed messages per page"},
      {"Label2", form.Label2, "Requires internet connection"},
      {"lblConnectionState", form.lblConnectionState, "Not connected"},
  };
  for (const auto& c : labels) {
    SCOPED_TRACE(c.name);
    ASSERT_NE(c.member, nullptr);
    EXPECT_EQ(Find<QLabel>(form, c.name), c.member);
    EXPECT_EQ(c.member->text(), QString::fromUtf8(c.text));
  }
  EXPECT_TRUE(form.Label2->font().underline());
  EXPECT_EQ(Find<QComboBox>(form, "cbxTransport"), form.cbxTransport);
  EXPECT_EQ(form.cbxTransport->count(), 4);
  EXPECT_EQ(form.cbxTransport->itemText(0), QStringLiteral("Replay a capture file"));
  EXPECT_EQ(form.cbxTransport->itemText(1), QStringLiteral("APRS-IS server"));
  EXPECT_EQ(form.cbxTransport->itemText(2), QStringLiteral("KISS TNC over TCP"));
  EXPECT_EQ(form.cbxTransport->itemText(3), QStringLiteral("KISS TNC on a serial port"));
}

TEST_F(MainFormTest, StationEditTurnsTypedLettersIntoCapitals) {
  TMainForm form(FormSetup());
  QTest::keyClicks(form.edStation, QStringLiteral("nocall-9*"));
  EXPECT_EQ(form.edStation->text(), QStringLiteral("NOCALL-9*"));
  form.edStation->clear();
  QTest::keyClicks(form.edStation, QStringLiteral("wx"));
  QKeyEvent accented(QEvent::KeyPress, Qt::Key_Eacute, Qt::NoModifier, QStringLiteral("\u00e9"));
  QCoreApplication::sendEvent(form.edStation, &accented);
  EXPECT_EQ(form.edStation->text(), QStringLiteral("WX\u00c9"));
}

TEST_F(MainFormTest, PagesGroupsAndLists) {
  TMainForm form(FormSetup());
  ASSERT_EQ(form.PageControl1->count(), 6);
  const char* pages[] = {"Message Options", "NWS Options", "Connection", "Alarms", "Board", "About"};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(form.PageControl1->tabText(i), QString::fromLatin1(pages[i]));
  // Without a settings file the window opens where the operator says who and where from.
  EXPECT_TRUE(form.FirstStart());
  EXPECT_EQ(form.PageControl1->currentWidget(), form.tsConnection);

  struct GroupCase {
    const char* name;
    QGroupBox* member;
    const char* title;
  } groups[] = {
      {"gbPrinter", form.gbPrinter, "Printer"},
      {"gbGroups", form.gbGroups, "Groups"},
      {"gbNwsMessage", form.gbNwsMessage, "NWS Message"},
      {"gbFinger", form.gbFinger, "Finger wxsvr.ae5pl.net"},
      {"gbStates", form.gbStates, " Selected States "},
      {"gbPages", form.gbPages, ""},
  };
  for (const auto& g : groups) {
    SCOPED_TRACE(g.name);
    EXPECT_EQ(Find<QGroupBox>(form, g.name), g.member);
    EXPECT_EQ(g.member->title(), QString::fromLatin1(g.title));
  }
  EXPECT_EQ(form.gbPrinter->size(), QSize(169, 169));

  EXPECT_TRUE(form.cbxPrinter->isEditable());
  EXPECT_EQ(form.cbxPrinter->currentText(), QStringLiteral("(default)"));
  EXPECT_EQ(form.cbxPrinter->statusTip(), QStringLiteral("The printer used when printing messages"));
  EXPECT_EQ(form.lbStationList->count(), 0);
  EXPECT_EQ(form.lbStationList->statusTip(), QStringLiteral("Messages to and from these items are captured"));

  const char* codes[] = {"AK", "AL", "AR", "AZ", "CA", "CO", "CT", "DE", "FL", "GA", "HI", "IA", "ID",
                         "IL", "IN", "KS", "KY", "LA", "MA", "MD", "ME", "MI", "MN", "MO", "MS", "MT",
                         "NC", "ND", "NE", "NH", "NJ", "NM", "NV", "NY", "OH", "OK", "OR", "PA", "PR",
                         "RI", "SC", "SD", "TN", "TX", "UT", "VA", "VI", "VT", "WA", "WI", "WV", "WY"};
  ASSERT_EQ(form.clbStates->count(), 52);
  EXPECT_TRUE(form.clbStates->isSortingEnabled());
  EXPECT_EQ(form.clbStates->statusTip(), QStringLiteral("List of states - checked states are considered"));
  for (int i = 0; i < 52; ++i) {
    SCOPED_TRACE(codes[i]);
    QListWidgetItem* item = form.clbStates->item(i);
    EXPECT_EQ(item->text(), QString::fromLatin1(codes[i]));
    EXPECT_EQ(item->checkState(), Qt::Unchecked);
    EXPECT_TRUE(item->flags() & Qt::ItemIsUserCheckable);
  }
  // A code added later still lands in its sorted place.
  form.clbStates->addItem(QStringLiteral("AA"));
  EXPECT_EQ(form.clbStates->item(0)->text(), QStringLiteral("AA"));
}

// On the short page more than half the codes show at once, a click on a box checks it, and
// the buttons sit in the group's title line, clear of the list.
TEST_F(MainFormTest, StatesListShowsMoreThanHalfTheCodes) {
  TMainForm form(FormSetup());
  form.PageControl1->setCurrentWidget(form.tsNwsOptions);
  form.show();
  QCoreApplication::processEvents();
  QListWidget* list = form.clbStates;
  const QRect view = list->viewport()->rect();
  int shown = 0;
  for (int i = 0; i < list->count(); ++i) shown += view.contains(list->visualItemRect(list->item(i)));
  EXPECT_GE(shown, 26);
  for (QPushButton* button : {form.btnAllStates, form.btnNoneStates}) {
    SCOPED_TRACE(button->text().toStdString());
    EXPECT_TRUE(button->isVisible());
    EXPECT_LE(button->geometry().bottom(), list->geometry().top());
    EXPECT_TRUE(form.gbStates->rect().contains(button->geometry()));
  }
  EXPECT_LT(form.gbStates->fontMetrics().horizontalAdvance(form.gbStates->title()), form.btnAllStates->x());

  QListWidgetItem* item = list->item(5);
  const QRect cell = list->visualItemRect(item);
  const QPoint box(cell.left() + 8, cell.center().y());
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
  EXPECT_EQ(item->checkState(), Qt::Checked);
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
  EXPECT_EQ(item->checkState(), Qt::Unchecked);
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(MainFormTest, MessageListAndFonts) {
  TMainForm form(FormSetup());
  TMessageList* list = form.MessageList;
  EXPECT_EQ(Find<QListView>(form, "MessageList"), list);
  EXPECT_EQ(list->editTriggers(), QAbstractItemView::NoEditTriggers);
  EXPECT_EQ(list->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(list->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(list->palette().color(QPalette::Base), QColor(160, 160, 164));
  EXPECT_EQ(list->statusTip(), QStringLiteral("Received messages that have not yet been printed"));
  EXPECT_EQ(form.MessageLineCount(), 0);

  const QFontInfo mono(list->font());
  EXPECT_EQ(mono.family(), QStringLiteral("Liberation Mono"));
  EXPECT_EQ(mono.pointSize(), 10);
  EXPECT_TRUE(mono.fixedPitch());
  const QFontInfo sans(form.font());
  EXPECT_EQ(sans.family(), QStringLiteral("Liberation Sans"));
  EXPECT_EQ(sans.pointSize(), 8);
  EXPECT_EQ(QFontInfo(form.cbThisStation->font()).family(), QStringLiteral("Liberation Sans"));

  EXPECT_EQ(form.size(), QSize(680, 449));
}

TEST_F(MainFormTest, CaptionAndStatusPanels) {
  EXPECT_EQ(VersionCaption(1, 3, 3), QStringLiteral("Quillmark v1.3.3"));
  EXPECT_EQ(VersionCaption(10, 0, 27), QStringLiteral("Quillmark v10.0.27"));

  TMainForm form(FormSetup());
  EXPECT_EQ(form.windowTitle(), VersionCaption(version::Major, version::Minor, version::Release));
  EXPECT_TRUE(form.windowTitle().startsWith(QStringLiteral("Quillmark v")));
  EXPECT_EQ(form.PanelText(0), QStringLiteral(" ") + QString::fromUtf8(version::LegalCopyright));
  EXPECT_EQ(form.PanelText(1), QStringLiteral("Local"));
  EXPECT_EQ(form.PanelText(2), QStringLiteral("UTC"));
  EXPECT_EQ(form.PanelText(3), QString());
  EXPECT_EQ(form.statusBar(), form.StatusBar);
  EXPECT_FALSE(form.HintBar->isSizeGripEnabled());
  const int widths[] = {200, 150, 150};
  for (int i = 0; i < 3; ++i) {
    auto* panel = form.StatusBar->findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(i));
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->width(), widths[i]);
  }
}

TEST_F(MainFormTest, ResizingWidensThePagesAndGrowsTheList) {
  TMainForm form(FormSetup());
  form.show();
  QCoreApplication::processEvents();
  EXPECT_EQ(form.size(), QSize(680, 449));
  const QSize printer = form.gbPrinter->size(), pages = form.gbPages->size(), list = form.MessageList->size();
  form.resize(880, 600);
  QCoreApplication::processEvents();
  EXPECT_EQ(form.gbPrinter->size(), printer);
  EXPECT_EQ(form.gbPages->width(), pages.width() + 200);
  EXPECT_EQ(form.gbPages->height(), pages.height());
  EXPECT_EQ(form.MessageList->width(), list.width() + 200);
  EXPECT_EQ(form.MessageList->height(), list.height() + 151);
}

TEST_F(MainFormTest, HintBarShowsTheHintOfTheControlUnderThePointer) {
  TMainForm form(FormSetup());
  form.show();
  const auto enter = [](QWidget* w) {
    QEnterEvent e(QPointF(2, 2), QPointF(2, 2), w->mapToGlobal(QPointF(2, 2)));
    QCoreApplication::sendEvent(w, &e);
  };
  const auto leave = [](QWidget* w) {
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(w, &e);
  };
  enter(form.cbBull);
  EXPECT_EQ(form.HintText(), QStringLiteral("All bulletins will be printed"));
  const QString panel1 = form.PanelText(1);
  leave(form.cbBull);
  enter(form.btnPrintNow);
  EXPECT_EQ(form.HintText(), QStringLiteral("Force printing of messages"));
  EXPECT_EQ(form.PanelText(1), panel1);  // the clock panels are not written over
  leave(form.btnPrintNow);
  EXPECT_EQ(form.HintText(), QString());

  form.SetHintText(QStringLiteral("NOCALL-9> :NOCALL   :hello{1"));
  EXPECT_EQ(form.HintText(), QStringLiteral("NOCALL-9> :NOCALL   :hello{1"));
}

TEST_F(MainFormTest, AboutPageAndDonationLink) {
  TMainForm form(FormSetup());
  EXPECT_TRUE(form.Memo1->isReadOnly());
  EXPECT_EQ(form.Memo1->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(form.Memo1->palette().color(QPalette::Base), form.Memo1->palette().color(QPalette::Window));
  const QString about = form.Memo1->toPlainText();
  for (const char* part :
       {"\"Connection\"", "NOCALL*", "\"NWS Options\"", "Finger", "Printed messages per page"})
    EXPECT_TRUE(about.contains(QString::fromLatin1(part))) << part;

  TPayPalLabel* link = form.PayPalLabel1;
  EXPECT_EQ(Find<TPayPalLabel>(form, "PayPalLabel1"), link);
  EXPECT_EQ(link->text(), QStringLiteral("If you like Quillmark consider making a donation"));
  EXPECT_EQ(link->LinkColor(), QColor(255, 0, 0));
  EXPECT_EQ(link->FontColor(), QColor(255, 0, 0));
  EXPECT_EQ(link->VLinkColor(), QColor(0, 0, 128));
  EXPECT_TRUE(link->font().underline());
  EXPECT_EQ(link->Product(), QStringLiteral("Quillmark"));
  EXPECT_EQ(link->Company(), QString::fromLatin1(kDonationCompany));
  EXPECT_EQ(link->Email(), QString::fromLatin1(kDonationEmail));
}

TEST_F(MainFormTest, CreationConnectsTheHostFirstAndRestoresLast) {
  TMainFormSetup s = FormSetup();
  QStringList order;
  const auto makeHost = s.CreateHost;
  s.CreateHost = [&](const THostSettings& settings) {
    // The host link connects before the window's creation handler writes the version.
    std::ifstream ini(env.IniFile());
    order << (ini ? QStringLiteral("host after version") : QStringLiteral("host"));
    return makeHost(settings);
  };
  TMainForm form(s);
  ASSERT_NE(env.Host, nullptr);
  EXPECT_EQ(env.Host->Starts, 1);
  EXPECT_EQ(order, QStringList{QStringLiteral("host")});
  std::ifstream ini(env.IniFile(), std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(ini)), std::istreambuf_iterator<char>());
  EXPECT_EQ(text, "[Info]\r\nVersion=1.3.3.1\r\n");  // nothing else until a save
  EXPECT_TRUE(form.Desk().Logging());
  EXPECT_EQ(form.Desk().RepeatCount(), 0u);
  EXPECT_EQ(form.cbxPrinter->count(), 1);
  EXPECT_EQ(form.cbxPrinter->currentText(), QStringLiteral("(default)"));
  ASSERT_NE(form.FProperties, nullptr);
  EXPECT_TRUE(form.FProperties->Restored());
  EXPECT_TRUE(form.FWindowState->Restored());
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(MainFormTest, FailedVersionRecordIsReportedAndStartGoesOn) {
  TMainFormSetup s = FormSetup();
  // A settings file below a regular file can never be written.
  const std::string blocker = env.Dir.path().toStdString() + "/blocker";
  std::ofstream(blocker) << "x";
  s.IniFile = blocker + "/Quillmark.ini";
  TMainForm form(s);
  ASSERT_FALSE(errors.isEmpty());
  EXPECT_EQ(errors.front(), QString::fromStdString("Unable to write to " + s.IniFile));
  EXPECT_TRUE(form.Desk().Logging());
  EXPECT_EQ(form.cbxPrinter->count(), 1);
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Quillmark v1.3.3"));
}

// Picking an entry chooses its printer; typed text names none, so the system default serves,
// and Return never adds it to the list. The set-up dialog opens on every change.
TEST_F(MainFormTest, PrinterBoxTypedTextMeansTheDefaultPrinter) {
  TMainFormSetup s = FormSetup();
  s.Printers = TPrinterList{{QStringLiteral("Office"), QStringLiteral("Shack")}, QStringLiteral("Shack")};
  TMainForm* shown = nullptr;
  QStringList dialogs;  // the current printer each set-up dialog opened on
  s.PrinterSetup = [&](QPrinter&) {
    dialogs << shown->Desk().PrinterName();
    return false;
  };
  TMainForm form(s);
  shown = &form;
  form.show();
  form.cbxPrinter->setCurrentIndex(0);
  EXPECT_EQ(form.Desk().PrinterName(), QStringLiteral("Office"));
  QTest::keyClicks(form.cbxPrinter->lineEdit(), QStringLiteral("xy"));
  QTest::keyClick(form.cbxPrinter->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(form.cbxPrinter->currentText(), QStringLiteral("Officexy"));
  EXPECT_EQ(form.cbxPrinter->currentIndex(), -1);
  EXPECT_EQ(form.cbxPrinter->count(), 2);
  EXPECT_EQ(form.Desk().PrinterName(), QStringLiteral("Shack"));
  form.cbxPrinter->setCurrentIndex(0);  // the same entry again counts as a choice
  EXPECT_EQ(dialogs, (QStringList{"Office", "Shack", "Shack", "Office"}));
  EXPECT_TRUE(errors.isEmpty()) << errors.join(QStringLiteral("; ")).toStdString();

  // No printer at all: typing finds no default, and that is the only complaint.
  s.Printers = TPrinterList{};
  TMainForm bare(s);
  shown = &bare;
  bare.show();
  QTest::keyClick(bare.cbxPrinter->lineEdit(), Qt::Key_A);
  QTest::keyClick(bare.cbxPrinter->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(bare.cbxPrinter->count(), 0);
  EXPECT_EQ(errors, QStringList{QStringLiteral("There is no default printer currently selected")});
}

// A station program whose object can be neither found nor created: nothing to ask later.
class TUnstartableHost : public test::TFakeHost {
 public:
  void Start() override { throw std::runtime_error("Operation unavailable"); }
  void FillMyInfo(TOwnStation&) override { throw std::runtime_error("Not connected to UI-View32"); }
};

TEST_F(MainFormTest, HostThatCannotStartIsReportedOnceAndShownAsDown) {
  TMainFormSetup s = FormSetup();
  s.CreateHost = [](const THostSettings&) -> std::unique_ptr<THostLink> {
    return std::make_unique<TUnstartableHost>();
  };
  TMainForm form(s);
  for (int showing = 0; showing < 3; ++showing) {
    form.show();
    QCoreApplication::processEvents();
    form.hide();
  }
  EXPECT_EQ(errors, QStringList{QStringLiteral("Operation unavailable")});
  EXPECT_EQ(form.lblConnectionState->text(), QStringLiteral("Not connected: Operation unavailable"));
  EXPECT_EQ(form.lblStationCall->text(), QStringLiteral("[NOCALL]"));
  EXPECT_TRUE(form.FStationCall.empty());
}

TEST_F(MainFormTest, CallsignIsReadAndUpperCasedWhenShown) {
  struct Case {
    const char* name;
    bool hooked;
    std::string answer;
    bool fails;
    const char* stored;
    const char* shown;
  } cases[] = {
      {"no host", false, "", false, "NOCALL-9", "[NOCALL-9]"},
      {"lower case", true, "nocall-9", false, "NOCALL-9", "[NOCALL-9]"},
      {"mixed", true, "NoCall-12", false, "NOCALL-12", "[NOCALL-12]"},
      {"only a to z change", true, "w\xE9x1", false, "W\xE9X1", "[W\u00E9X1]"},
      {"empty answer clears it", true, "", false, "", "[NOCALL]"},
      {"host fails: the last answer stays", true, "x", true, "NOCALL-9", "[NOCALL-9]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    errors.clear();
    TMainForm form(FormSetup());
    // Read from the host as the window is made, before it is ever shown.
    EXPECT_EQ(form.FStationCall, "NOCALL-9");
    EXPECT_EQ(form.lblStationCall->text(), QStringLiteral("[NOCALL-9]"));
    if (!c.hooked)
      form.ReadOwnCallsign = nullptr;
    else
      form.ReadOwnCallsign = [&c]() -> std::string {
        if (c.fails) throw std::runtime_error("Host not reachable");
        return c.answer;
      };
    form.show();
    EXPECT_EQ(form.FStationCall, c.stored);
    EXPECT_EQ(form.lblStationCall->text(), QString::fromUtf8(c.shown));
    EXPECT_EQ(errors.size(), c.fails ? 1 : 0);
  }
}

TEST_F(MainFormTest, CallsignIsReadAgainAtEachShowing) {
  TMainForm form(FormSetup());
  int asked = 0;
  form.ReadOwnCallsign = [&] { return ++asked == 1 ? std::string("nocall") : std::string("nocall-7"); };
  form.show();
  form.hide();
  form.show();
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(form.FStationCall, "NOCALL-7");
}

// Runs the event loop until it ends or a deadline passes; returns the loop's code.
int RunLoopUntilEnded(const std::function<void()>& start) {
  QTimer::singleShot(0, start);
  // A deadline, not a wait; gone with this call, so it never ends a later test's loop.
  QTimer deadline;
  deadline.setSingleShot(true);
  QObject::connect(&deadline, &QTimer::timeout, [] { QCoreApplication::exit(99); });
  deadline.start(5000);
  return QCoreApplication::exec();
}

TEST_F(MainFormTest, HostClosingEndsTheProgramWithoutTheQuestion) {
  TMainForm form(FormSetup());
  int asked = 0, saved = 0;
  form.CloseQuery = [&] {
    ++asked;
    return false;
  };
  form.Closing = [&] { ++saved; };
  form.cbBull->setChecked(true);
  env.Host->Deliver("*N0CALL>APRS::BLN1     :unprinted");
  ASSERT_TRUE(test::WaitFor([&] { return form.MessageLineCount() == 3; }));
  form.show();
  EXPECT_EQ(RunLoopUntilEnded([&] { form.clsUIV1UIView32IsClosing(); }), 0);
  EXPECT_EQ(asked, 0);
  EXPECT_TRUE(form.Ending());
  EXPECT_TRUE(form.close());  // the window goes without asking, too
  EXPECT_EQ(asked, 0);
  EXPECT_EQ(saved, 0);
}

TEST_F(MainFormTest, CloseBoxAsksFirst) {
  TMainForm form(FormSetup());
  bool allow = false;
  int saved = 0;
  form.CloseQuery = [&] { return allow; };
  form.Closing = [&] { ++saved; };
  form.show();
  EXPECT_FALSE(form.close());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(saved, 0);
  form.CloseQuery = []() -> bool { throw std::runtime_error("Printing in progress"); };
  EXPECT_FALSE(form.close());
  EXPECT_EQ(errors, QStringList{QStringLiteral("Printing in progress")});
  form.CloseQuery = [&] { return allow; };
  allow = true;
  EXPECT_TRUE(form.close());
  EXPECT_EQ(saved, 1);
}

TEST_F(MainFormTest, DestructionRunsTheHookOnceAndRemovesTheTrayIcon) {
  int destroyed = 0;
  bool trayShownDuringHook = false;
  {
    TMainForm form(FormSetup());
    QSystemTrayIcon* tray = form.FTrayIcon;
    EXPECT_TRUE(test::WaitFor([&] { return tray->isVisible(); }));
    form.Destroying = [&] {
      ++destroyed;
      trayShownDuringHook = tray->isVisible();
      throw std::runtime_error("disk full");  // must not escape
    };
    form.FormDestroy();
    EXPECT_FALSE(tray->isVisible());
  }  // the destructor does not run it again
  EXPECT_EQ(destroyed, 1);
  EXPECT_TRUE(trayShownDuringHook);
}

TEST_F(MainFormTest, BrowseFillsTheCaptureFile) {
  TMainForm form(FormSetup());
  form.ChooseCaptureFile = [] { return QStringLiteral("/tmp/capture.txt"); };
  form.btnBrowseCapture->click();
  EXPECT_EQ(form.edCaptureFile->text(), QStringLiteral("/tmp/capture.txt"));
  form.ChooseCaptureFile = [] { return QString(); };  // cancelled: keep the file
  form.btnBrowseCapture->click();
  EXPECT_EQ(form.edCaptureFile->text(), QStringLiteral("/tmp/capture.txt"));
}

}  // namespace
}  // namespace qm
