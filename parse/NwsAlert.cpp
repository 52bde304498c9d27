#include "parse/NwsAlert.h"

#include <array>
#include <cmath>

#include "base/AsciiText.h"

namespace qm {

namespace {

constexpr std::size_t kMaxEventLength = 32;
constexpr std::size_t kMaxRemarkLength = 200;
constexpr std::size_t kMaxSequenceLength = 16;

constexpr bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

int DaysInMonth(int year, int month) {
  static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[static_cast<std::size_t>(month - 1)];
}

int TwoDigits(std::string_view s) {
  return (s[0] - '0') * 10 + (s[1] - '0');
}

// "DDHHMMz" as the UTC time nearest to nowUtc with that day of the month.
std::optional<TDateTime> ReadExpiry(std::string_view field, TDateTime nowUtc) {
  if (field.size() != 7 || UpCase(field[6]) != 'Z') return std::nullopt;
  for (std::size_t i = 0; i < 6; ++i) {
    if (!IsDigit(field[i])) return std::nullopt;
  }
  const int day = TwoDigits(field.substr(0, 2));
  const int hour = TwoDigits(field.substr(2, 2));
  const int minute = TwoDigits(field.substr(4, 2));
  if (day < 1 || day > 31 || hour > 23 || minute > 59) return std::nullopt;

  const TDateTimeParts now = DecodeDateTime(nowUtc);
  std::optional<TDateTime> best;
  for (int step = -1; step <= 1; ++step) {
    int year = now.Year;
    int month = now.Month + step;
    if (month < 1) {
      month = 12;
      --year;
    } else if (month > 12) {
      month = 1;
      ++year;
    }
    if (day > DaysInMonth(year, month)) continue;
    const TDateTime at = EncodeDateTime({year, month, day, hour, minute});
    if (!best || std::fabs(at - nowUtc) < std::fabs(*best - nowUtc)) best = at;
  }
  return best;
}

// Reads "OK_C109>111-115-TXC001" from the front of `piece` into `areas`. The list ends at
// the piece's end or at a blank (its place is left in `stop`); anything else, or a list that
// does not start with a state and type, makes the piece no area list (false, areas as they
// were). Reading stops once `areas` holds kMaxNwsAreas, with `cut` set.
bool ReadAreaList(std::string_view piece, std::vector<TNwsArea>& areas, bool& cut, std::size_t& stop) {
  const std::size_t before = areas.size();
  std::string state;
  char type = 0;
  std::size_t i = 0;
  const auto fail = [&] {
    areas.resize(before);
    return false;
  };
  const auto readNumber = [&](int& number) {
    const std::size_t start = i;
    number = 0;
    while (i < piece.size() && IsDigit(piece[i]) && i - start < 3) number = number * 10 + (piece[i++] - '0');
    return i > start && (i == piece.size() || !IsDigit(piece[i]));
  };
  for (;;) {
    if (i + 1 < piece.size() && IsLetter(piece[i]) && IsLetter(piece[i + 1])) {
      state = {UpCase(piece[i]), UpCase(piece[i + 1])};
      i += 2;
      if (i < piece.size() && piece[i] == '_') ++i;
      type = i < piece.size() ? UpCase(piece[i]) : '\0';
      if (type != 'C' && type != 'Z') return fail();
      ++i;
    } else if (state.empty()) {
      return fail();
    }
    int first = 0;
    int last = 0;
    if (!readNumber(first)) return fail();
    last = first;
    if (i < piece.size() && piece[i] == '>') {
      ++i;
      if (!readNumber(last) || last < first) return fail();
    }
    for (int n = first; n <= last; ++n) {
      if (areas.size() == kMaxNwsAreas) {
        cut = true;
        stop = piece.size();
        return true;
      }
      areas.push_back({state, type, n});
    }
    if (i == piece.size() || IsTrimmed(piece[i])) {
      stop = i;
      return true;
    }
    if (piece[i] != '-') return fail();
    ++i;
  }
}

bool IsEventWord(std::string_view s) {
  if (s.empty() || s.size() > kMaxEventLength) return false;
  for (const char c : s) {
    if (!IsLetter(c) && !IsDigit(c) && c != '_') return false;
  }
  return true;
}

TNwsAlertCategory CategoryOf(std::string_view word) {
  if (word == "WARN") return acWarning;
  if (word == "WATCH") return acWatch;
  if (word == "ADVIS") return acAdvisory;
  if (word == "CANCL") return acCancel;
  return acOther;
}

// Cuts the text before the next "," (or all of it) off `rest`, trimmed.
std::string_view NextField(std::string_view& rest) {
  const std::size_t comma = rest.find(',');
  const std::string_view field = TrimView(rest.substr(0, comma));
  rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
  return field;
}

void ReadAreasAndRemark(std::string_view rest, TNwsAlert& alert) {
  bool cut = false;
  while (!rest.empty() && !cut) {
    const std::string_view whole = rest;
    const std::string_view piece = NextField(rest);
    if (piece.empty()) continue;
    std::size_t stop = 0;
    const bool read = ReadAreaList(piece, alert.Areas, cut, stop);
    if (cut) break;
    if (read && stop == piece.size()) continue;
    // The remark runs from where the areas ended to the end of the text.
    const auto from = static_cast<std::size_t>(piece.data() - whole.data()) + (read ? stop : 0);
    alert.Remark = Trim(whole.substr(from, kMaxRemarkLength));
    return;
  }
  alert.AreasCut = alert.AreasCut || cut;
}

}  // namespace

std::string NwsAreaCode(const TNwsArea& area) {
  std::string code = area.State;
  code += '_';
  code += area.Type;
  const int n = area.Number < 0 ? 0 : area.Number % 1000;
  code += static_cast<char>('0' + n / 100);
  code += static_cast<char>('0' + n / 10 % 10);
  code += static_cast<char>('0' + n % 10);
  return code;
}

std::optional<TNwsAlert> ReadNwsAlert(std::string_view addressee, std::string_view text, TDateTime nowUtc) {
  addressee = TrimView(addressee);
  if (addressee.size() < 4 || UpCase(addressee[0]) != 'N' || UpCase(addressee[1]) != 'W' ||
      UpCase(addressee[2]) != 'S' || (addressee[3] != '-' && addressee[3] != '_'))
    return std::nullopt;

  TNwsAlert alert;
  alert.CategoryWord = UpperCase(TrimView(addressee.substr(4, 5)));
  alert.Category = CategoryOf(alert.CategoryWord);

  if (const std::size_t brace = text.find('{'); brace != std::string_view::npos) {
    alert.Sequence = Trim(text.substr(brace + 1, kMaxSequenceLength));
    text = text.substr(0, brace);
  }
  if (text.size() > kMaxNwsTextLength) {
    // Read up to the last whole field: a code cut in two would name another area.
    const std::size_t comma = text.rfind(',', kMaxNwsTextLength);
    text = text.substr(0, comma == std::string_view::npos ? 0 : comma);
    alert.AreasCut = true;
  }

  std::string_view rest = text;
  std::string_view field = NextField(rest);
  if (field.empty() || !IsLetter(field[0])) {
    alert.ExpiresUtc = ReadExpiry(field, nowUtc);
    field = NextField(rest);
  }
  if (!IsEventWord(field)) return alert;
  alert.Event = UpperCase(field);
  ReadAreasAndRemark(rest, alert);
  return alert;
}

std::optional<TNwsAlert> ReadNwsAlert(const TAprsMsgPacket& packet) {
  std::optional<TNwsAlert> alert = ReadNwsAlert(packet.Addressee, packet.MessageText, packet.ReceivedUtc);
  if (alert && alert->Sequence.empty()) alert->Sequence = packet.MessageId.substr(0, kMaxSequenceLength);
  return alert;
}

}  // namespace qm
