#include "settings/StateKeeper.h"
#include "tests/support/TestStateCodes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>

#include "generated/QuillmarkVersion.h"
#include "settings/SettingsDefaults.h"
#include "tests/support/TempDir.h"

namespace qm {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

// The main window's stored controls with their real names, kinds and defaults.
struct TForm {
  QWidget Form;
  std::map<std::string, QCheckBox*> Boxes;
  QLineEdit* edMsgCount = nullptr;
  QLineEdit* edStation = nullptr;
  QListWidget* lbStationList = nullptr;
  QListWidget* clbStates = nullptr;

  TForm() {
    auto* layout = new QVBoxLayout(&Form);
    for (const char* name : {"cbDisablePrinting", "cbStationList", "cbThisStation", "cbBeepOnReceive",
                             "cbNWSAdvisiories", "cbNWSAdvisioriesPrint", "cbNWSWarnings",
                             "cbNWSWarningsPrint", "cbNWSWatches", "cbNWSWatchesPrint", "cbAnn", "cbBull"}) {
      auto* box = new QCheckBox(name);
      box->setObjectName(name);
      layout->addWidget(box);
      Boxes[name] = box;
    }
    Boxes["cbThisStation"]->setChecked(true);
    edMsgCount = new QLineEdit("20");
    edMsgCount->setObjectName("edMsgCount");
    edStation = new QLineEdit;
    edStation->setObjectName("edStation");
    lbStationList = new QListWidget;
    lbStationList->setObjectName("lbStationList");
    clbStates = new QListWidget;
    clbStates->setObjectName("clbStates");
    clbStates->setSortingEnabled(true);
    for (const auto& code : StateCodes()) {
      auto* item = new QListWidgetItem(QString::fromStdString(code));
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(Qt::Unchecked);
      clbStates->addItem(item);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{edMsgCount, edStation, lbStationList, clbStates}) {
      layout->addWidget(w);
    }
    Form.setGeometry(100, 80, 680, 449);
  }

  QCheckBox& Box(const std::string& name) { return *Boxes.at(name); }

  std::vector<std::string> ListTexts(const QListWidget& list) const {
    std::vector<std::string> texts;
    texts.reserve(static_cast<std::size_t>(list.count()));
    for (int i = 0; i < list.count(); ++i) texts.push_back(list.item(i)->text().toStdString());
    return texts;
  }
  std::vector<std::string> CheckedStates() const {
    std::vector<std::string> codes;
    for (int i = 0; i < clbStates->count(); ++i) {
      if (clbStates->item(i)->checkState() == Qt::Checked)
        codes.push_back(clbStates->item(i)->text().toStdString());
    }
    return codes;
  }
  void Check(const std::string& code, bool on) {
    const auto found = clbStates->findItems(QString::fromStdString(code), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1);
    found.front()->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
};

// The main window's stored properties in the order it saves them.
const std::vector<std::string> kWindowProperties = {"cbDisablePrinting.Checked",
                                                    "lbStationList.Items",
                                                    "cbStationList.Checked",
                                                    "cbThisStation.Checked",
                                                    "edMsgCount.Text",
                                                    "cbBeepOnReceive.Checked",
                                                    "cbNWSAdvisiories.Checked",
                                                    "cbNWSAdvisioriesPrint.Checked",
                                                    "cbNWSWarnings.Checked",
                                                    "cbNWSWarningsPrint.Checked",
                                                    "cbNWSWatches.Checked",
                                                    "cbNWSWatchesPrint.Checked",
                                                    "cbAnn.Checked",
                                                    "cbBull.Checked",
                                                    "clbStates.Items"};

// The main window's keepers wired as the window wires them.
struct TKeepers {
  TSettingsStore Store;
  TWindowStateKeeper Window;
  TPropertyStateKeeper Properties;
  int MinimizeRequests = 0;

