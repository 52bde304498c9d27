#include "app/BoardKeysDialog.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <utility>
#include <vector>

#include "web/BoardKeys.h"

namespace qm {

namespace {

template <typename W>
W* Named(W* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

}  // namespace

TBoardKeysDialog::TBoardKeysDialog(std::string keyFile,
                                   std::function<QString(const std::string& key)> handOver, QWidget* parent)
    : QDialog(parent), FKeyFile(std::move(keyFile)), FHandOver(std::move(handOver)) {
  setObjectName(QStringLiteral("BoardKeysDialog"));
  setWindowTitle(QStringLiteral("Board keys"));

  tvKeys = Named(new QTreeWidget, "tvKeys");
  tvKeys->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Rights")});
  tvKeys->setRootIsDecorated(false);
  tvKeys->setSelectionMode(QAbstractItemView::SingleSelection);
  tvKeys->header()->setSectionResizeMode(0, QHeaderView::Stretch);
  tvKeys->header()->setStretchLastSection(false);
  tvKeys->setToolTip(QStringLiteral("Choose a key to see the address that opens the board with it"));
  btnRevokeKey = Named(new QPushButton(QStringLiteral("&Revoke...")), "btnRevokeKey");
  btnRevokeKey->setToolTip(
      QStringLiteral("The chosen key no longer opens the board; pages open with it end"));
  btnRevokeKey->setEnabled(false);

  edKeyName = Named(new QLineEdit, "edKeyName");
  edKeyName->setMaxLength(static_cast<int>(kMaxBoardKeyName));
  edKeyName->setPlaceholderText(QStringLiteral("e.g. shelter-desk"));
  edKeyName->setToolTip(
      QStringLiteral("Who the key is for: letters, digits, \"-\", \"_\" or \".\"; "
                     "the log and the history name its acts by it"));
  cbKeyCanAct = Named(new QCheckBox(QStringLiteral("Can &act")), "cbKeyCanAct");
  cbKeyCanAct->setToolTip(
      QStringLiteral("Besides seeing the board: reprint, acknowledge alarms, clear bulletin lines and send"));
  btnMakeKey = Named(new QPushButton(QStringLiteral("&Make key")), "btnMakeKey");
  btnMakeKey->setDefault(true);
  lblKeyProblem = Named(new QLabel, "lblKeyProblem");
  lblKeyProblem->setWordWrap(true);
  edKeyUrl = Named(new QLineEdit, "edKeyUrl");
  edKeyUrl->setReadOnly(true);
  edKeyUrl->setToolTip(
      QStringLiteral("Hand this address to the position the key is for: it opens the board"));
  btnCopyKeyUrl = Named(new QPushButton(QStringLiteral("&Copy")), "btnCopyKeyUrl");
  btnCopyKeyUrl->setEnabled(false);
  auto* close = new QPushButton(QStringLiteral("Close"));
  connect(close, &QPushButton::clicked, this, &QDialog::hide);

  auto* listColumn = new QVBoxLayout;
  listColumn->addWidget(btnRevokeKey);
  listColumn->addStretch(1);
  auto* listRow = new QHBoxLayout;
  listRow->addWidget(tvKeys, 1);
  listRow->addLayout(listColumn);
  auto* make = new QGridLayout;
  auto* nameLabel = new QLabel(QStringLiteral("&New key:"));
  nameLabel->setBuddy(edKeyName);
  make->addWidget(nameLabel, 0, 0);
  make->addWidget(edKeyName, 0, 1);
  make->addWidget(cbKeyCanAct, 0, 2);
  make->addWidget(btnMakeKey, 0, 3);
  make->addWidget(lblKeyProblem, 1, 1, 1, 3);
  auto* urlLabel = new QLabel(QStringLiteral("Hand over:"));
  urlLabel->setBuddy(edKeyUrl);
  make->addWidget(urlLabel, 2, 0);
  make->addWidget(edKeyUrl, 2, 1, 1, 2);
  make->addWidget(btnCopyKeyUrl, 2, 3);
  make->setColumnStretch(1, 1);
  auto* closeRow = new QHBoxLayout;
  closeRow->addStretch(1);
  closeRow->addWidget(close);
  auto* page = new QVBoxLayout(this);
  page->addWidget(new QLabel(QStringLiteral("Keys that open the board for other positions:")));
  page->addLayout(listRow, 1);
  page->addLayout(make);
  page->addLayout(closeRow);
  resize(560, 340);

  connect(edKeyName, &QLineEdit::textChanged, this, [this] { ShowProblem(); });
  connect(edKeyName, &QLineEdit::returnPressed, this, [this] {
    if (btnMakeKey->isEnabled()) Run([this] { btnMakeKeyClick(); });
  });
  connect(btnMakeKey, &QPushButton::clicked, this, [this] { Run([this] { btnMakeKeyClick(); }); });
  connect(btnRevokeKey, &QPushButton::clicked, this, [this] { Run([this] { btnRevokeKeyClick(); }); });
  connect(btnCopyKeyUrl, &QPushButton::clicked, this, [this] { btnCopyKeyUrlClick(); });
  connect(tvKeys, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    btnRevokeKey->setEnabled(item != nullptr);
    const QString key = item ? item->data(0, Qt::UserRole).toString() : QString();
    edKeyUrl->setText(key.isEmpty() || !FHandOver ? QString() : FHandOver(key.toStdString()));
    edKeyUrl->setCursorPosition(0);  // the address's start in sight: its host and port
    btnCopyKeyUrl->setEnabled(!edKeyUrl->text().isEmpty());
  });
  ShowProblem();
}

void TBoardKeysDialog::ShowKeys() {
  Run([this] { Refresh(); });
  show();
  raise();
  activateWindow();
  edKeyName->setFocus();
}

void TBoardKeysDialog::Refresh() {
  const QString chosen = tvKeys->currentItem() ? tvKeys->currentItem()->text(0) : QString();
  tvKeys->clear();
  const std::vector<TBoardKey> keys = ReadBoardKeys(FKeyFile);
  for (const TBoardKey& k : keys) {
    auto* item =
        new QTreeWidgetItem(tvKeys, {QString::fromStdString(k.Name), QString::fromLatin1(BoardKeyRights(k))});
    item->setData(0, Qt::UserRole, QString::fromStdString(k.Key));
    if (item->text(0) == chosen) tvKeys->setCurrentItem(item);
  }
  if (!tvKeys->currentItem()) emit tvKeys->currentItemChanged(nullptr, nullptr);
  tvKeys->resizeColumnToContents(1);
}

void TBoardKeysDialog::ShowProblem() {
  const std::string name = edKeyName->text().trimmed().toStdString();
  const bool fits = IsBoardKeyName(name);
  lblKeyProblem->setText(
      name.empty() || fits
          ? QString()
          : QStringLiteral("A key's name has up to %1 letters, digits, \"-\", \"_\" or \".\"")
                .arg(kMaxBoardKeyName));
  btnMakeKey->setEnabled(fits);
}

void TBoardKeysDialog::btnMakeKeyClick() {
  const QString name = edKeyName->text().trimmed();
  if (!IsBoardKeyName(name.toStdString())) return;
  if (!tvKeys->findItems(name, Qt::MatchExactly, 0).isEmpty() &&
      !Ask(QStringLiteral("There is a key named \"%1\" already. Make a new one? The old one will no longer "
                          "open the board.")
               .arg(name)))
    return;
  bool replaced = false;
  const TBoardKey made = MakeBoardKey(FKeyFile, name.toStdString(), cbKeyCanAct->isChecked(), replaced);
  if (Changed) Changed();
  edKeyName->clear();
  cbKeyCanAct->setChecked(false);
  Refresh();
  const QList<QTreeWidgetItem*> found = tvKeys->findItems(name, Qt::MatchExactly, 0);
  if (!found.isEmpty()) tvKeys->setCurrentItem(found.front());
  lblKeyProblem->setText(QStringLiteral("Key \"%1\" made (%2): hand over the address below")
                             .arg(name, QString::fromLatin1(BoardKeyRights(made))));
}

void TBoardKeysDialog::btnRevokeKeyClick() {
  const QTreeWidgetItem* item = tvKeys->currentItem();
  if (!item) return;
  const QString name = item->text(0);
  if (!Ask(QStringLiteral("Revoke the key \"%1\"? The board's pages opened with it end.").arg(name))) return;
  const bool revoked = RevokeBoardKey(FKeyFile, name.toStdString());
  if (Changed) Changed();
  Refresh();
  lblKeyProblem->setText(revoked ? QStringLiteral("Key \"%1\" revoked").arg(name)
                                 : QStringLiteral("There was no key \"%1\" any more").arg(name));
}

void TBoardKeysDialog::btnCopyKeyUrlClick() {
  QGuiApplication::clipboard()->setText(edKeyUrl->text());
}

bool TBoardKeysDialog::Ask(const QString& question) {
  if (Confirm) return Confirm(question);
  return QMessageBox::question(this, windowTitle(), question, QMessageBox::Yes | QMessageBox::No,
                               QMessageBox::No) == QMessageBox::Yes;
}

}  // namespace qm
