#include "parse/QuillmarkParse.h"

#include <charconv>

#include "base/AsciiText.h"

namespace qm {

namespace {

constexpr std::size_t kAddresseeWidth = 9;
constexpr std::size_t kMaxMessageIdLength = 255;

constexpr bool IsCapital(char c) {
  return c >= 'A' && c <= 'Z';
}
constexpr bool IsLowerLetter(char c) {
  return c >= 'a' && c <= 'z';
}
constexpr bool IsLetter(char c) {
  return IsCapital(c) || IsLowerLetter(c);
}

// Digits only, fitting a 32-bit signed integer; anything else reads as 0.
std::uint8_t ReadSsid(std::string_view digits) {
  std::int32_t value = 0;
  if (digits.empty()) return 0;
  for (char c : digits)
    if (!IsDigit(c)) return 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (ec != std::errc() || end != digits.data() + digits.size()) return 0;
  return static_cast<std::uint8_t>(value & 0xFF);
}

void AssignUpper(std::string& out, std::string_view s) {
  out.assign(s);
  for (char& c : out) c = UpCase(c);
}

// ParseCallSign writing into an existing record, so the packet's strings are filled in place.
// With upperFirst, t reads as its upper-cased form would, without making that copy.
void ReadCallSign(std::string_view t, TCallSign& out, bool upperFirst = false) {
  if (t.empty()) return;
  std::string_view base = t;
  std::uint8_t ssid = 0;
  if (IsDigit(t.back())) {
    std::size_t k = t.size();  // 0-based index of the stop, t.size() when none
    for (std::size_t i = t.size(); i-- > 0;) {
      if (t[i] == '-' || IsCapital(upperFirst ? UpCase(t[i]) : t[i])) {
        k = i;
        break;
      }
    }
    if (k == t.size()) {
      // No "-" and no capital: a lower-case call reads like its upper-cased form (which
      // has no "-" either, so its stop is the last letter); a text without letters is
      // kept whole.
      for (std::size_t i = t.size(); i-- > 0;) {
        if (IsLetter(t[i])) {
          k = i;
          break;
        }
      }
    }
    if (k != t.size()) {
      ssid = ReadSsid(t.substr(k + 1));
      base = t.substr(0, t[k] == '-' ? k : k + 1);
    }
  }
  AssignUpper(out.BaseCall, base);
  out.SSID = ssid;
  out.Valid = true;
  if (ssid == 0) {
    out.FullCall = out.BaseCall;
  } else {
    char digits[4];
    const auto res = std::to_chars(digits, digits + sizeof digits, static_cast<unsigned>(ssid));
    out.FullCall.reserve(out.BaseCall.size() + 4);
    out.FullCall = out.BaseCall;
    out.FullCall += '-';
    out.FullCall.append(digits, res.ptr);
  }
}

void Parse(std::string_view S, TAprsMsgPacket& p) {
  // 0-based positions; npos stands for "none".
  const std::size_t g = S.find('>');
  const std::size_t c = S.find(':');
  if (c == std::string_view::npos) return;  // without a ":" nothing is a message
  if (g != std::string_view::npos) {
    // The source may be 9 characters, or 10 with a "*" among them; only a 10-character
    // source needs the search for the "*".
    if (g >= c || g > 10 || (g == 10 && S.substr(0, g + 1).find('*') == std::string_view::npos)) return;
  }
  if (c + 1 >= S.size() || S[c + 1] != ':') return;

  const std::string_view header = S.substr(0, c);
  const std::string_view body = S.substr(c + 2);
  p.Body.assign(body);
  p.Header.assign(header);
  p.Selected = true;

  // Without a ">" the source is empty and the whole header is destination and path.
  std::string_view source = g == std::string_view::npos ? std::string_view() : S.substr(0, g);
  if (source.find('*') != std::string_view::npos) {
    p.SourceStarred = true;
    source.remove_suffix(1);  // the "*" is expected to stand last
  }
  ReadCallSign(source, p.Source, /*upperFirst=*/true);

  const std::string_view t = g == std::string_view::npos ? header : header.substr(g + 1);
  if (const std::size_t k = t.find(','); k != std::string_view::npos) {
    ReadCallSign(t.substr(0, k), p.Destination);
    p.Path.assign(t.substr(k + 1));
  } else if (const std::size_t k2 = t.find('>'); k2 != std::string_view::npos) {
    ReadCallSign(t.substr(k2 + 1), p.Destination);
  } else {
    ReadCallSign(t, p.Destination);
  }

  p.Addressee.assign(TrimView(body.substr(0, kAddresseeWidth)));
  std::string_view r =
      body.size() > kAddresseeWidth + 1 ? body.substr(kAddresseeWidth + 1) : std::string_view();

  if (r.size() > 3 && IsDigit(r[3])) {
    const char a = UpCase(r[0]), b = UpCase(r[1]), d = UpCase(r[2]);
    if ((a == 'A' && b == 'C' && d == 'K') || (a == 'R' && b == 'E' && d == 'J')) {
      p.Selected = false;
      return;
    }
  }

  if (const std::size_t k = r.find('{'); k != std::string_view::npos) {
    p.MessageId.assign(TrimView(r.substr(k + 1, kMaxMessageIdLength)));
    r = r.substr(0, k);
  }
  p.MessageText.assign(r);

  std::string& a = p.Addressee;
  const auto upAt = [&a](std::size_t i) { return i < a.size() ? UpCase(a[i]) : '\0'; };
  const bool nws = a.size() >= 4 && upAt(0) == 'N' && upAt(1) == 'W' && upAt(2) == 'S';
  if (nws && a[3] == '-') {
    p.Kind = mkNwsAlert;
  } else if (nws && a[3] == '_') {
    p.Kind = mkNwsAlert;
    a[3] = '-';  // later comparisons see "NWS-" only
  } else if (a.size() > 3 && upAt(0) == 'B' && upAt(1) == 'L' && upAt(2) == 'N') {
    if (IsDigit(a[3]))
      p.Kind = mkBulletin;
    else if (IsLetter(a[3]))
      p.Kind = mkAnnouncement;
    else
      p.Kind = mkPersonal;
  } else {
    p.Kind = mkPersonal;
  }

  if (p.Kind == mkNwsAlert) {
    const std::string_view text = p.MessageText;
    if (const std::size_t first = text.find(','); first != std::string_view::npos) {
      if (const std::size_t second = text.find(',', first + 1); second != std::string_view::npos)
        p.State.assign(text.substr(second + 1, 2));
    }
  }
}

// The text is read where it is stored, so RawText is the only copy made of it.
std::unique_ptr<TAprsMsgPacket> NewPacket(std::string&& S, std::uint32_t tickCount, TDateTime receivedUtc) {
  // Not make_unique: its value-initialisation zero-fills the whole object before the
  // member initialisers run again, a measurable part of a packet's cost.
  std::unique_ptr<TAprsMsgPacket> p(new TAprsMsgPacket);
  p->RawText = std::move(S);
  p->TickCount = tickCount;
  p->ReceivedUtc = receivedUtc;
  Parse(p->RawText, *p);
  return p;
}

}  // namespace

std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(std::string_view S, std::uint32_t tickCount,
                                                TDateTime receivedUtc) {
  return NewPacket(std::string(S), tickCount, receivedUtc);
}

std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(std::string&& S, std::uint32_t tickCount,
                                                TDateTime receivedUtc) {
  return NewPacket(std::move(S), tickCount, receivedUtc);
}

std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(std::string_view S) {
  const TTickAndUtc now = CurrentTickAndUtc();
  return NewPacket(std::string(S), now.TickCount, now.Utc);
}

std::unique_ptr<TAprsMsgPacket> ParseAprsPacket(std::string&& S) {
  const TTickAndUtc now = CurrentTickAndUtc();
  return NewPacket(std::move(S), now.TickCount, now.Utc);
}

TCallSign ParseCallSign(std::string_view T) {
  TCallSign result;
  ReadCallSign(T, result);
  return result;
}

void SplitFirstToken(std::string& Text, std::string_view Delimiters, std::string& Token) {
  const std::string_view text = Text;
  const std::size_t i = text.find_first_of(Delimiters);
  if (i == std::string_view::npos) {
    std::string token(TrimView(text));  // built first: Text and Token may be one object
    Text.clear();
    Token = std::move(token);
    return;
  }
  std::string token(TrimView(text.substr(0, i)));
  std::string rest(TrimView(text.substr(i + 1)));
  Text = std::move(rest);
  Token = std::move(token);
}

}  // namespace qm