  TKeepers(TForm& form, const std::string& iniFile)
      : Store(iniFile), Window(&form.Form, Store), Properties(&form.Form, Store, kWindowProperties) {
    Window.OnMinimizeRequested = [this] { ++MinimizeRequests; };
    Properties.OnRestoreState = [this, &form] { ReadStateList(*form.clbStates, Store); };
    Properties.OnSaveState = [this, &form] { SaveStateList(*form.clbStates, Store); };
  }

  // What creating the main window does with the file.
  void Start() {
    Store.Open();
    Store.WriteString("Info", "Version", version::FileVersion);
    Store.Close();
    Window.RestoreState();
    Properties.RestoreState();
  }
};

int ScreenPpi(QWidget& w) {
  return static_cast<int>(
      std::lround((w.screen() ? w.screen() : QGuiApplication::primaryScreen())->logicalDotsPerInch()));
}

class StateKeeperTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QApplication::instance()) {
      // The test runner is meant to set this; without a display nothing else works.
      if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
      static int argc = 1;
      static char name[] = "state_keeper_test";
      static char* argv[] = {name, nullptr};
      static QApplication app(argc, argv);
    }
  }
  std::string Ini() const { return FDir.File("Quillmark.ini"); }
  TTempDir FDir;
};

TEST_F(StateKeeperTest, FileAfterOneSaveIsByteForByteTheDesignedOne) {
  TForm form;
  TKeepers keepers(form, Ini());
  keepers.Start();
  for (const char* name : {"cbStationList", "cbNWSWarnings", "cbNWSWatches", "cbNWSWatchesPrint", "cbBull"}) {
    form.Box(name).setChecked(true);
  }
  form.lbStationList->addItem("NOCALL*");
  form.lbStationList->addItem("NOCALL-9");
  form.Check("AL", true);
  keepers.Properties.SaveState();
  EXPECT_TRUE(keepers.Properties.SavedSinceRestore());
  EXPECT_EQ(ReadFileBytes(Ini()),
            "[Info]\r\n"
            "Version=1.3.3.1\r\n"
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
            "Item1=NOCALL-9\r\n"
            "[Settings.clbStates.Items]\r\n"
            "Count=52\r\n"
            "Item0=AK\r\n"
            "Item1=AL\r\n"
            "Item2=AR\r\n"
            "Item3=AZ\r\n"
            "Item4=CA\r\n"
            "Item5=CO\r\n"
            "Item6=CT\r\n"
            "Item7=DE\r\n"
            "Item8=FL\r\n"
            "Item9=GA\r\n"
            "Item10=HI\r\n"
            "Item11=IA\r\n"
            "Item12=ID\r\n"
            "Item13=IL\r\n"
            "Item14=IN\r\n"
            "Item15=KS\r\n"
            "Item16=KY\r\n"
            "Item17=LA\r\n"
            "Item18=MA\r\n"
            "Item19=MD\r\n"
            "Item20=ME\r\n"
            "Item21=MI\r\n"
            "Item22=MN\r\n"
            "Item23=MO\r\n"
            "Item24=MS\r\n"
            "Item25=MT\r\n"
            "Item26=NC\r\n"
            "Item27=ND\r\n"
            "Item28=NE\r\n"
            "Item29=NH\r\n"
            "Item30=NJ\r\n"
            "Item31=NM\r\n"
            "Item32=NV\r\n"
            "Item33=NY\r\n"
            "Item34=OH\r\n"
            "Item35=OK\r\n"
            "Item36=OR\r\n"
            "Item37=PA\r\n"
            "Item38=PR\r\n"
            "Item39=RI\r\n"
            "Item40=SC\r\n"
            "Item41=SD\r\n"
            "Item42=TN\r\n"
            "Item43=TX\r\n"
            "Item44=UT\r\n"
            "Item45=VA\r\n"
            "Item46=VI\r\n"
            "Item47=VT\r\n"
            "Item48=WA\r\n"
            "Item49=WI\r\n"
            "Item50=WV\r\n"
            "Item51=WY\r\n"
            "[StateSelection]\r\n"
            "AK=0\r\n"
            "AL=1\r\n"
            "AR=0\r\n"
            "AZ=0\r\n"
            "CA=0\r\n"
            "CO=0\r\n"
            "CT=0\r\n"
            "DE=0\r\n"
            "FL=0\r\n"
            "GA=0\r\n"
            "HI=0\r\n"
            "IA=0\r\n"
            "ID=0\r\n"
            "IL=0\r\n"
            "IN=0\r\n"
            "KS=0\r\n"
            "KY=0\r\n"
            "LA=0\r\n"
            "MA=0\r\n"
            "MD=0\r\n"
            "ME=0\r\n"
            "MI=0\r\n"
            "MN=0\r\n"
            "MO=0\r\n"
            "MS=0\r\n"
            "MT=0\r\n"
            "NC=0\r\n"
            "ND=0\r\n"
            "NE=0\r\n"
            "NH=0\r\n"
            "NJ=0\r\n"
            "NM=0\r\n"
            "NV=0\r\n"
            "NY=0\r\n"
            "OH=0\r\n"
            "OK=0\r\n"
            "OR=0\r\n"
            "PA=0\r\n"
            "PR=0\r\n"
            "RI=0\r\n"
            "SC=0\r\n"
            "SD=0\r\n"
            "TN=0\r\n"
            "TX=0\r\n"
            "UT=0\r\n"
            "VA=0\r\n"
            "VI=0\r\n"
            "VT=0\r\n"
            "WA=0\r\n"
            "WI=0\r\n"
            "WV=0\r\n"
            "WY=0\r\n");
}

