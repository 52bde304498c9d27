// The Connection page with several sources, at the window's own size and larger: every control
// in sight keeps a place of its own, the sources' column shows a line per source, and the
// answering hint is shown whole; and the NWS page's groups, which scroll on the short page.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QScrollArea>
#include <QTabWidget>

#include "app/MainForm.h"
#include "tests/app/FormTestEnvironment.h"

namespace qm {
namespace {

using test::WaitFor;

QString Sources(int count) {
  const char* kinds[] = {"kiss-tcp", "aprs-is", "kiss-tcp"};
  QString ini;
  for (int i = 0; i < count; ++i)
    ini += QStringLiteral(
               "[Connection%1]\r\nTransport=%2\r\nServer=127.0.0.1\r\nPort=%3\r\nCallsign=N0CALL-5\r\n")
               .arg(i == 0 ? QString() : QString::number(i + 1), QString::fromLatin1(kinds[i]))
               .arg(43461 + i);
  return ini;
}

// What is wrong with the page as it stands: controls drawn over each other or cut at the
// page's right edge.
QStringList Overlaps(const TMainForm& form) {
  const auto* scroll = form.tsConnection->findChild<QScrollArea*>(QStringLiteral("sbConnection"));
  QWidget* content = scroll->widget();
  QList<QWidget*> shown;
  for (QWidget* w : content->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w->isVisibleTo(form.tsConnection) && !w->geometry().isEmpty()) shown << w;
  QStringList wrong;
  const auto name = [](const QWidget* w) {
    const auto* label = qobject_cast<const QLabel*>(w);
    return w->objectName().isEmpty() && label ? label->text() : w->objectName();
  };
  for (qsizetype i = 0; i < shown.size(); ++i) {
    if (shown[i]->geometry().right() >= scroll->viewport()->width())
      wrong << name(shown[i]) + QStringLiteral(" cut at the right (%1 to %2 of %3)")
                                    .arg(shown[i]->x())
                                    .arg(shown[i]->geometry().right())
                                    .arg(scroll->viewport()->width());
    for (qsizetype j = i + 1; j < shown.size(); ++j)
      if (shown[i]->geometry().intersects(shown[j]->geometry()))
        wrong << name(shown[i]) + QStringLiteral(" over ") + name(shown[j]);
  }
  return wrong;
}

TEST(ConnectionLayout, SeveralSourcesLeaveEveryControlItsOwnPlace) {
  for (const int count : {2, 3}) {
    test::TFormEnvironment env;
    QFile ini(QString::fromStdString(env.IniFile()));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(Sources(count).toLatin1());
    ini.close();
    TMainForm form(env.Setup());
    form.show();
    form.PageControl1->setCurrentWidget(form.tsConnection);
    ASSERT_TRUE(WaitFor([&] { return form.lbSources->count() == count && form.lbSources->isVisible(); }));
    const QSize designed = form.size();
    for (const QSize size : {designed, QSize(900, 600), QSize(1280, 860)}) {
      form.resize(size);
      for (int row = 0; row < count; ++row) {
        SCOPED_TRACE(QStringLiteral("%1 sources, %2x%3, source %4 chosen")
                         .arg(count)
                         .arg(size.width())
                         .arg(size.height())
                         .arg(row + 1)
                         .toStdString());
        form.lbSources->setCurrentRow(row);
        QCoreApplication::processEvents();
        EXPECT_EQ(Overlaps(form).join(QStringLiteral("; ")).toStdString(), "");
        // A line per source, wide enough for its name and address.
        const QFontMetrics metrics = form.lbSources->fontMetrics();
        for (int i = 0; i < count; ++i) {
          const QRect line = form.lbSources->visualItemRect(form.lbSources->item(i));
          EXPECT_LT(line.height(), 2 * metrics.height());
          EXPECT_GE(line.width(), metrics.horizontalAdvance(QStringLiteral("1. KISS 127.0.0.1:43461")));
        }
        // The hint under the answering box on one line, none of it cut.
        ASSERT_TRUE(form.lblAnswerHelp->isVisible());
        EXPECT_GE(form.lblAnswerHelp->contentsRect().width(),
                  form.lblAnswerHelp->indent() +
                      form.lblAnswerHelp->fontMetrics().horizontalAdvance(form.lblAnswerHelp->text()));
      }
    }
  }
}

// The NWS page at the window's own size: its groups keep the height their choices need, one
// under the other, and the page scrolls to them instead of pressing them together.
TEST(NwsOptionsLayout, TheGroupsKeepTheirHeightAndScroll) {
  test::TFormEnvironment env;
  TMainForm form(env.Setup());
  form.show();
  form.PageControl1->setCurrentWidget(form.tsNwsOptions);
  ASSERT_TRUE(WaitFor([&] { return form.gbPaper->isVisibleTo(&form) && form.gbPaper->height() > 0; }));
  for (const QGroupBox* box : {form.gbNwsMessage, form.gbPaper, form.gbFinger}) {
    SCOPED_TRACE(box->objectName().toStdString());
    EXPECT_GE(box->height(), box->minimumSizeHint().height());
  }
  EXPECT_FALSE(form.gbNwsMessage->geometry().intersects(form.gbPaper->geometry()));
  auto* scroll = form.tsNwsOptions->findChild<QScrollArea*>(QStringLiteral("sbNwsOptions"));
  ASSERT_NE(scroll, nullptr);
  scroll->ensureWidgetVisible(form.cbOwnTraffic);
  QCoreApplication::processEvents();
  EXPECT_FALSE(form.cbOwnTraffic->visibleRegion().isEmpty());
}

}  // namespace
}  // namespace qm
