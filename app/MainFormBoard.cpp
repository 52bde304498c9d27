// The board's page: where the board serves, opening it here, and the keys that open it for other
// positions (the same key file as quillmark --board-key).
#include <QDesktopServices>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>

#include "app/BoardKeysDialog.h"
#include "app/MainForm.h"
#include "run/Board.h"

namespace qm {

QWidget* TMainForm::BuildBoardPage() {
  tsBoard = new QWidget;
  tsBoard->setObjectName(QStringLiteral("tsBoard"));
  auto* grid = new QGridLayout(tsBoard);
  grid->setContentsMargins(6, 4, 6, 4);
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(4);
  lblBoardAddress = new QLabel(QStringLiteral("The board is not started yet"));
  lblBoardAddress->setObjectName(QStringLiteral("lblBoardAddress"));
  lblBoardAddress->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lblBoardAddress->setWordWrap(true);
  lblBoardAddress->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  btnOpenBoard = new QPushButton(QStringLiteral("&Open in browser"));
  btnOpenBoard->setObjectName(QStringLiteral("btnOpenBoard"));
  btnOpenBoard->setToolTip(QStringLiteral("The board in this machine's browser, with the owner's rights"));
  btnOpenBoard->setEnabled(false);
  btnBoardKeys = new QPushButton(QStringLiteral("&Keys..."));
  btnBoardKeys->setObjectName(QStringLiteral("btnBoardKeys"));
  btnBoardKeys->setToolTip(
      QStringLiteral("Keys that open the board for other positions: make, hand over, revoke"));
  auto* note = new QLabel(QStringLiteral(
      "Other positions open the board with a key of their own: a read-only key sees the list, the "
      "history and the alarms; a key that can act also reprints, acknowledges and sends, in its name."));
  note->setObjectName(QStringLiteral("lblBoardNote"));
  note->setWordWrap(true);
  note->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  grid->addWidget(lblBoardAddress, 0, 0, 1, 3);
  grid->addWidget(btnOpenBoard, 1, 0);
  grid->addWidget(btnBoardKeys, 1, 1);
  grid->addWidget(note, 2, 0, 1, 3);
  grid->setColumnStretch(2, 1);
  grid->setRowStretch(3, 1);
  connect(btnOpenBoard, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnOpenBoardClick(); }); });
  connect(btnBoardKeys, &QPushButton::clicked, this, [this] { RunGuarded([this] { btnBoardKeysClick(); }); });
  return tsBoard;
}

void TMainForm::ShowBoard() {
  const TBoardRun* board = FRun->Board();
  const QString url = board ? board->Url() : QString();
  btnOpenBoard->setEnabled(!url.isEmpty());
  if (!url.isEmpty()) {
    // Shown without the owner's token: the page is in sight of whoever stands by.
    QUrl shown(url);
    shown.setQuery(QString());
    lblBoardAddress->setText(QStringLiteral("The board serves at ") + shown.toString());
  } else if (board && !board->Refusal().isEmpty()) {
    lblBoardAddress->setText(QStringLiteral("The board does not serve: ") + board->Refusal());
  } else {
    lblBoardAddress->setText(QStringLiteral("The board is off ([Board] Listen=off or --web off)"));
  }
}

void TMainForm::btnOpenBoardClick() {
  const TBoardRun* board = FRun->Board();
  if (!board || board->Url().isEmpty()) throw std::runtime_error("The board does not serve");
  if (!QDesktopServices::openUrl(QUrl(board->Url())))
    throw std::runtime_error("No browser here opens the board's address");
}

void TMainForm::btnBoardKeysClick() {
  if (!FBoardKeys) {
    // The key file where the board reads it; without a board, where a later start will.
    const TBoardRun* board = FRun->Board();
    const std::string file =
        board && !board->KeyFile().empty() ? board->KeyFile() : BoardKeyFile(FPaths.LogDir);
    FBoardKeys = new TBoardKeysDialog(
        file,
        [this](const std::string& key) {
          const TBoardRun* running = FRun->Board();
          return running ? running->KeyUrl(key) : BoardKeyUrl("127.0.0.1", 0, key);
        },
        this);
    FBoardKeys->Guard = [this](const std::function<void()>& action) { RunGuarded(action); };
    // The board logs each key made or revoked now rather than at its next request.
    FBoardKeys->Changed = [this] {
      if (const TBoardRun* running = FRun->Board(); running && running->Server())
        running->Server()->CheckKeys();
    };
  }
  FBoardKeys->ShowKeys();
}

}  // namespace qm
