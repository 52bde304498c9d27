// The list's model over a desk, with no window: Qt's model tester checks every signal and
// answer while entries come, leave with Clear, and come back from the store at the next start.
#include <gtest/gtest.h>

#include <QAbstractItemModelTester>

#include "app/MessageList.h"
#include "tests/support/DeskRig.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

TEST(MessageListModel, FillsClearsAndRestoresUnderTheModelTester) {
  test::App();
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = rig.Choices.PrintingDisabled = true;
  TMessageListModel model;
  // Fatal: a broken promise of the model (rows told and rows answered apart) ends the test.
  QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
  int inserted = 0, resets = 0;
  QObject::connect(&model, &QAbstractItemModel::rowsInserted, [&] { ++inserted; });
  QObject::connect(&model, &QAbstractItemModel::modelReset, [&] { ++resets; });
  const auto show = [&] {
    QObject::connect(rig.Desk.get(), &TMessageDesk::EntryListed, &model, &TMessageListModel::EntryAdded);
    QObject::connect(rig.Desk.get(), &TMessageDesk::ListChanged, &model, &TMessageListModel::Reshow);
    model.SetDesk(rig.Desk.get());
  };
  const auto line = [&](int row) { return model.data(model.index(row, 0)).toString(); };

  rig.Make();
  show();
  for (int n = 1; n <= 3; ++n) rig.SendBulletin(n);
  EXPECT_EQ(model.rowCount(), 9);
  EXPECT_EQ(inserted, 3);  // one insertion of three rows per entry, no reset
  EXPECT_EQ(line(8), QStringLiteral("  BLN1: Bulletin 3"));
  EXPECT_EQ(model.LineLength(8), line(8).size());

  resets = 0;
  rig.Desk->ClearList();
  EXPECT_EQ(model.rowCount(), 0);
  EXPECT_EQ(resets, 1);

  rig.SendBulletin(4);
  rig.SendBulletin(5);
  rig.Desk->HostClosing();
  rig.Make();  // the next start: the old desk goes, the model shows nothing until told
  EXPECT_EQ(model.rowCount(), 0);
  show();
  EXPECT_EQ(model.rowCount(), 6);
  EXPECT_EQ(line(2), QStringLiteral("  BLN1: Bulletin 4"));
  EXPECT_EQ(line(5), QStringLiteral("  BLN1: Bulletin 5"));
}

// An alert's lines carry its coded line and its words as their tip, also when it comes back
// from the store at the next start, past its expiry.
TEST(MessageListModel, AnAlertsTipIsItsCodedLineAndItsWords) {
  test::App();
  test::TDeskRig rig;
  rig.Choices.Selection.Bulletins = rig.Choices.Selection.NwsWarnings = rig.Choices.PrintingDisabled = true;
  rig.Choices.Selection.States = {{"OK", true}};
  TMessageListModel model;
  const auto tip = [&](int row) { return model.data(model.index(row, 0), Qt::ToolTipRole).toString(); };
  const QString coded = QStringLiteral("NWS-WARN: 072300z,TORNDO,OK_C109 {A1AAA");
  const QString words = QStringLiteral("Tornado Warning \u2014 Oklahoma County, OK \u2014 ");
  rig.Make();
  rig.Send(test::HostMessage("OUNSVR", "NWS-WARN", "072300z,TORNDO,OK_C109{A1AAA"));
  rig.SendBulletin(1);
  model.SetDesk(rig.Desk.get());
  EXPECT_EQ(tip(0), coded + u'\n' + words + QStringLiteral("until 23:00 UTC"));
  EXPECT_EQ(tip(2), tip(0));
  EXPECT_TRUE(tip(3).isEmpty());
  rig.Desk->HostClosing();
  rig.Utc += 1;
  rig.Make();
  model.SetDesk(rig.Desk.get());
  EXPECT_EQ(tip(1), coded + u'\n' + words + QStringLiteral("expired 23:00 UTC"));
}

}  // namespace
}  // namespace qm
