// The alarm's call: the program's own two-tone sound (app/sounds/alarm.wav) through Qt
// Multimedia where the build has it and the machine an audio output, the system's bell
// otherwise. Nothing is asked of the audio system before the first alarm, so a start that
// sounds none pays nothing for it.
#pragma once

#include <QObject>
#include <functional>

class QSoundEffect;

namespace qm {

class TAlarmSound : public QObject {
  Q_OBJECT

 public:
  explicit TAlarmSound(QObject* parent = nullptr);
  ~TAlarmSound() override;

  // Sounds once; a call while the sound still plays starts it again.
  void Play();
  // Whether the last Play was the program's own sound (false: the bell).
  bool PlayedOwnSound() const { return FOwnSound; }

  // The bell; QApplication::beep when empty.
  std::function<void()> Bell;

 private:
  void RingBell();

  QSoundEffect* FEffect = nullptr;
  bool FTried = false;  // the audio output was looked for
  bool FOwnSound = false;
};

}  // namespace qm
