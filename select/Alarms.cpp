#include "select/Alarms.h"

#include <array>

#include "base/AsciiText.h"
#include "parse/NwsAlert.h"

namespace qm {

namespace {

constexpr std::array<const char*, kAlarmKindCount> kNames = {"own",   "listed",  "bulletin", "announcement",
                                                             "watch", "warning", "advisory"};

std::optional<TAlarmKind> KindOf(const TAprsMsgPacket& message, std::string_view ownCall, TDateTime nowUtc) {
  switch (message.Kind) {
    case mkPersonal:
      if (!ownCall.empty() && message.Addressee == ownCall) return akOwn;
      if (!ownCall.empty() && message.Source.FullCall == ownCall) return std::nullopt;
      return akListed;
    case mkBulletin:
      return akBulletin;
    case mkAnnouncement:
      return akAnnouncement;
    case mkNwsAlert:
      break;
    case mkNone:
      return std::nullopt;
  }
  const std::optional<TNwsAlert> alert = ReadNwsAlert(message);
  if (!alert || (alert->ExpiresUtc && *alert->ExpiresUtc < nowUtc)) return std::nullopt;
  switch (alert->Category) {
    case acWatch:
      return akWatch;
    case acWarning:
      return akWarning;
    case acAdvisory:
      return akAdvisory;
    case acCancel:
    case acOther:
      break;
  }
  return std::nullopt;
}

}  // namespace

const char* AlarmKindName(TAlarmKind kind) {
  return kNames[static_cast<std::size_t>(kind)];
}

std::optional<TAlarmKind> AlarmKindNamed(std::string_view name) {
  const std::string word = UpperCase(TrimView(name));
  for (std::size_t i = 0; i < kNames.size(); ++i)
    if (word == UpperCase(kNames[i])) return static_cast<TAlarmKind>(i);
  return std::nullopt;
}

std::string AlarmKindsText(TAlarmKinds kinds) {
  std::string text;
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    if (!kinds.Has(static_cast<TAlarmKind>(i))) continue;
    if (!text.empty()) text += ',';
    text += kNames[i];
  }
  return text;
}

TAlarmKinds ParseAlarmKinds(std::string_view text) {
  TAlarmKinds kinds;
  const std::string whole = UpperCase(TrimView(text));
  if (whole.empty() || whole == "NONE") return kinds;
  std::string_view rest = text;
  for (;;) {
    const std::size_t comma = rest.find(',');
    const std::string_view word = rest.substr(0, comma);
    const std::optional<TAlarmKind> kind = AlarmKindNamed(word);
    if (!kind) {
      std::string names;
      for (const char* name : kNames) names += (names.empty() ? "" : ", ") + std::string(name);
      // The word as the operator can read it: a control byte would cut or garble the message.
      std::string shown = Trim(word);
      for (char& c : shown)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
      std::string what = "\"";
      what.append(shown).append("\" is no alarm kind; the kinds are ").append(names);
      throw EAlarmKinds(what);
    }
    kinds.Set(*kind);
    if (comma == std::string_view::npos) return kinds;
    rest = rest.substr(comma + 1);
  }
}

std::optional<TAlarmKind> WantsAlarm(TAlarmKinds kinds, const TAprsMsgPacket& message,
                                     std::string_view ownCall, TDateTime nowUtc) {
  if (kinds.Empty()) return std::nullopt;
  const std::optional<TAlarmKind> kind = KindOf(message, ownCall, nowUtc);
  if (kind && kinds.Has(*kind)) return kind;
  return std::nullopt;
}

}  // namespace qm
