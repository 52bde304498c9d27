// The alarms as the window shows them: their choices on the option pages and in [Alarms], the
// banner above the list, the tray's mark and menu entry, and the sound.
#include <QCheckBox>
#include <QSpinBox>
#include <array>
#include <utility>

#include "app/MainForm.h"
#include "run/StoredChoiceTable.h"
#include "run/StoredChoices.h"

namespace qm {

std::array<std::pair<QCheckBox*, TAlarmKind>, kAlarmKindCount> TMainForm::AlarmBoxes() const {
  return {{{cbAlarmOwn, akOwn},
           {cbAlarmListed, akListed},
           {cbAlarmBull, akBulletin},
           {cbAlarmAnn, akAnnouncement},
           {cbAlarmWatches, akWatch},
           {cbAlarmWarnings, akWarning},
           {cbAlarmAdvisories, akAdvisory}}};
}

TAlarmKinds TMainForm::AlarmKindsShown() const {
  TAlarmKinds kinds;
  for (const auto& [box, kind] : AlarmBoxes()) kinds.Set(kind, box->isChecked());
  return kinds;
}

void TMainForm::ReadAlarmOptions() {
  if (!FSettings) return;
  const TDeskChoices c = ReadOptionSection(*FSettings, kAlarmsSection);
  FStoredAlarmKinds = c.AlarmKinds;
  // --alarm chooses for this run only: its kinds are shown, and the file keeps its own.
  const TAlarmKinds shown = FSetup.Options.Alarms.value_or(c.AlarmKinds);
  for (const auto& [box, kind] : AlarmBoxes()) {
    box->setChecked(shown.Has(kind));
    if (FSetup.Options.Alarms) {
      box->setEnabled(false);
      box->setToolTip(QStringLiteral("Chosen by --alarm for this run"));
    }
  }
  cbWelcomeAlarm->setEnabled(!FSetup.Options.Alarms);
  spnAlarmRepeat->setValue(c.AlarmRepeatSeconds);
}

void TMainForm::SaveAlarmOptions() {
  TDeskChoices c = ChoicesOf();
  if (FSetup.Options.Alarms) c.AlarmKinds = FStoredAlarmKinds;
  WriteOptionSection(*FSettings, kAlarmsSection, c);
}

void TMainForm::WireAlarmChoices() {
  // The first start's offer and the Message Options page's box are one choice.
  connect(cbWelcomeAlarm, &QCheckBox::toggled, cbAlarmOwn, &QCheckBox::setChecked);
  connect(cbAlarmOwn, &QCheckBox::toggled, cbWelcomeAlarm, &QCheckBox::setChecked);
}

}  // namespace qm
