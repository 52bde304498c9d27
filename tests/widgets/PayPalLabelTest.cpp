#include "widgets/PayPalLabel.h"

#include <gtest/gtest.h>
#include <QMouseEvent>

#include <vector>

#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

const QString kTail =
    QStringLiteral("&no_shipping=2&no_note=1&tax=0&currency_code=USD&bn=PP%2BDonationsBF&charset=UTF%2B8");

TEST(EscapeUrl, KeepsTheAllowedSetAndEscapesEveryOtherByte) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"", ""},
      {"1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~&",
       "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~&"},
      {"100%", "100%25"},
      {"a+b", "a%2Bb"},
      {"me@example.org", "me%40example.org"},
      {"a b", "a%20b"},
      {"#!,;'\"*", "%23%21%2C%3B%27%22%2A"},
      {"\xC3\xA9", "%C3%A9"},         // é, as its UTF-8 bytes
      {"\xE2\x82\xAC", "%E2%82%AC"},  // €
      {"\t\n", "%09%0A"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(TPayPalLabel::EscapeUrl(QString::fromUtf8(c.in)), QString::fromLatin1(c.out));
  }
}

TEST(PayPalAddress, BuiltFromTheThreePropertiesAndEscapedWhole) {
  struct Case {
    const char* company;
    const char* product;
    const char* email;
    const char* expectedHead;
  } cases[] = {
      {"The Quillmark developers", "Quillmark", "donations@quillmark.example",
       "https://www.paypal.com/cgi-bin/webscr?cmd=_xclick&business=donations%40quillmark.example"
       "&item_name=The%20Quillmark%20developers%20-%20Quillmark"},
      {"", "Quillmark", "",
       "https://www.paypal.com/cgi-bin/webscr?cmd=_xclick&business=&item_name=%20-%20Quillmark"},
      {"50% off", "Q+", "a@b",
       "https://www.paypal.com/cgi-bin/webscr?cmd=_xclick&business=a%40b"
       "&item_name=50%25%20off%20-%20Q%2B"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.company);
    test::App();
    TPayPalLabel label;
    label.SetCompany(QString::fromUtf8(c.company));
    label.SetProduct(QString::fromUtf8(c.product));
    label.SetEmail(QString::fromUtf8(c.email));
    EXPECT_EQ(label.BuildAddress(), QString::fromLatin1(c.expectedHead) + kTail);
  }
}

TEST(PayPalLabel, EachReleaseBuildsTheAddressAnew) {
  test::App();
  TPayPalLabel label(QStringLiteral("Donate"));
  label.resize(80, 20);
  std::vector<QString> opened;
  label.SetOpener([&](const QString& target) { opened.push_back(target); });
  label.SetProduct(QStringLiteral("Quillmark"));
  label.SetEmail(QStringLiteral("first@quillmark.example"));
  EXPECT_TRUE(label.URL().isEmpty());  // nothing is built before a click

  const auto click = [&] {
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, at, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&label, &press);
    QCoreApplication::sendEvent(&label, &release);
  };
  click();
  label.SetEmail(QStringLiteral("second@quillmark.example"));
  click();
  ASSERT_EQ(opened.size(), 2u);
  EXPECT_TRUE(opened[0].contains(QStringLiteral("business=first%40quillmark.example")));
  EXPECT_TRUE(opened[1].contains(QStringLiteral("business=second%40quillmark.example")));
  EXPECT_EQ(label.URL(), opened[1]);
  EXPECT_EQ(label.FontColor(), QColor(0, 0, 128));
}

}  // namespace
}  // namespace qm
