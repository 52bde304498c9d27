#include "app/ErrorBox.h"

#include <QMessageBox>
#include <exception>

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
