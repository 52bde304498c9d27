// Which listed messages call the operator until someone acknowledges them: the kinds the
// operator chose (none unless chosen), by their words on the command line and in the
// settings file, and the rule a kept message is judged by.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/Timing.h"
#include "parse/QuillmarkParse.h"

namespace qm {

enum class TAlarmKind : std::uint8_t {
  akOwn = 0,  // a message to the own call
  akListed,   // another message of the station list
  akBulletin,
  akAnnouncement,
  akWatch,  // NWS watches, warnings and advisories
  akWarning,
  akAdvisory,
};
using enum TAlarmKind;
inline constexpr int kAlarmKindCount = 7;

// "own", "listed", "bulletin", "announcement", "watch", "warning", "advisory".
const char* AlarmKindName(TAlarmKind kind);
std::optional<TAlarmKind> AlarmKindNamed(std::string_view name);

// A set of alarm kinds; empty by default.
class TAlarmKinds {
 public:
  TAlarmKinds() = default;
  bool Has(TAlarmKind kind) const { return (FBits & Bit(kind)) != 0; }
  void Set(TAlarmKind kind, bool on = true) { FBits = on ? FBits | Bit(kind) : FBits & ~Bit(kind); }
  bool Empty() const { return FBits == 0; }
  bool operator==(const TAlarmKinds&) const = default;

 private:
  static std::uint8_t Bit(TAlarmKind kind) { return static_cast<std::uint8_t>(1u << static_cast<int>(kind)); }
  std::uint8_t FBits = 0;
};

// A list of kinds that holds a word that is none, as said to the operator.
class EAlarmKinds : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// "own,warning": the kinds in their order above, "" for none.
std::string AlarmKindsText(TAlarmKinds kinds);
// The kinds of "own, Warning,advisory" (blanks around a word and its case do not matter; an
// empty text or "none" is no kind). Throws EAlarmKinds naming the first word that is no kind.
TAlarmKinds ParseAlarmKinds(std::string_view text);

// The kind a wanted message alarms as, when `kinds` holds it: a message to `ownCall` is own,
// one from it never alarms (the operator sent it), any other personal message is listed; an
// NWS alert by its category, never once its expiry is past `nowUtc`, nor a cancellation.
std::optional<TAlarmKind> WantsAlarm(TAlarmKinds kinds, const TAprsMsgPacket& message,
                                     std::string_view ownCall, TDateTime nowUtc);

}  // namespace qm
