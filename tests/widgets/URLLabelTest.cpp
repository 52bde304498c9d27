#include "widgets/URLLabel.h"

#include <gtest/gtest.h>
#include <QEnterEvent>
#include <QMouseEvent>

#include <vector>

#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

const QColor kBlue(0, 0, 255), kRed(255, 0, 0), kNavy(0, 0, 128), kGreen(0, 128, 0);

class UrlLabelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    label.resize(120, 20);
    label.SetOpener([this](const QString& target) { opened.push_back(target); });
  }

  void Press(QPointF at = {10, 10}, Qt::MouseButton button = Qt::LeftButton) {
    QMouseEvent e(QEvent::MouseButtonPress, at, label.mapToGlobal(at), button, button, Qt::NoModifier);
    QCoreApplication::sendEvent(&label, &e);
  }
  void Release(QPointF at = {10, 10}, Qt::MouseButton button = Qt::LeftButton) {
    QMouseEvent e(QEvent::MouseButtonRelease, at, label.mapToGlobal(at), button, Qt::NoButton,
                  Qt::NoModifier);
    QCoreApplication::sendEvent(&label, &e);
  }
  void Enter() {
    QEnterEvent e(QPointF(5, 5), QPointF(5, 5), label.mapToGlobal(QPointF(5, 5)));
    QCoreApplication::sendEvent(&label, &e);
  }
  void Leave() {
    QEvent e(QEvent::Leave);
    QCoreApplication::sendEvent(&label, &e);
  }
  void Click() {
    Press();
    Release();
  }

  test::TAppGuard guard;  // before any widget
  TUrlLabel label{QStringLiteral("example.org")};
  std::vector<QString> opened;
};

TEST_F(UrlLabelTest, StartsAsAnUnvisitedUnderlinedBlueLink) {
  EXPECT_EQ(label.LinkColor(), kBlue);
  EXPECT_EQ(label.ALinkColor(), kRed);
  EXPECT_EQ(label.VLinkColor(), kNavy);
  EXPECT_EQ(label.HotColor(), kRed);
  EXPECT_EQ(label.FontColor(), kBlue);
  EXPECT_TRUE(label.font().underline());
  EXPECT_EQ(label.cursor().shape(), Qt::PointingHandCursor);
  EXPECT_FALSE(label.Visited());
  EXPECT_FALSE(label.Pressed());
  EXPECT_FALSE(label.Hovering());
  EXPECT_TRUE(label.URL().isEmpty());
}

TEST_F(UrlLabelTest, ColourFollowsPointerAndButtons) {
  enum Step { kEnter, kLeave, kPress, kRelease, kReleaseOutside };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    QColor colour;
    bool visited;
    bool hovering;
    bool pressed;
    int opened;
  } cases[] = {
      {"enter", {kEnter}, kRed, false, true, false, 0},
      {"enter then leave", {kEnter, kLeave}, kBlue, false, false, false, 0},
      {"press", {kPress}, kRed, false, false, true, 0},
      {"click", {kPress, kRelease}, kNavy, true, false, false, 1},
      {"hover, click, leave", {kEnter, kPress, kRelease, kLeave}, kNavy, true, false, false, 1},
      {"hover after a click", {kPress, kRelease, kEnter}, kRed, true, true, false, 1},
      {"enter while pressed", {kPress, kEnter}, kRed, false, true, true, 0},
      {"press, release outside", {kPress, kReleaseOutside}, kBlue, false, false, false, 0},
      {"click, then press and release outside",
       {kPress, kRelease, kPress, kReleaseOutside},
       kNavy,
       true,
       false,
       false,
       1},
      {"release without a press here", {kRelease}, kBlue, false, false, false, 0},
      {"two clicks", {kPress, kRelease, kPress, kRelease}, kNavy, true, false, false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TUrlLabel fresh(QStringLiteral("example.org"));
    fresh.resize(120, 20);
    int count = 0;
    fresh.SetOpener([&](const QString&) { ++count; });
    for (Step s : c.steps) {
      const QPointF inside(10, 10), outside(-1, 10);
      const Qt::MouseButton b = Qt::LeftButton;
      if (s == kEnter) {
        QEnterEvent e(inside, inside, inside);
        QCoreApplication::sendEvent(&fresh, &e);
      } else if (s == kLeave) {
        QEvent e(QEvent::Leave);
        QCoreApplication::sendEvent(&fresh, &e);
      } else if (s == kPress) {
        QMouseEvent e(QEvent::MouseButtonPress, inside, inside, b, b, Qt::NoModifier);
        QCoreApplication::sendEvent(&fresh, &e);
      } else {
        QMouseEvent e(QEvent::MouseButtonRelease, s == kRelease ? inside : outside, inside, b, Qt::NoButton,
                      Qt::NoModifier);
        QCoreApplication::sendEvent(&fresh, &e);
      }
    }
    EXPECT_EQ(fresh.FontColor(), c.colour);
    EXPECT_EQ(fresh.Visited(), c.visited);
    EXPECT_EQ(fresh.Hovering(), c.hovering);
    EXPECT_EQ(fresh.Pressed(), c.pressed);
    EXPECT_EQ(count, c.opened);
  }
}

