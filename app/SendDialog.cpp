#include "app/SendDialog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/UpperCaseValidator.h"
#include "base/ProgramText.h"
#include "select/Sending.h"

namespace qm {

namespace {

constexpr int kMaxText = static_cast<int>(kSendTextMost);

}  // namespace

TSendDialog::TSendDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SendDialog"));
  setWindowTitle(QStringLiteral("Send a message"));
  edSendTo = new QLineEdit;
  edSendTo->setObjectName(QStringLiteral("edSendTo"));
  edSendTo->setPlaceholderText(QStringLiteral("callsign, e.g. K2XYZ-9"));
  edSendTo->setMaxLength(9);
  edSendTo->setValidator(new TUpperCaseValidator(edSendTo));
  edSendText = new QLineEdit;
  edSendText->setObjectName(QStringLiteral("edSendText"));
  edSendText->setMaxLength(kMaxText);
  edSendText->setPlaceholderText(QStringLiteral("up to %1 characters").arg(kMaxText));
  edSendText->setMinimumWidth(edSendText->fontMetrics().horizontalAdvance(QString(kMaxText, u'M')) / 2);
  lblSendProblem = new QLabel;
  lblSendProblem->setObjectName(QStringLiteral("lblSendProblem"));
  lblSendProblem->setWordWrap(true);
  btnSend = new QPushButton(QStringLiteral("&Send"));
  btnSend->setObjectName(QStringLiteral("btnSend"));
  btnSend->setDefault(true);
  btnSend->setToolTip(QStringLiteral(
      "Send it with a number, again and again on a slowing schedule until the station answers"));
  lbSent = new QListWidget;
  lbSent->setObjectName(QStringLiteral("lbSent"));
  // A long text wraps: the state at its end stays in sight.
  lbSent->setWordWrap(true);
  lbSent->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  btnCancelSent = new QPushButton(QStringLiteral("Stop &resending"));
  btnCancelSent->setObjectName(QStringLiteral("btnCancelSent"));
  btnCancelSent->setToolTip(QStringLiteral("Send the chosen message no more"));
  btnCancelSent->setEnabled(false);
  auto* close = new QPushButton(QStringLiteral("Close"));
  connect(close, &QPushButton::clicked, this, &QDialog::hide);

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("&To:"), edSendTo);
  form->addRow(QStringLiteral("Te&xt:"), edSendText);
  auto* sendRow = new QHBoxLayout;
  sendRow->addWidget(lblSendProblem, 1);
  sendRow->addWidget(btnSend);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(btnCancelSent);
  listRow->addStretch(1);
  listRow->addWidget(close);
  auto* page = new QVBoxLayout(this);
  page->addLayout(form);
  page->addLayout(sendRow);
  page->addWidget(new QLabel(QStringLiteral("Sent:")));
  page->addWidget(lbSent, 1);
  page->addLayout(listRow);
  resize(560, 340);

  connect(edSendTo, &QLineEdit::textChanged, this, [this] { ShowProblem(); });
  connect(edSendText, &QLineEdit::textChanged, this, [this] { ShowProblem(); });
  connect(btnSend, &QPushButton::clicked, this, [this] { Run([this] { btnSendClick(); }); });
  connect(edSendText, &QLineEdit::returnPressed, this, [this] {
    if (btnSend->isEnabled()) Run([this] { btnSendClick(); });
  });
  connect(btnCancelSent, &QPushButton::clicked, this, [this] { Run([this] { btnCancelSentClick(); }); });
  connect(lbSent, &QListWidget::currentRowChanged, this, [this](int row) {
    btnCancelSent->setEnabled(row >= 0 && row < static_cast<int>(FShown.size()) &&
                              FShown[static_cast<std::size_t>(row)].State == ssSending);
  });
  ShowProblem();
}

void TSendDialog::Compose(const QString& to) {
  if (!to.isEmpty()) edSendTo->setText(to.toUpper());
  Refresh();
  show();
  raise();
  activateWindow();
  (edSendTo->text().isEmpty() ? edSendTo : edSendText)->setFocus();
}

void TSendDialog::Refresh() {
  const int row = lbSent->currentRow();
  FShown = Sent ? Sent() : std::vector<TSentMessage>{};
  lbSent->clear();
  for (const TSentMessage& m : FShown)
    lbSent->addItem(QStringLiteral("%1 to %2: %3 \u2014 %4")
                        .arg(QString::fromStdString(m.Number), DisplayText(m.To), DisplayText(m.Text),
                             QString::fromStdString(SentStateText(m))));
  if (row >= 0 && row < lbSent->count()) lbSent->setCurrentRow(row);
  emit lbSent->currentRowChanged(lbSent->currentRow());
}

void TSendDialog::ShowProblem() {
  const std::string to = edSendTo->text().trimmed().toStdString();
  const std::string text = edSendText->text().toStdString();
  // Nothing typed yet is no mistake; what is typed is checked as the desk checks it.
  const std::string problem = to.empty() && text.empty() ? std::string() : SendProblem(to, text);
  lblSendProblem->setText(QString::fromStdString(problem));
  btnSend->setEnabled(!to.empty() && !text.empty() && problem.empty());
}

void TSendDialog::btnSendClick() {
  if (!Send) return;
  const std::string number = Send(edSendTo->text().trimmed().toStdString(), edSendText->text().toStdString());
  edSendText->clear();
  Refresh();
  lblSendProblem->setText(QStringLiteral("Sent as number %1").arg(QString::fromStdString(number)));
}

void TSendDialog::btnCancelSentClick() {
  const int row = lbSent->currentRow();
  if (row < 0 || row >= static_cast<int>(FShown.size()) || !Cancel) return;
  Cancel(FShown[static_cast<std::size_t>(row)].Number);
  Refresh();
}

}  // namespace qm
