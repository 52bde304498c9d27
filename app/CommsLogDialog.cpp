#include "app/CommsLogDialog.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QRadioButton>
#include <QTimeZone>
#include <QVBoxLayout>
#include <stdexcept>

#include "print/Ics309.h"

namespace qm {

namespace {

QDateTime AsQt(TDateTime utc) {
  const TDateTimeParts p = DecodeDateTime(utc);
  return QDateTime(QDate(p.Year, p.Month, p.Day), QTime(p.Hour, p.Minute), QTimeZone::utc());
}

TDateTime FromQt(const QDateTime& time) {
  const QDateTime utc = time.toUTC();
  return EncodeDateTime({utc.date().year(), utc.date().month(), utc.date().day(), utc.time().hour(),
                         utc.time().minute(), 0, 0});
}

}  // namespace

TCommsLogDialog::TCommsLogDialog(TDateTime nowUtc, TDateTime startedUtc, QWidget* parent)
    : QDialog(parent), FNowUtc(nowUtc), FStartedUtc(startedUtc) {
  setObjectName(QStringLiteral("dlgCommsLog"));
  setWindowTitle(QStringLiteral("ICS-309 communications log"));
  rbOperational =
      new QRadioButton(QStringLiteral("This operational period (since %1 UTC)").arg(MinuteText(startedUtc)));
  rbOperational->setObjectName(QStringLiteral("rbOperational"));
  rbOperational->setChecked(true);
  rbToday = new QRadioButton(QStringLiteral("Today (UTC)"));
  rbToday->setObjectName(QStringLiteral("rbToday"));
  rbFromTo = new QRadioButton(QStringLiteral("From – to (UTC):"));
  rbFromTo->setObjectName(QStringLiteral("rbFromTo"));
  TDateTime from = 0, to = 0;
  NamedLogPeriod(lpToday, nowUtc, startedUtc, from, to);
  const auto edit = [this](const char* name, TDateTime value) {
    auto* e = new QDateTimeEdit(AsQt(value), this);
    e->setObjectName(QString::fromLatin1(name));
    e->setTimeSpec(Qt::UTC);
    e->setDisplayFormat(QStringLiteral("yyyy-MM-dd HH:mm"));
    e->setEnabled(false);
    connect(rbFromTo, &QRadioButton::toggled, e, &QWidget::setEnabled);
    return e;
  };
  dtFrom = edit("dtFrom", from);
  dtTo = edit("dtTo", to);
  cbPrint = new QCheckBox(QStringLiteral("Print it too"));
  cbPrint->setObjectName(QStringLiteral("cbPrint"));
  auto* range = new QFormLayout;
  range->addRow(QStringLiteral("From"), dtFrom);
  range->addRow(QStringLiteral("To"), dtTo);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Save | QDialogButtonBox::Cancel);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(rbOperational);
  layout->addWidget(rbToday);
  layout->addWidget(rbFromTo);
  layout->addLayout(range);
  layout->addWidget(cbPrint);
  layout->addWidget(buttons);
}

TCommsLogChoice TCommsLogDialog::Choice() const {
  TCommsLogChoice choice;
  choice.Print = cbPrint->isChecked();
  if (rbFromTo->isChecked()) {
    choice.FromUtc = FromQt(dtFrom->dateTime());
    choice.ToUtc = FromQt(dtTo->dateTime());
    if (choice.ToUtc <= choice.FromUtc)
      throw std::runtime_error("The period ends before it starts: choose a \"to\" after its \"from\"");
  } else {
    NamedLogPeriod(rbToday->isChecked() ? lpToday : lpOperational, FNowUtc, FStartedUtc, choice.FromUtc,
                   choice.ToUtc);
  }
  return choice;
}

}  // namespace qm
