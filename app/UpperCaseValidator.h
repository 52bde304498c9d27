#pragma once
// Turns typed letters into capitals as they are entered: a callsign typed small is the same call.

#include <QValidator>

namespace qm {

class TUpperCaseValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int&) const override {
    for (QChar& c : input) c = c.toUpper();
    return Acceptable;
  }
};

}  // namespace qm
