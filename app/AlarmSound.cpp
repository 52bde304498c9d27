#include "app/AlarmSound.h"

#include <QApplication>
#ifdef QM_HAVE_MULTIMEDIA
#include <QAudioDevice>
#include <QMediaDevices>
#include <QSoundEffect>
#include <QUrl>
#endif

namespace qm {

TAlarmSound::TAlarmSound(QObject* parent) : QObject(parent) {}

TAlarmSound::~TAlarmSound() = default;

void TAlarmSound::Play() {
#ifdef QM_HAVE_MULTIMEDIA
  if (!FTried) {
    FTried = true;
    const QAudioDevice output = QMediaDevices::defaultAudioOutput();
    if (!output.isNull()) {
      FEffect = new QSoundEffect(output, this);
      FEffect->setSource(QUrl(QStringLiteral("qrc:/sounds/alarm.wav")));
    }
  }
  // A sound that cannot be loaded or played (the device went away) leaves the bell.
  if (FEffect && FEffect->status() != QSoundEffect::Error) {
    FOwnSound = true;
    FEffect->stop();
    FEffect->play();  // plays once loaded when it is still loading
    return;
  }
#endif
  FOwnSound = false;
  RingBell();
}

void TAlarmSound::RingBell() {
  if (Bell)
    Bell();
  else
    QApplication::beep();
}

}  // namespace qm
