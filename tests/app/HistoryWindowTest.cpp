// The history window over the window's own store: opened from the button and the tray menu,
// its filters, and reprints that leave the list and the store's messages as they were.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>
#include <condition_variable>
#include <mutex>

#include "app/HistoryWindow.h"
#include "app/MainForm.h"
#include "run/StoredChoiceTable.h"
#include "run/StoredChoices.h"
#include "settings/SettingsStore.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/PdfTools.h"

namespace qm {
namespace {

std::string Msg(const std::string& from, const std::string& to, const std::string& text) {
  std::string field = to;
  field.resize(9, ' ');
  return "*" + from + ">APRS,WIDE1-1::" + field + ":" + text;
}

struct HistoryWindow : public ::testing::Test {
  HistoryWindow() {
    TMainFormSetup setup = env.Setup();
    setup.Clock = [](TTimeFormat f) { return f == tfLocal ? 46363.75 : 46363.25; };
    setup.OpenFolder = [this](const QString& folder) { Opened << folder; };
    // A day's copies older than the logs are kept, and today's.
    for (const QDate day : {QDate::currentDate().addDays(-15), QDate::currentDate()}) {
      const QString dir =
          env.Dir.filePath(QStringLiteral("archive/") + day.toString(QStringLiteral("yyyy-MM-dd")));
      QDir().mkpath(dir);
      QFile(dir + QStringLiteral("/120000-job7.pdf")).open(QIODevice::WriteOnly);
    }
    form = std::make_unique<TMainForm>(std::move(setup));
    form->cbBull->setChecked(true);
    form->cbAnn->setChecked(true);
  }
  void Send(const std::string& hostText) {
    const std::size_t before = form->Desk().Listed().size();
    env.Host->Deliver(hostText);
    ASSERT_TRUE(test::WaitFor([&] { return form->Desk().Listed().size() > before; })) << hostText;
    env.Tick += 30000;  // past the 20-second rule
  }
  QStringList Column(int column) const {
    QStringList cells;
    THistoryModel* model = form->History()->Model;
    for (int row = 0; row < model->rowCount(); ++row)
      cells << model->data(model->index(row, column), Qt::DisplayRole).toString();
    return cells;
  }
  std::string States() const {
    std::string states;
    for (const TStoredMessage& m : form->Desk().HistoryReader()->Messages({1, 2, 3, 4}))
      states += "UJPC"[StoredNumber(m.PrintState)];
    return states;
  }
  // The history's answer to its last question is all there.
  static bool Answered(const THistoryWindow* history) {
    return test::WaitFor([&] { return !history->Searching(); });
  }
  QStringList PdfText() const { return test::PdfLines(env.PdfFile()); }

