#include "log/EntryText.h"

namespace qm {

namespace {

bool WrittenAsEscape(unsigned char c) {
  return (c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F;
}

// Whether the text holds nothing to escape and no break: most texts, copied whole. The loop
// has no early exit so that the compiler can check many bytes at a time.
bool IsPlain(std::string_view text) {
  unsigned care = 0;
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    care |=
        static_cast<unsigned>(c < 0x20) | static_cast<unsigned>(c == 0x7F) | static_cast<unsigned>(c == '\\');
  }
  return care == 0;
}

}  // namespace

const char* ZoneLetter(bool utc, bool shown) {
  if (!shown) return "";
  return utc ? "Z" : "L";
}

// The text of one entry as the header describes it: breaks indent, control bytes escape.
void AppendEntryText(std::string& out, std::string_view text) {
  if (IsPlain(text)) {
    out += text;
    return;
  }
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::size_t n = text.size();
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < n; ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c >= 0x20 && c != 0x7F && c != '\\') || c == '\t') continue;
    out.append(text.data() + run, i - run);
    run = i + 1;
    if (c == '\\') {
      out += '\\';
      if (i + 1 < n) {
        const auto next = static_cast<unsigned char>(text[i + 1]);
        if (next == '\\' || next == 'x' || WrittenAsEscape(next)) out += '\\';
      }
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < n && text[i + 1] == '\n') run = ++i + 1;
      out += "\r\n  ";
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  out.append(text.data() + run, n - run);
}

// Puts the stamp and the text in for the first two "%s"; "%%" stands for "%". Other
// characters, further "%s" included, are copied, so no format can read past its arguments.
void AppendEntryLine(std::string& out, std::string_view format, std::string_view stamp,
                     std::string_view text) {
  int used = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size()) {
      if (format[i + 1] == 's' && used < 2) {
        if (used++ == 0) {
          out += stamp;
        } else {
          AppendEntryText(out, text);
        }
        ++i;
        continue;
      }
      if (format[i + 1] == '%') {
        out += '%';
        ++i;
        continue;
      }
    }
    out += format[i];
  }
}

}  // namespace qm