TEST_F(StateKeeperTest, FirstStartWritesOnlyTheVersionAndKeepsDefaults) {
  TForm form;
  TKeepers keepers(form, Ini());
  keepers.Start();
  EXPECT_EQ(ReadFileBytes(Ini()), "[Info]\r\nVersion=1.3.3.1\r\n");
  EXPECT_TRUE(form.Box("cbThisStation").isChecked());
  EXPECT_FALSE(form.Box("cbDisablePrinting").isChecked());
  EXPECT_EQ(form.edMsgCount->text(), "20");
  EXPECT_EQ(form.lbStationList->count(), 0);
  EXPECT_EQ(form.ListTexts(*form.clbStates), StateCodes());
  EXPECT_TRUE(form.CheckedStates().empty());
  EXPECT_EQ(form.Form.geometry(), QRect(100, 80, 680, 449));
  EXPECT_TRUE(keepers.Window.Restored());
  EXPECT_TRUE(keepers.Properties.Restored());
  EXPECT_FALSE(keepers.Properties.SavedSinceRestore());
}

TEST_F(StateKeeperTest, KeeperThatNeverRestoredNeverSaves) {
  TForm form;
  TKeepers keepers(form, Ini());
  int hooks = 0;
  keepers.Properties.OnSaveState = [&] { ++hooks; };
  keepers.Properties.SaveState();
  keepers.Window.SaveState();
  EXPECT_FALSE(std::filesystem::exists(Ini()));
  EXPECT_EQ(hooks, 0);
  EXPECT_FALSE(keepers.Properties.SavedSinceRestore());
}

TEST_F(StateKeeperTest, EmptyStationListRemovesItsSection) {
  WriteFileBytes(Ini(), "[Settings.lbStationList.Items]\r\nCount=1\r\nItem0=OLD\r\n[Other]\r\nx=1\r\n");
  TForm form;
  TKeepers keepers(form, Ini());
  keepers.Start();
  ASSERT_EQ(form.ListTexts(*form.lbStationList), std::vector<std::string>{"OLD"});
  form.lbStationList->clear();
  keepers.Properties.SaveState();
  const std::string text = ReadFileBytes(Ini());
  EXPECT_EQ(text.find("lbStationList.Items]"), std::string::npos);
  EXPECT_NE(text.find("[Other]\r\nx=1\r\n"), std::string::npos);
}

