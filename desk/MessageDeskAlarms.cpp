// Alarms until acknowledged: raised for a kept message of a chosen kind, repeated while any
// sounds, restored at the start, acknowledged with who, where and when.
#include <algorithm>
#include <utility>

#include "desk/MessageDesk.h"
#include "store/DurableStore.h"
#include "store/MessageStore.h"

namespace qm {

std::string AlarmText(const TDeskAlarm& alarm) {
  return alarm.Sender + " to " + alarm.Addressee + ": " + alarm.Text;
}

std::optional<TDeskAlarm> TMessageDesk::AlarmFor(const TAprsMsgPacket& packet) {
  if (FDemo) return std::nullopt;
  const TDateTime utc = Now(tfUTC);
  const std::optional<TAlarmKind> kind =
      WantsAlarm(FChoices.AlarmKinds, packet, FChoices.Selection.StationCall, utc);
  if (!kind) return std::nullopt;
  return TDeskAlarm{0, packet.Source.FullCall, packet.Addressee, packet.MessageText, *kind, utc};
}

void TMessageDesk::RaiseAlarm(TDeskAlarm alarm, std::int64_t storeId) {
  if (storeId == 0 || !FStore) return;  // not stored: nothing would keep it sounding
  alarm.Id = FStore->IdInFile(storeId);
  if (alarm.Id == 0) {
    // A failing store holds the message in memory: it sounds once the file has it.
    FAlarmsHeld.emplace_back(storeId, std::move(alarm));
    if (FAlarmsHeld.size() > kAlarmsHeldKept) FAlarmsHeld.pop_front();
    return;
  }
  Note(std::string("Alarm (") + AlarmKindName(alarm.Kind) + "): " + AlarmText(alarm));
  FAlarms.push_back(std::move(alarm));
  PaceAlarms();
  emit AlarmsChanged();
}

void TMessageDesk::RaiseKeptAlarms() {
  std::deque<std::pair<std::int64_t, TDeskAlarm>> held = std::exchange(FAlarmsHeld, {});
  for (auto& [storeId, alarm] : held) RaiseAlarm(std::move(alarm), storeId);
}

void TMessageDesk::RestoreAlarms() {
  std::vector<TStoredMessage> sounding;
  WithMessageStore([&](TDurableStore& store) { sounding = store.Sounding(); });
  if (sounding.empty()) return;
  for (const TStoredMessage& m : sounding)
    FAlarms.push_back(TDeskAlarm{m.Id, m.Source, m.Addressee, m.MessageText,
                                 static_cast<TAlarmKind>(std::clamp(m.AlarmKind, 0, kAlarmKindCount - 1)),
                                 m.UtcTime});
  Note(
      std::to_string(sounding.size()) +
      (sounding.size() == 1 ? " alarm of the last run still sounds" : " alarms of the last run still sound") +
      " until acknowledged");
  PaceAlarms();
  emit AlarmsChanged();
}

void TMessageDesk::PaceAlarms() {
  if (FAlarms.empty()) {
    FAlarmRepeat.stop();
    return;
  }
  const int seconds = std::clamp(FChoices.AlarmRepeatSeconds, TDeskChoices::kMinAlarmRepeatSeconds,
                                 TDeskChoices::kMaxAlarmRepeatSeconds);
  const auto interval = static_cast<int>(seconds * FSetup.AlarmSecond.count());
  if (FAlarmRepeat.interval() != interval || !FAlarmRepeat.isActive()) FAlarmRepeat.start(interval);
}

int TMessageDesk::Acknowledge(std::optional<std::int64_t> id, const std::string& who,
                              const std::string& where) {
  QM_ASSERT_OWNER_THREAD(FOwner);
  const auto acknowledged = std::stable_partition(FAlarms.begin(), FAlarms.end(),
                                                  [&](const TDeskAlarm& a) { return id && a.Id != *id; });
  if (acknowledged == FAlarms.end()) return 0;
  std::vector<TDeskAlarm> done(std::make_move_iterator(acknowledged), std::make_move_iterator(FAlarms.end()));
  FAlarms.erase(acknowledged, FAlarms.end());
  std::vector<std::int64_t> ids;
  ids.reserve(done.size());
  for (const TDeskAlarm& a : done) ids.push_back(a.Id);
  WithMessageStore([&](TDurableStore& store) { store.AcknowledgeAlarms(ids, who, where, Now(tfUTC)); });
  // A store that cannot be written now keeps it in memory: after a restart before it recovers
  // the alarm would sound again, and the operator hears so.
  const std::string unkept =
      StoreFailing() ? "; the message store cannot keep that now, so it sounds again after a restart" : "";
  std::string by = "Alarm acknowledged by ";
  by.append(who).append(" at the ").append(where).append(": ");
  for (const TDeskAlarm& a : done) {
    std::string line = by;
    line += AlarmText(a);
    line += unkept;
    Note(line);
  }
  PaceAlarms();
  emit AlarmsChanged();
  return static_cast<int>(done.size());
}

}  // namespace qm
