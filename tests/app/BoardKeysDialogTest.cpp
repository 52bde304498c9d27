// The board's keys made, listed and revoked in the window, with a board serving: the dialog
// writes the file the board reads, hands over the address the board listens at, asks before a
// key is revoked or replaced, and the board notices each change at once.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "app/BoardKeysDialog.h"
#include "app/MainForm.h"
#include "run/Board.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/LogFiles.h"
#include "web/BoardKeys.h"

namespace qm {
namespace {

using test::LogText;
using test::WaitFor;

TEST(BoardKeysDialog, MakesListsAndRevokesTheKeysTheRunningBoardReads) {
  test::TFormEnvironment env;
  TMainForm form(env.Setup());
  const std::string dataDir = env.Dir.path().toStdString();
  TBoardPlan plan;
  ASSERT_EQ(PlanBoard(QStringLiteral("127.0.0.1:0"), env.IniFile(), dataDir, plan), QString());
  const TBoardRun& board = form.Run().StartBoard(plan);
  ASSERT_FALSE(board.Url().isEmpty()) << board.Refusal().toStdString();
  form.ShowBoard();
  const QString address = QStringLiteral("http://127.0.0.1:%1/").arg(board.Server()->Port());
  EXPECT_EQ(form.lblBoardAddress->text(), QStringLiteral("The board serves at ") + address);

  form.btnBoardKeys->click();
  TBoardKeysDialog* dialog = form.BoardKeys();
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(dialog->isVisible());
  EXPECT_EQ(dialog->tvKeys->topLevelItemCount(), 0);
  QStringList asked;
  bool answer = false;
  dialog->Confirm = [&](const QString& question) {
    asked << question;
    return answer;
  };
  const std::string file = BoardKeyFile(dataDir);
  const auto stored = [&] { return ReadBoardKeys(file); };
  const auto rows = [&] {
    QStringList shown;
    for (int i = 0; i < dialog->tvKeys->topLevelItemCount(); ++i)
      shown << dialog->tvKeys->topLevelItem(i)->text(0) + ": " + dialog->tvKeys->topLevelItem(i)->text(1);
    return shown;
  };

  // A name the keyring would refuse cannot be sent to it.
  dialog->edKeyName->setText(QStringLiteral("shelter desk"));
  EXPECT_FALSE(dialog->btnMakeKey->isEnabled());
  EXPECT_FALSE(dialog->lblKeyProblem->text().isEmpty());

  dialog->edKeyName->setText(QStringLiteral("shelter-desk"));
  dialog->cbKeyCanAct->setChecked(true);
  dialog->btnMakeKey->click();
  dialog->edKeyName->setText(QStringLiteral("wall"));
  dialog->btnMakeKey->click();
  EXPECT_EQ(rows(), (QStringList{"shelter-desk: can act", "wall: read only"}));
  std::vector<TBoardKey> keys = stored();
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_TRUE(keys[0].CanAct);
  EXPECT_FALSE(keys[1].CanAct);
  // The one just made is chosen, its address ready to copy.
  EXPECT_EQ(dialog->edKeyUrl->text(),
            address + QStringLiteral("?key=") + QString::fromStdString(keys[1].Key));
  dialog->btnCopyKeyUrl->click();
  EXPECT_EQ(QGuiApplication::clipboard()->text(), dialog->edKeyUrl->text());
  EXPECT_TRUE(WaitFor([&] { return LogText(env.Dir.path()).contains("Board key wall made (read only)"); }));

  // Making one of a name already there, and revoking, are asked first; "no" changes nothing.
  dialog->edKeyName->setText(QStringLiteral("wall"));
  dialog->btnMakeKey->click();
  dialog->tvKeys->setCurrentItem(dialog->tvKeys->topLevelItem(0));
  dialog->btnRevokeKey->click();
  EXPECT_EQ(asked.size(), 2);
  EXPECT_EQ(stored(), keys);

  answer = true;
  dialog->btnRevokeKey->click();
  EXPECT_EQ(rows(), QStringList{"wall: read only"});
  keys = stored();
  ASSERT_EQ(keys.size(), 1u);
  EXPECT_EQ(keys[0].Name, "wall");
  EXPECT_EQ(dialog->lblKeyProblem->text(), QStringLiteral("Key \"shelter-desk\" revoked"));
  EXPECT_TRUE(WaitFor([&] { return LogText(env.Dir.path()).contains("Board key shelter-desk revoked"); }));
}

}  // namespace
}  // namespace qm