TEST_F(StateKeeperTest, StringListRestoreFollowsCount) {
  struct TCase {
    const char* Name;
    const char* Section;  // Settings.lbStationList.Items
    std::vector<std::string> Expected;
  };
  const std::vector<std::string> built = {"BUILT"};
  const TCase cases[] = {
      {"count 0 keeps the list", "Count=0\r\nItem0=A\r\n", built},
      {"no count keeps the list", "Item0=A\r\n", built},
      {"non-numeric count keeps the list", "Count=two\r\nItem0=A\r\n", built},
      {"negative count keeps the list", "Count=-1\r\nItem0=A\r\n", built},
      {"count with blanks", "Count=  2 \r\nItem0=A\r\nItem1=B\r\n", {"A", "B"}},
      {"entries read trimmed",
       "Count=2\r\nItem0=  NOCALL*  \r\nItem1=\tK1ABC-9\t\r\n",
       {"NOCALL*", "K1ABC-9"}},
      {"missing entries are left out", "Count=3\r\nItem0=A\r\nItem2=C\r\n", {"A", "C"}},
      {"blank entries are left out", "Count=3\r\nItem0=\r\nItem1= \t \r\nItem2=C\r\n", {"C"}},
      {"hexadecimal count", "Count=$2\r\nItem0=A\r\nItem1=B\r\n", {"A", "B"}},
      // Not UTF-8: shown as the window shows such bytes, Windows-1252.
      {"single-byte entries", "Count=1\r\nItem0=\x80\x93K1\r\n", {"\xE2\x82\xAC\xE2\x80\x9CK1"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFileBytes(Ini(), std::string("[Settings.lbStationList.Items]\r\n") + c.Section);
    TForm form;
    form.lbStationList->addItem("BUILT");
    TKeepers keepers(form, Ini());
    keepers.Properties.RestoreState();
    EXPECT_EQ(form.ListTexts(*form.lbStationList), c.Expected);
  }
}

TEST_F(StateKeeperTest, HugeCountReadsOnlyTheEntriesPresent) {
  WriteFileBytes(Ini(), "[Settings.lbStationList.Items]\r\nCount=2000000000\r\nItem0=A\r\n");
  TForm form;
  TKeepers keepers(form, Ini());
  keepers.Properties.RestoreState();
  EXPECT_EQ(form.ListTexts(*form.lbStationList), std::vector<std::string>{"A"});
}

TEST_F(StateKeeperTest, CheckBoxAndEditValues) {
  struct TCase {
    const char* Value;  // nullptr: no key
    bool Before;
    bool Expected;
  };
  const TCase boxes[] = {
      {"true", false, true},   {"TRUE", false, true},  {" True ", false, true}, {"1", false, false},
      {"1", true, true},       {"false", true, false}, {"yes", true, true},     {"", true, true},
      {nullptr, false, false}, {nullptr, true, true},
  };
  for (const auto& c : boxes) {
    SCOPED_TRACE(std::string(c.Value ? c.Value : "(none)") + (c.Before ? " on" : " off"));
    WriteFileBytes(Ini(),
                   c.Value ? std::string("[Settings]\r\ncbThisStation.Checked=") + c.Value + "\r\n" : "");
    TForm form;
    form.Box("cbThisStation").setChecked(c.Before);
    TKeepers keepers(form, Ini());
    keepers.Properties.RestoreState();
    EXPECT_EQ(form.Box("cbThisStation").isChecked(), c.Expected);
  }
  const std::pair<const char*, const char*> edits[] = {{"edMsgCount.Text= 30 \r\n", "30"},
                                                       {"edMsgCount.Text=\r\n", ""},
                                                       {"", "20"},
                                                       {"edMsgCount.Text=abc\r\n", "abc"}};
  for (const auto& [line, expected] : edits) {
    SCOPED_TRACE(line);
    WriteFileBytes(Ini(), std::string("[Settings]\r\n") + line);
    TForm form;
    TKeepers keepers(form, Ini());
    keepers.Properties.RestoreState();
    EXPECT_EQ(form.edMsgCount->text().toStdString(), expected);
  }
}

TEST_F(StateKeeperTest, EditIsSavedTrimmedAndEmptyWhenEmpty) {
  TForm form;
  TKeepers keepers(form, Ini());
  keepers.Start();
  form.edMsgCount->setText("  25 ");
  keepers.Properties.SaveState();
  EXPECT_NE(ReadFileBytes(Ini()).find("\r\nedMsgCount.Text=25\r\n"), std::string::npos);
  form.edMsgCount->clear();
  keepers.Properties.SaveState();
  EXPECT_NE(ReadFileBytes(Ini()).find("\r\nedMsgCount.Text=\r\n"), std::string::npos);
}

TEST_F(StateKeeperTest, StateSelectionValuesReadAsIntegers) {
  struct TCase {
    const char* Value;
    bool Checked;
  };
  const TCase cases[] = {{"True", false}, {"5", true}, {"0x1", true}, {"$1", true},
                         {"0", false},    {"", false}, {"-1", true},  {" 1 ", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Value);
    WriteFileBytes(Ini(), std::string("[StateSelection]\r\nAK=") + c.Value + "\r\n");
    TForm form;
    form.Check("AK", true);  // a mark from before the read never survives it
    form.Check("TX", true);
    TSettingsStore store(Ini());
    ReadStateList(*form.clbStates, store);
    EXPECT_EQ(form.CheckedStates(), c.Checked ? std::vector<std::string>{"AK"} : std::vector<std::string>{});
    EXPECT_EQ(store.OpenCount(), 0);
  }
}

// The stored states list is the list offered: a code added by hand shows in sorted place
// with its mark; a damaged list gives only the codes it really holds, never blanks.
TEST_F(StateKeeperTest, StatesListIsReadFromTheFile) {
  std::string all = "Count=53\r\n";
  for (std::size_t i = 0; i < StateCodes().size(); ++i)
    all += "Item" + std::to_string(i) + "=" + StateCodes()[i] + "\r\n";
  std::vector<std::string> withGuam = StateCodes();
  withGuam.insert(withGuam.begin() + 10, "GU");  // after GA
  const struct {
    const char* Name;
    std::string Items;
    std::vector<std::string> Offered, Checked;
  } cases[] = {
      {"hand-added code", all + "Item52=GU\r\n", withGuam, {"AK", "GU", "WY"}},
      {"huge count, one item", "Count=2000000000\r\nItem0=AK\r\n", {"AK"}, {"AK"}},
      {"two codes out of order", "Count=2\r\nItem0=TX\r\nItem1=AK\r\n", {"AK", "TX"}, {"AK"}},
      {"blanks skipped",
       "Count=4\r\nItem0=\r\nItem1=AK\r\nItem2=WY\r\nItem3=  \r\n",
       {"AK", "WY"},
       {"AK", "WY"}},
      {"count 0", "Count=0\r\n", StateCodes(), {"AK", "WY"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    WriteFileBytes(
        Ini(), "[Settings.clbStates.Items]\r\n" + c.Items + "[StateSelection]\r\nGU=1\r\nAK=1\r\nWY=1\r\n");
    TForm form;
    form.Check("TX", true);  // a mark from before the read never survives it
    TKeepers keepers(form, Ini());
    keepers.Start();
    ASSERT_EQ(form.ListTexts(*form.clbStates), c.Offered);
    EXPECT_EQ(form.CheckedStates(), c.Checked);
    const int last = form.clbStates->count() - 1;
    EXPECT_TRUE(form.clbStates->item(last)->flags() & Qt::ItemIsUserCheckable);
  }
}

// The damage of a bad Count is not carried into the file by the next save.
TEST_F(StateKeeperTest, SaveAfterADamagedFileKeepsBothLists) {
  WriteFileBytes(Ini(),
                 "[Settings.lbStationList.Items]\r\nCount=2000000000\r\nItem0=N0CALL\r\nItem1=\r\n"
                 "Item7= K1ABC-9 \r\n[Settings.clbStates.Items]\r\nCount=2000000000\r\nItem0=AK\r\n"
                 "[StateSelection]\r\nAK=1\r\nTX=1\r\n");
  {
    TForm form;
    TKeepers keepers(form, Ini());
    keepers.Start();
    keepers.Properties.SaveState();
  }
  const std::string text = ReadFileBytes(Ini());
  EXPECT_NE(text.find("[Settings.lbStationList.Items]\r\nCount=2\r\nItem0=N0CALL\r\nItem1=K1ABC-9\r\n["),
            std::string::npos);
  EXPECT_NE(text.find("[Settings.clbStates.Items]\r\nCount=1\r\nItem0=AK\r\n[StateSelection]\r\nAK=1\r\n"),
            std::string::npos);
  TForm again;
  TKeepers keepers(again, Ini());
  keepers.Start();
  EXPECT_EQ(again.ListTexts(*again.lbStationList), (std::vector<std::string>{"N0CALL", "K1ABC-9"}));
  EXPECT_EQ(again.ListTexts(*again.clbStates), (std::vector<std::string>{"AK"}));
  EXPECT_EQ(again.CheckedStates(), (std::vector<std::string>{"AK"}));
}

TEST_F(StateKeeperTest, EntriesAreCheckedAtConstruction) {
  TForm form;
  TSettingsStore store(Ini());
  TPropertyStateKeeper keeper(&form.Form, store,
                              {"noDot", ".Checked", "cbAnn.", "cbMissing.Checked", "cbAnn.Bogus",
                               "cbann.Checked", "cbBull.checked", "edMsgCount.TEXT"});
  EXPECT_EQ(keeper.StoredProperties(),
            (std::vector<std::string>{"cbAnn.Bogus", "cbBull.checked", "edMsgCount.TEXT"}));
  keeper.RestoreState();
  form.Box("cbBull").setChecked(true);
  keeper.SaveState();
  EXPECT_EQ(ReadFileBytes(Ini()), "[Settings]\r\ncbBull.Checked=True\r\nedMsgCount.Text=20\r\n");
}

TEST_F(StateKeeperTest, StateListHooksReleaseTheStoreAfterAFailure) {
  WriteFileBytes(FDir.File("blocker"), "x");
  TForm form;
  TSettingsStore store(FDir.File("blocker") + "/Quillmark.ini");
  try {
    SaveStateList(*form.clbStates, store);
    FAIL() << "no error";
  } catch (const ESettingsWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + FDir.File("blocker") + "/Quillmark.ini");
  }
  EXPECT_EQ(store.OpenCount(), 0);
}

// ---- window state

struct TWindowCase {
  const char* Name;
  std::string FormState;  // lines of [FormState]; "@PPI@" becomes the screen's value
  QRect Geometry;
  int MinimizeRequests;
  bool Maximized;
};

TEST_F(StateKeeperTest, WindowRestoreStops) {
  const QRect designed(100, 80, 680, 449);
  const TWindowCase cases[] = {
      {"full restore", "NormalPos=10,20,650,500\r\nShowCmd=1\r\nPixelsPerInch=@PPI@\r\n",
       QRect(10, 20, 640, 480), 0, false},
      {"maximised", "NormalPos=10,20,650,500\r\nShowCmd=3\r\nPixelsPerInch=@PPI@\r\n",
       QRect(10, 20, 640, 480), 0, true},
      {"minimised", "NormalPos=10,20,650,500\r\nShowCmd=2\r\nPixelsPerInch=@PPI@\r\n",
       QRect(10, 20, 640, 480), 1, false},
      {"minimised as 6", "NormalPos=10,20,650,500\r\nShowCmd=6\r\n", QRect(10, 20, 640, 480), 1, false},
      {"other screen", "NormalPos=10,20,650,500\r\nShowCmd=3\r\nPixelsPerInch=1000\r\n", designed, 0, false},
      {"no position", "ShowCmd=3\r\nPixelsPerInch=@PPI@\r\n", designed, 0, false},
      {"empty position", "NormalPos=\r\nShowCmd=2\r\n", designed, 0, false},
      {"right not past left", "NormalPos=10,10,5,400\r\nShowCmd=1\r\n", designed, 0, false},
      {"right not past left, maximised", "NormalPos=10,10,5,400\r\nShowCmd=3\r\n", designed, 0, true},
      {"missing words take the current ones", "NormalPos=30 , 40\r\n", QRect(30, 40, 750, 489), 0, false},
      {"bad words take the current ones", "NormalPos=x,40,y,529\r\n", QRect(100, 40, 680, 489), 0, false},
      {"odd show state is normal", "NormalPos=10,20,650,500\r\nShowCmd=junk\r\n", QRect(10, 20, 640, 480), 0,
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TForm form;
    std::string section = c.FormState;
    const auto at = section.find("@PPI@");
    if (at != std::string::npos) section.replace(at, 5, std::to_string(ScreenPpi(form.Form)));
    WriteFileBytes(Ini(), "[FormState]\r\nFlags=0\r\n" + section);
    TKeepers keepers(form, Ini());
    keepers.Window.RestoreState();
    EXPECT_TRUE(keepers.Window.Restored());
    EXPECT_EQ(form.Form.geometry(), c.Geometry);
    EXPECT_EQ(keepers.MinimizeRequests, c.MinimizeRequests);
    EXPECT_EQ(form.Form.windowState().testFlag(Qt::WindowMaximized), c.Maximized);
    EXPECT_FALSE(form.Form.isVisible());  // restoring never shows the window
  }
}

TEST_F(StateKeeperTest, DefaultMinimiseIsQueuedUntilTheEventLoopRuns) {
  WriteFileBytes(Ini(), "[FormState]\r\nNormalPos=10,20,650,500\r\nShowCmd=2\r\n");
  TForm form;
  TSettingsStore store(Ini());
  TWindowStateKeeper keeper(&form.Form, store);
  keeper.RestoreState();
  EXPECT_FALSE(form.Form.isMinimized());
  QCoreApplication::processEvents();
  EXPECT_TRUE(form.Form.isMinimized());
}

TEST_F(StateKeeperTest, WindowSaveWritesPlacementAndRoundTrips) {
  TForm form;
  TKeepers keepers(form, Ini());
  keepers.Start();
  form.Form.setGeometry(50, 60, 640, 400);
  keepers.Window.SaveState();
  EXPECT_TRUE(keepers.Window.SavedSinceRestore());
  const std::string ppi = std::to_string(ScreenPpi(form.Form));
  EXPECT_EQ(ReadFileBytes(Ini()),
            "[Info]\r\nVersion=1.3.3.1\r\n[FormState]\r\nFlags=0\r\nShowCmd=1\r\n"
            "NormalPos=50,60,690,460\r\nPixelsPerInch=" +
                ppi + "\r\nColor=-16777201\r\n");

  keepers.Window.IsApplicationMinimized = [] { return true; };
  keepers.Window.SaveState();
  EXPECT_NE(ReadFileBytes(Ini()).find("ShowCmd=2\r\n"), std::string::npos);

  TForm again;
  TKeepers reader(again, Ini());
  reader.Window.RestoreState();
  EXPECT_EQ(again.Form.geometry(), QRect(50, 60, 640, 400));
  EXPECT_EQ(reader.MinimizeRequests, 1);
}

TEST_F(StateKeeperTest, MaximisedWindowSavesItsNormalRectangle) {
  TForm form;
  TKeepers keepers(form, Ini());
  keepers.Window.RestoreState();
  form.Form.setGeometry(50, 60, 800, 700);
  form.Form.show();
  form.Form.showMaximized();
  QCoreApplication::processEvents();
  keepers.Window.SaveState();
  const std::string text = ReadFileBytes(Ini());
  EXPECT_NE(text.find("ShowCmd=3\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("NormalPos=50,60,850,760\r\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace qm
