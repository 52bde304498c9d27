#include "widgets/PayPalLabel.h"

#include <string_view>

namespace qm {
namespace {

constexpr std::string_view kAllowed =
    "1234567890ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz:/.?=_-$(){}~&";

}  // namespace

QString TPayPalLabel::EscapeUrl(const QString& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const QByteArray bytes = text.toUtf8();
  QByteArray out;
  out.reserve(bytes.size() * 3);
  for (const char c : bytes) {
    if (kAllowed.find(c) != std::string_view::npos) {
      out += c;
    } else {
      const auto b = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0x0F];
    }
  }
  return QString::fromLatin1(out);
}

QString TPayPalLabel::BuildAddress() const {
  const QString plain = QStringLiteral("https://www.paypal.com/cgi-bin/webscr?cmd=_xclick&business=") +
                        FEmail + QStringLiteral("&item_name=") + FCompany + QStringLiteral(" - ") + FProduct +
                        QStringLiteral("&no_shipping=2&no_note=1&tax=0") +
                        QStringLiteral("&currency_code=USD&bn=PP+DonationsBF&charset=UTF+8");
  return EscapeUrl(plain);
}

void TPayPalLabel::BeforeRelease() {
  SetURL(BuildAddress());
}

}  // namespace qm
