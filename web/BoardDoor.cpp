#include "web/BoardDoor.h"

#include "base/AsciiText.h"
#include "base/IntegerText.h"

namespace qm {

namespace {

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

}  // namespace

bool SameToken(std::string_view given, std::string_view token) {
  // Every byte of the token is looked at whatever `given` holds.
  unsigned char differ = given.size() == token.size() ? 0 : 1;
  for (std::size_t i = 0; i < token.size(); ++i) {
    const unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    differ |= static_cast<unsigned char>(g ^ static_cast<unsigned char>(token[i]));
  }
  return differ == 0 && !token.empty();
}

std::string BearerToken(std::string_view authorization) {
  authorization = Trimmed(authorization);
  constexpr std::string_view kScheme = "Bearer ";
  if (authorization.size() <= kScheme.size() ||
      UpperCase(authorization.substr(0, kScheme.size())) != "BEARER ")
    return {};
  return std::string(Trimmed(authorization.substr(kScheme.size())));
}

bool SameOriginChange(std::string_view origin, std::string_view fetchSite, std::string_view host) {
  if (!origin.empty()) return !host.empty() && origin == "http://" + std::string(host);
  return fetchSite == "same-origin";
}

std::optional<TBoardAddress> ReadBoardAddress(std::string_view text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos || colon == 0) return std::nullopt;
  std::string_view host = text.substr(0, colon);
  if (host.front() == '[') {
    if (host.size() < 3 || host.back() != ']') return std::nullopt;
    host = host.substr(1, host.size() - 2);
  } else if (host.find(':') != std::string_view::npos) {
    return std::nullopt;  // an IPv6 address goes in brackets
  }
  for (char c : host)
    if (!(IsNameChar(c) || c == '.' || c == ':')) return std::nullopt;
  std::int32_t port = 0;
  if (!TryParseDecimal(text.substr(colon + 1), port) || port > 65535) return std::nullopt;
  return TBoardAddress{std::string(host), port};
}

bool IsLoopback(std::string_view host) {
  return host == "localhost" || host == "::1" || host.starts_with("127.");
}

bool IsPageName(std::string_view name) {
  constexpr std::string_view kPdf = ".pdf";
  if (name.size() <= kPdf.size() || name.size() > 128 || !name.ends_with(kPdf)) return false;
  for (char c : name.substr(0, name.size() - kPdf.size()))
    if (!IsNameChar(c)) return false;
  return true;
}

}  // namespace qm