TEST_F(UrlLabelTest, ReleasePointsOnTheEdgeCountAsInside) {
  struct Case {
    QPointF at;
    bool opens;
  } cases[] = {
      {{0, 0}, true},    {{120, 20}, true}, {{-0.5, 5}, false}, {{5, -1}, false},
      {{121, 5}, false}, {{5, 21}, false},  {{60, 10}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.at.x() << "," << c.at.y());
    opened.clear();
    Press();
    Release(c.at);
    EXPECT_EQ(opened.size(), c.opens ? 1u : 0u);
    EXPECT_FALSE(label.Pressed());
  }
}

TEST_F(UrlLabelTest, AnyButtonClicks) {
  Press({10, 10}, Qt::RightButton);
  EXPECT_TRUE(label.Pressed());
  Release({10, 10}, Qt::RightButton);
  EXPECT_EQ(opened.size(), 1u);
}

TEST_F(UrlLabelTest, OpensTheAddressOrElseTheCaption) {
  Click();
  label.SetURL(QStringLiteral("https://quillmark.example/"));
  Click();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_EQ(opened[0], QStringLiteral("example.org"));
  EXPECT_EQ(opened[1], QStringLiteral("https://quillmark.example/"));
}

TEST_F(UrlLabelTest, FontColourSetAtRestBecomesTheLinkColour) {
  label.SetFontColor(kGreen);
  EXPECT_EQ(label.LinkColor(), kGreen);
  EXPECT_EQ(label.VLinkColor(), kNavy);

  // A palette given from outside counts the same.
  QPalette p = label.palette();
  p.setColor(QPalette::WindowText, kRed);
  label.setPalette(p);
  EXPECT_EQ(label.LinkColor(), kRed);

  Click();  // visited: now the colour set becomes the visited colour
  label.SetFontColor(kGreen);
  EXPECT_EQ(label.VLinkColor(), kGreen);
  EXPECT_EQ(label.LinkColor(), kRed);
}

TEST_F(UrlLabelTest, FontColourSetWhileHoveringOrPressedIsNotTaken) {
  Enter();
  label.SetFontColor(kGreen);
  Press();
  label.SetFontColor(kGreen);
  EXPECT_EQ(label.LinkColor(), kBlue);
  EXPECT_EQ(label.VLinkColor(), kNavy);
  Release({-5, -5});
  Leave();
  EXPECT_EQ(label.FontColor(), kBlue);
}

TEST_F(UrlLabelTest, AssigningLinkColoursShowsOnlyTheOneInUse) {
  label.SetVLinkColor(kGreen);  // not visited: only kept
  EXPECT_EQ(label.FontColor(), kBlue);
  label.SetLinkColor(kRed);  // not visited: shown
  EXPECT_EQ(label.FontColor(), kRed);
  EXPECT_EQ(label.LinkColor(), kRed);

  Click();
  EXPECT_EQ(label.FontColor(), kGreen);
  label.SetLinkColor(kBlue);  // visited: only kept
  EXPECT_EQ(label.FontColor(), kGreen);
  EXPECT_EQ(label.LinkColor(), kBlue);
  label.SetVLinkColor(kNavy);  // visited: shown
  EXPECT_EQ(label.FontColor(), kNavy);

  label.SetALinkColor(kGreen);
  label.SetHotColor(kGreen);
  EXPECT_EQ(label.FontColor(), kNavy);
  Enter();
  EXPECT_EQ(label.FontColor(), kGreen);
}

TEST_F(UrlLabelTest, LinkColourAssignedDuringHoverIsKeptForLater) {
  Enter();
  label.SetLinkColor(kGreen);
  EXPECT_EQ(label.FontColor(), kRed);  // still the hot colour
  Leave();
  EXPECT_EQ(label.FontColor(), kGreen);
  EXPECT_EQ(label.LinkColor(), kGreen);
}

}  // namespace
}  // namespace qm
