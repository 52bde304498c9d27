#include "app/ErrorBox.h"

#include <QMessageBox>
#include <QUrl>
#include <exception>

#include "settings/InstanceLock.h"

namespace qm {

QString ErrorBoxText(const QString& message) {
  if (message.isEmpty() || message.endsWith(QLatin1Char('.'))) return message;
  return message + QLatin1Char('.');
}

void ShowErrorBox(QWidget* parent, const QString& message) {
  QMessageBox box(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle), ErrorBoxText(message),
                  QMessageBox::Ok, parent);
  box.exec();
}

void ShowNoticeBox(QWidget* parent, const QString& message) {
  QMessageBox box(QMessageBox::Information, QString::fromLatin1(kApplicationTitle), ErrorBoxText(message),
                  QMessageBox::Ok, parent);
  box.exec();
}

QString AlreadyRunningBoxText(const TInstanceLock& lock, bool withoutWindow, const QString& boardUrl) {
  QString text = lock.AlreadyRunningText();
  if (const qint64 process = lock.HolderProcess(); process != 0)
    text += QStringLiteral(" (process %1%2)")
                .arg(process)
                .arg(withoutWindow ? QStringLiteral(", without a window") : QString());
  else if (withoutWindow)
    text += QStringLiteral(" (without a window)");
  if (boardUrl.isEmpty()) return text + QStringLiteral("; quillmark --status says how it stands");
  QUrl shown(boardUrl);
  shown.setQuery(QString());
  return text + QStringLiteral("; its board opens in your browser: ") + shown.toString();
}

void ShowErrorBoxLater(QWidget* parent, const QString& message) {
  auto* box = new QMessageBox(QMessageBox::Critical, QString::fromLatin1(kApplicationTitle),
                              ErrorBoxText(message), QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setModal(false);
  box->show();
}

bool RunGuarded(const std::function<void()>& action, const std::function<void(const QString&)>& report) {
  try {
    action();
    return true;
  } catch (const std::exception& e) {
    report(QString::fromUtf8(e.what()));
  } catch (...) {
    report(QStringLiteral("Unknown failure"));
  }
  return false;
}

}  // namespace qm
