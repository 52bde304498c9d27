// The alarms as the window shows them: their choices on the option pages and in [Alarms], the
// banner above the list, the tray's mark and menu entry, and the sound.
#include <QAction>
#include <QCheckBox>
#include <QSpinBox>
#include <algorithm>
#include <array>
#include <set>
#include <utility>

#include "app/AlarmBanner.h"
#include "app/AlarmSound.h"
#include "app/MainForm.h"
#include "base/ProgramText.h"
#include "print/Ics309.h"
#include "run/StoredChoiceTable.h"
#include "run/StoredChoices.h"

namespace qm {
namespace {

QString AlarmKindWord(TAlarmKind kind) {
  switch (kind) {
    case akOwn:
    case akListed:
      return QStringLiteral("Message");
    case akBulletin:
      return QStringLiteral("Bulletin");
    case akAnnouncement:
      return QStringLiteral("Announcement");
    case akWatch:
      return QStringLiteral("NWS watch");
    case akWarning:
      return QStringLiteral("NWS warning");
    case akAdvisory:
      return QStringLiteral("NWS advisory");
  }
  return QString();
}

}  // namespace

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

namespace {

QString AlarmBannerText(const TDeskAlarm& alarm) {
  return AlarmKindWord(alarm.Kind) +
         QStringLiteral(" from %1 to %2: %3")
             .arg(DisplayText(alarm.Sender), DisplayText(alarm.Addressee), DisplayText(alarm.Text));
}

}  // namespace

void TMainForm::WireAlarms() {
  connect(FDesk, &TMessageDesk::AlarmsChanged, this, [this] { ShowAlarms(); });
  connect(FDesk, &TMessageDesk::AlarmDue, this, [this] { SoundAlarm(); });
  AlarmBanner->Acknowledge = [this](std::int64_t id) { RunGuarded([this, id] { AcknowledgeAlarms(id); }); };
  AlarmBanner->AcknowledgeAll = [this] { RunGuarded([this] { AcknowledgeAlarms(std::nullopt); }); };
  connect(miAcknowledgeAlarms, &QAction::triggered, this,
          [this] { RunGuarded([this] { AcknowledgeAlarms(std::nullopt); }); });
  FAlarmSound = new TAlarmSound(this);
}

void TMainForm::ShowAlarms() {
  if (FDestroyed) return;
  const std::vector<TDeskAlarm>& alarms = FDesk->Alarms();
  std::set<std::int64_t> ids;
  bool fresh = false;
  for (const TDeskAlarm& a : alarms) {
    ids.insert(a.Id);
    fresh = fresh || !FAlarmIds.contains(a.Id);
  }
  FAlarmIds = std::move(ids);
  const bool any = !alarms.empty();
  if (!any) {
    AlarmBanner->ShowNone();
  } else {
    // The newest: the latest to come, the higher number among those of one moment.
    const auto newest =
        std::max_element(alarms.begin(), alarms.end(), [](const TDeskAlarm& a, const TDeskAlarm& b) {
          return std::pair(a.SinceUtc, a.Id) < std::pair(b.SinceUtc, b.Id);
        });
    const QString text = AlarmBannerText(*newest);
    AlarmBanner->ShowAlarm(newest->Id, text, static_cast<int>(alarms.size()) - 1);
    if (fresh && FTrayIcon->isVisible() && QSystemTrayIcon::supportsMessages())
      FTrayIcon->showMessage(QStringLiteral("Alarm"), text, QSystemTrayIcon::Warning);
  }
  miAcknowledgeAlarms->setVisible(any);
  if (any != FAlarmShown) {
    FAlarmShown = any;
    ShowTrayIcon();
  }
  // A new alarm sounds at once; the desk's AlarmDue repeats the call.
  if (fresh) SoundAlarm();
}

void TMainForm::SoundAlarm() {
  if (FSetup.AlarmSound)
    FSetup.AlarmSound();
  else
    FAlarmSound->Play();
}

void TMainForm::AcknowledgeAlarms(std::optional<std::int64_t> id) {
  FDesk->Acknowledge(id, AccountName().toStdString(), kAckInWindow);
}

}  // namespace qm