  test::TFormEnvironment env;
  QStringList Opened;
  std::unique_ptr<TMainForm> form;
};

// Wherever the main window sits, the history opens wholly on the screen's free area, and the
// Text column is the widest. Runs on the offscreen platform's own screen and, as
// history_window_on_1280x900, on a screen of that size.
TEST_F(HistoryWindow, OpensOnTheScreenWithTheTextColumnWidest) {
  Send(Msg("KB1AB-7", "NOCALL-9", "Meet at the hamfest{11"));
  const QRect free = form->screen()->availableGeometry();
  const struct {
    const char* Name;
    QPoint Place;  // of the main window
  } cases[] = {{"main window in the middle", free.center() - QPoint(200, 150)},
               {"main window in the bottom right corner", free.bottomRight() - QPoint(120, 80)},
               {"main window in the top left corner", free.topLeft()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    form->move(c.Place);
    form->show();
    THistoryWindow history(form.get());
    history.show();
    ASSERT_TRUE(test::WaitFor([&] { return history.isVisible(); }));
    EXPECT_TRUE(free.contains(history.frameGeometry()))
        << "window " << history.frameGeometry().x() << "," << history.frameGeometry().y() << " "
        << history.frameGeometry().width() << "x" << history.frameGeometry().height() << " on "
        << free.width() << "x" << free.height();
    EXPECT_GE(history.frameGeometry().width(), std::min(900, free.width()));
    const int text = history.tvMessages->columnWidth(THistoryModel::hcText);
    for (int column = 0; column < THistoryModel::hcCount; ++column) {
      if (column == THistoryModel::hcText) continue;
      EXPECT_GT(text, history.tvMessages->columnWidth(column)) << "column " << column;
    }
  }
}

TEST_F(HistoryWindow, ShowsEveryKeptMessageNewestFirstAndFilters) {
  Send(Msg("KB1AB-7", "NOCALL-9", "Meet at the hamfest{11"));
  Send(Msg("N0CALL-5", "BLN1", "Net tonight at 2000"));
  Send(Msg("W1AW", "BLNQ", "Hamfest Saturday"));
  form->btnPrintNow->click();  // the first three are printed, the fourth stays listed
  ASSERT_TRUE(test::WaitFor([&] { return form->Desk().Listed().empty(); }));
  Send(Msg("KB1AB-9", "NOCALL-9", "On my way{12"));

  form->btnHistory->click();
  THistoryWindow* history = form->History();
  ASSERT_NE(history, nullptr);
  EXPECT_TRUE(history->isVisible());
  ASSERT_TRUE(Answered(history));
  EXPECT_EQ(history->lblFound->text(), QStringLiteral("4 found"));
  EXPECT_EQ(Column(THistoryModel::hcFrom), (QStringList{"KB1AB-9", "W1AW", "N0CALL-5", "KB1AB-7"}));
  EXPECT_EQ(Column(THistoryModel::hcKind), (QStringList{"Personal", "Announcement", "Bulletin", "Personal"}));
  EXPECT_EQ(Column(THistoryModel::hcNumber), (QStringList{"12", "", "", "11"}));
  EXPECT_EQ(Column(THistoryModel::hcPrinted),
            (QStringList{"Listed", "Printed", "Printed", "Printed"}));  // a file has no job number
  EXPECT_EQ(Column(THistoryModel::hcLocal).first(), QStringLiteral("2026-12-07 18:00:00"));
  EXPECT_EQ(Column(THistoryModel::hcUtc).first(), QStringLiteral("2026-12-07 06:00:00"));

  history->edFindCall->setText(QStringLiteral("kb1ab*"));
  history->Refresh();
  ASSERT_TRUE(Answered(history));
  EXPECT_EQ(Column(THistoryModel::hcText), (QStringList{"On my way", "Meet at the hamfest"}));
  history->edFindText->setText(QStringLiteral("HAMFEST"));
  history->Refresh();
  ASSERT_TRUE(Answered(history));
  EXPECT_EQ(Column(THistoryModel::hcText), (QStringList{"Meet at the hamfest"}));
  history->edFindCall->clear();
  history->cbxFindKind->setCurrentIndex(StoredNumber(hkAnnouncement));  // runs the filter by itself
  ASSERT_TRUE(Answered(history));
  EXPECT_EQ(Column(THistoryModel::hcText), (QStringList{"Hamfest Saturday"}));

  // The chosen row's lines show below the table.
  history->tvMessages->selectRow(0);
  EXPECT_TRUE(history->memDetail->toPlainText().startsWith(QStringLiteral("LOCAL:[12/07/2026 18:00:00]")))
      << history->memDetail->toPlainText().toStdString();

  // The tray menu opens the same window.
  history->hide();
  form->miHistory->trigger();
  EXPECT_EQ(form->History(), history);
  EXPECT_TRUE(history->isVisible());
}

// A filter changed while the answer to the one before is still coming shows its own answer
// only: the older question, held on the searching thread until the new one was asked, never
// reaches the table.
// The Bulletins view shows the board as the desk reads it, and "Clear line" takes the chosen
// line off it.
TEST_F(HistoryWindow, TheBulletinsViewShowsTheBoardAndClearsALine) {
  Send(Msg("N0CALL-5", "BLN1", "Net tonight at 2000"));
  Send(Msg("W1AW", "BLNQ", "Hamfest Saturday"));
  Send(Msg("N0CALL-5", "BLN1", "Net moved to 2100"));
  form->btnHistory->click();
  THistoryWindow* history = form->History();
  history->tabViews->setCurrentIndex(1);
  const auto rows = [history] {
    QStringList shown;
    for (int i = 0; i < history->tvBulletins->topLevelItemCount(); ++i) {
      const QTreeWidgetItem* item = history->tvBulletins->topLevelItem(i);
      shown << item->text(0) + " " + item->text(1) + " " + item->text(4);
    }
    return shown;
  };
  EXPECT_EQ(rows(), (QStringList{"N0CALL-5 BLN1 Net moved to 2100", "W1AW BLNQ Hamfest Saturday"}));
  history->tvBulletins->setCurrentItem(history->tvBulletins->topLevelItem(0));
  history->btnClearLine->click();
  EXPECT_EQ(rows(), QStringList{"W1AW BLNQ Hamfest Saturday"});
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(HistoryWindow, ANewFilterDropsTheAnswerStillComing) {
  Send(Msg("KB1AB-7", "NOCALL-9", "Meet at the hamfest{11"));
  Send(Msg("W1AW", "BLNQ", "Hamfest Saturday"));
  form->btnHistory->click();
  THistoryWindow* history = form->History();
  ASSERT_TRUE(Answered(history));

  std::mutex lock;
  std::condition_variable released;
  bool held = false, release = false;
  const auto letGo = [&] {
    std::lock_guard<std::mutex> hold(lock);
    release = true;
    released.notify_all();
  };
  // Never leaves the searching thread waiting, whatever fails below.
  const std::unique_ptr<void, std::function<void(void*)>> always(&lock, [&](void*) { letGo(); });
  history->BeforeFind = [&](const THistoryFilter& filter) {
    if (filter.Callsign != "kb1ab*") return;
    std::unique_lock<std::mutex> hold(lock);
    held = true;
    released.wait(hold, [&] { return release; });
  };
  QStringList shown;
  QObject::connect(history->Model, &QAbstractItemModel::modelReset, history,
                   [&] { shown << Column(THistoryModel::hcFrom).join(u','); });

  history->edFindCall->setText(QStringLiteral("kb1ab*"));
  history->Refresh();
  ASSERT_TRUE(test::WaitFor([&] {
    std::lock_guard<std::mutex> hold(lock);
    return held;
  }));
  history->edFindCall->setText(QStringLiteral("w1aw"));
  history->Refresh();
  letGo();
  ASSERT_TRUE(Answered(history));
  EXPECT_EQ(Column(THistoryModel::hcFrom), QStringList{QStringLiteral("W1AW")});
  EXPECT_EQ(history->lblFound->text(), QStringLiteral("1 found"));
  EXPECT_EQ(shown, QStringList{QStringLiteral("W1AW")});
}

TEST_F(HistoryWindow, ReprintsLeaveTheListAndTheStoreAsTheyWere) {
  const QString missing = test::MissingPopplerTools();
  if (!missing.isEmpty()) GTEST_SKIP() << missing.toStdString();
  Send(Msg("KB1AB-7", "NOCALL-9", "First{1"));
  Send(Msg("N0CALL-5", "BLN1", "Second"));
  Send(Msg("W1AW", "BLNQ", "Third"));
  form->btnPrintNow->click();
  ASSERT_TRUE(test::WaitFor([&] { return form->Desk().Listed().empty(); }));
  const QStringList page = PdfText();
  ASSERT_EQ(page.size(), 9);
  Send(Msg("KB1AB-7", "NOCALL-9", "Fourth{2"));
  ASSERT_TRUE(QFile::remove(env.PdfFile()));

  form->btnHistory->click();
  THistoryWindow* history = form->History();
  ASSERT_TRUE(Answered(history));
  // A past job as it was printed: the same lines in the same order, under the reprint's mark.
  history->tvMessages->selectRow(2);  // "Second", printed in job 1
  history->btnReprintJob->click();
  EXPECT_EQ(PdfText(), QStringList{QStringLiteral("REPRINT of job 1")} + page);

  // Chosen messages, oldest first whatever the order they were chosen in.
  history->tvMessages->clearSelection();
  history->tvMessages->selectionModel()->select(history->Model->index(0, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
  history->tvMessages->selectionModel()->select(history->Model->index(3, 0),
                                                QItemSelectionModel::Select | QItemSelectionModel::Rows);
  history->btnReprintSelected->click();
  QStringList chosen = PdfText();
  ASSERT_EQ(chosen.size(), 7);
  EXPECT_EQ(chosen.takeFirst(), QStringLiteral("REPRINT of job 1 (message 4 not printed before)"));
  EXPECT_EQ(chosen[0], page[0]);
  EXPECT_EQ(chosen[2], QStringLiteral("  NOCALL-9: First"));
  EXPECT_EQ(chosen[5], QStringLiteral("  NOCALL-9: Fourth"));

  // Nothing changed: the fourth is still the one listed, unprinted, in no job.
  ASSERT_EQ(form->Desk().Listed().size(), 1u);
  EXPECT_EQ(form->Desk().Listed()[0].Job, 0u);
  EXPECT_EQ(form->MessageLineCount(), 3);
  EXPECT_EQ(States(), "PPPU");
  EXPECT_TRUE(form->Desk().PendingJobs().empty());
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();

  // A message never printed has no job to reprint; that is said, and nothing is printed.
  ASSERT_TRUE(QFile::remove(env.PdfFile()));
  history->tvMessages->selectRow(0);
  history->btnReprintJob->click();
  EXPECT_EQ(env.Errors, QStringList{QStringLiteral("The chosen message was not printed in a job")});
  EXPECT_FALSE(QFile::exists(env.PdfFile()));
}

TEST_F(HistoryWindow, ArchiveIsPurgedWithTheLogsOpensFromTheWindowAndOptionsAreStored) {
  const QString archive = env.Dir.filePath(QStringLiteral("archive"));
  EXPECT_EQ(form->Desk().ArchiveFolder(), archive);
  EXPECT_EQ(QDir(archive).entryList(QDir::Dirs | QDir::NoDotAndDotDot),
            QStringList{QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"))});
  form->btnHistory->click();
  form->History()->btnOpenArchive->click();
  EXPECT_EQ(Opened, QStringList{archive});

  EXPECT_FALSE(form->History()->cbArchivePdf->isChecked());  // off unless asked for
  form->History()->cbArchivePdf->setChecked(true);
  form->History()->cbDropRetries->setChecked(true);
  form->History()->edRetryMinutes->setText(QStringLiteral("45"));
  form->SaveSettings();
  QFile ini(QString::fromStdString(env.IniFile()));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  const QByteArray text = ini.readAll();
  EXPECT_TRUE(text.endsWith("[History]\r\nDropResent=1\r\nResentMinutes=45\r\nArchivePdf=1\r\n"))
      << text.toStdString();
  ini.close();
  // Read back by the next start; back at the defaults, the section goes again.
  form.reset();
  form = std::make_unique<TMainForm>(env.Setup());
  EXPECT_TRUE(form->History()->cbArchivePdf->isChecked());
  EXPECT_TRUE(form->History()->cbDropRetries->isChecked());
  EXPECT_EQ(form->History()->edRetryMinutes->text(), QStringLiteral("45"));
  form->History()->cbArchivePdf->setChecked(false);
  form->History()->cbDropRetries->setChecked(false);
  form->History()->edRetryMinutes->setText(QStringLiteral("30"));
  form->SaveSettings();
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_FALSE(ini.readAll().contains("[History]"));
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

TEST_F(HistoryWindow, IsMadeAtItsFirstUseWithTheOptionsTheDeskHadFromTheStart) {
  form.reset();
  {
    QFile ini(QString::fromStdString(env.IniFile()));
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("\r\n[History]\r\nDropResent=1\r\nResentMinutes=45\r\nBroadcastOnce=1\r\nBroadcastHours=6\r\n");
  }
  form = std::make_unique<TMainForm>(env.Setup());
  // Not made by the start, yet the desk judges by the stored options, and a save keeps them.
  EXPECT_EQ(form->findChild<THistoryWindow*>(), nullptr);
  const TDeskChoices& held = form->Desk().Choices();
  EXPECT_TRUE(held.DropResent);
  EXPECT_EQ(held.ResentMinutes, 45);
  EXPECT_FALSE(held.ArchivePdf);
  EXPECT_TRUE(held.BroadcastOnce);
  EXPECT_EQ(held.BroadcastHours, 6);
  form->SaveSettings();
  TSettingsStore saved(env.IniFile());
  const TDeskChoices kept = ReadOptionSection(saved, kHistorySection);
  EXPECT_TRUE(kept.DropResent);
  EXPECT_EQ(kept.ResentMinutes, 45);
  EXPECT_TRUE(kept.BroadcastOnce);
  EXPECT_EQ(kept.BroadcastHours, 6);
  EXPECT_EQ(form->findChild<THistoryWindow*>(), nullptr);

  // Opened, it shows them, and what the operator changes there reaches the desk.
  form->miHistory->trigger();
  THistoryWindow* history = form->History();
  EXPECT_EQ(form->findChild<THistoryWindow*>(), history);
  EXPECT_TRUE(history->isVisible());
  EXPECT_TRUE(history->cbDropRetries->isChecked());
  EXPECT_EQ(history->edRetryMinutes->text(), QStringLiteral("45"));
  EXPECT_FALSE(history->cbArchivePdf->isChecked());
  EXPECT_TRUE(history->cbBroadcastOnce->isChecked());
  EXPECT_EQ(history->edBroadcastHours->text(), QStringLiteral("6"));
  EXPECT_TRUE(form->Desk().Choices().DropResent);
  history->cbDropRetries->click();
  history->edBroadcastHours->setText(QStringLiteral("8"));
  EXPECT_FALSE(form->Desk().Choices().DropResent);
  EXPECT_EQ(form->Desk().Choices().BroadcastHours, 8);
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

}  // namespace
}  // namespace qm
