// A link label that opens a donation page of the PayPal payment service, built from
// the receiving organisation, the product and the receiving account at each click.
#pragma once

#include "widgets/URLLabel.h"

namespace qm {

class TPayPalLabel : public TUrlLabel {
  Q_OBJECT

 public:
  using TUrlLabel::TUrlLabel;

  const QString& Company() const { return FCompany; }
  void SetCompany(const QString& value) { FCompany = value; }
  const QString& Product() const { return FProduct; }
  void SetProduct(const QString& value) { FProduct = value; }
  const QString& Email() const { return FEmail; }
  void SetEmail(const QString& value) { FEmail = value; }

  // The escaped donation address for the current Company, Product and Email.
  QString BuildAddress() const;

  // Keeps the characters of the allowed set and writes every other byte of the text's
  // UTF-8 form as "%" and two upper-case hexadecimal digits.
  static QString EscapeUrl(const QString& text);

 protected:
  void BeforeRelease() override;

 private:
  QString FCompany;
  QString FProduct;
  QString FEmail;
};

}  // namespace qm
