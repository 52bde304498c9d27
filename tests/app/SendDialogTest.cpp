// The compose box: what is typed is checked as the desk checks it before Send can be pressed,
// a refusal of the desk is reported and keeps the text, and each sent message shows where it
// stands, the one still being sent stopped from here.
#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "app/SendDialog.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

TEST(SendDialog, ChecksAsTypedSendsReportsRefusalsAndStopsTheOneBeingSent) {
  test::App();
  TSendDialog dialog;
  std::vector<TSentMessage> sent;
  std::vector<std::pair<std::string, std::string>> asked;
  std::string refusal;
  std::vector<std::string> cancelled;
  QString reported;
  dialog.Sent = [&] { return sent; };
  dialog.Send = [&](const std::string& to, const std::string& text) {
    asked.emplace_back(to, text);
    if (!refusal.empty()) throw std::runtime_error(refusal);
    TSentMessage made;
    made.Id = 7;
    made.To = to;
    made.Text = text;
    made.Number = "7";
    sent.push_back(made);
    return std::string("7");
  };
  dialog.Cancel = [&](const std::string& number) { cancelled.push_back(number); };
  dialog.Guard = [&](const std::function<void()>& action) {
    try {
      action();
    } catch (const std::exception& e) {
      reported = QString::fromUtf8(e.what());
    }
  };

  // A reply: addressed, small letters made capitals, the text still to type.
  dialog.Compose(QStringLiteral("k2xyz-9"));
  EXPECT_EQ(dialog.edSendTo->text(), QStringLiteral("K2XYZ-9"));
  EXPECT_FALSE(dialog.btnSend->isEnabled());
  QTest::keyClicks(dialog.edSendText, QStringLiteral("50|50"));
  EXPECT_FALSE(dialog.btnSend->isEnabled());
  EXPECT_TRUE(dialog.lblSendProblem->text().contains(QLatin1Char('|')))
      << dialog.lblSendProblem->text().toStdString();
  dialog.edSendText->setText(QStringLiteral("Roger, 20 cots"));
  EXPECT_TRUE(dialog.btnSend->isEnabled());
  EXPECT_TRUE(dialog.lblSendProblem->text().isEmpty());

  // Refused by the desk: said, the text kept to send again.
  refusal = "no source can send";
  dialog.btnSend->click();
  EXPECT_EQ(reported, QStringLiteral("no source can send"));
  EXPECT_EQ(dialog.edSendText->text(), QStringLiteral("Roger, 20 cots"));
  EXPECT_EQ(dialog.lbSent->count(), 0);

  refusal.clear();
  QTest::keyClick(dialog.edSendText, Qt::Key_Return);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked.back(), (std::pair<std::string, std::string>{"K2XYZ-9", "Roger, 20 cots"}));
  EXPECT_TRUE(dialog.edSendText->text().isEmpty());
  EXPECT_EQ(dialog.lblSendProblem->text(), QStringLiteral("Sent as number 7"));
  ASSERT_EQ(dialog.lbSent->count(), 1);
  EXPECT_EQ(dialog.lbSent->item(0)->text(),
            QStringLiteral("7 to K2XYZ-9: Roger, 20 cots \u2014 waiting to go out"));

  // Only a message still being sent can be stopped.
  dialog.lbSent->setCurrentRow(0);
  ASSERT_TRUE(dialog.btnCancelSent->isEnabled());
  dialog.btnCancelSent->click();
  EXPECT_EQ(cancelled, std::vector<std::string>{"7"});
  sent[0].State = ssAcknowledged;
  sent[0].Tries = 2;
  sent[0].EndedUtc = 46000.5;  // 12:00 UTC
  dialog.Refresh();
  EXPECT_EQ(dialog.lbSent->item(0)->text(),
            QStringLiteral("7 to K2XYZ-9: Roger, 20 cots \u2014 acknowledged at 12:00 UTC after 2 tries"));
  EXPECT_FALSE(dialog.btnCancelSent->isEnabled());
}

}  // namespace
}  // namespace qm
