#include "print/LogPeriod.h"

#include <cctype>
#include <utility>

namespace qm {

QString MinuteText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  return QString::asprintf("%04d-%02d-%02d %02d:%02d", p.Year, p.Month, p.Day, p.Hour, p.Minute);
}

std::optional<TDateTime> ParseLogTime(std::string_view text) {
  static constexpr std::string_view kShape = "dddd-dd-ddTdd:dd";
  if (text.size() != kShape.size()) return std::nullopt;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    if (kShape[i] == 'd' ? !digit : text[i] != kShape[i]) return std::nullopt;
  }
  const auto number = [&](std::size_t at, std::size_t n) {
    int value = 0;
    for (std::size_t i = at; i < at + n; ++i) value = value * 10 + (text[i] - '0');
    return value;
  };
  TDateTimeParts parts{number(0, 4), number(5, 2), number(8, 2), number(11, 2), number(14, 2), 0, 0};
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (parts.Year % 4 == 0 && parts.Year % 100 != 0) || parts.Year % 400 == 0;
  if (parts.Year < 1900 || parts.Month < 1 || parts.Month > 12 || parts.Day < 1 ||
      parts.Day > kDays[parts.Month - 1] || (parts.Month == 2 && parts.Day == 29 && !leap) ||
      parts.Hour > 23 || parts.Minute > 59)
    return std::nullopt;
  return EncodeDateTime(parts);
}

QString ReadLogPeriod(std::string_view fromText, std::string_view toText, TDateTime& from, TDateTime& to) {
  const std::optional<TDateTime> f = ParseLogTime(fromText);
  const std::optional<TDateTime> t = ParseLogTime(toText);
  for (const auto& [value, text] : {std::pair{f, fromText}, std::pair{t, toText}})
    if (!value)
      return QStringLiteral("\"%1\" is not a time as yyyy-mm-ddThh:mm (UTC)")
          .arg(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
  if (*t <= *f)
    return QStringLiteral("the period ends before it starts: %1 is not after %2")
        .arg(MinuteText(*t), MinuteText(*f));
  from = *f;
  to = *t;
  return {};
}

void NamedLogPeriod(TLogPeriodKind kind, TDateTime nowUtc, TDateTime startedUtc, TDateTime& from,
                    TDateTime& to) {
  TDateTimeParts now = DecodeDateTime(nowUtc);
  now.Second = now.Millisecond = 0;
  if (kind == lpToday) {
    now.Hour = now.Minute = 0;
    from = EncodeDateTime(now);
    to = from + 1;
    return;
  }
  from = startedUtc;
  to = EncodeDateTime(now) + 1.0 / (24 * 60);
}

}  // namespace qm
