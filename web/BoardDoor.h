// Who comes in at the board's door and what they may ask: the access token or session
// (compared in constant time, found in the address or an Authorization header), whether a
// change comes from the board's own page, the address the board listens on, and the only file
// names it serves from the archive.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The cookie earlier builds kept the token in; the page now removes it.
inline constexpr std::string_view kBoardCookie = "quillmark_board";

// Whether `given` is `token`, in a time that does not tell how much of it matched.
bool SameToken(std::string_view given, std::string_view token);

// The token of an "Authorization: Bearer <token>" header, or "".
std::string BearerToken(std::string_view authorization);

// Whether a POST comes from the board's own page: its Origin names the Host it was sent to
// ("http://" + host), or, without an Origin, the browser says "same-origin". A request with
// neither is refused: every browser sends one of them with a POST.
bool SameOriginChange(std::string_view origin, std::string_view fetchSite, std::string_view host);

struct TBoardAddress {
  std::string Host;  // "127.0.0.1", "::1", "0.0.0.0" ...
  int Port = 0;      // 0: any free port
};

// "ADDRESS:PORT" ("[v6]:PORT" for IPv6), the port 0..65535; nullopt when it is not one.
std::optional<TBoardAddress> ReadBoardAddress(std::string_view text);

// Whether listening there reaches this machine only.
bool IsLoopback(std::string_view host);

// A file name the board may serve from a day's archive folder: letters, digits, "-", "_" and
// one ".pdf" at the end; nothing that climbs, hides or names another folder.
bool IsPageName(std::string_view name);

// The shortest token an operator may set for a board on another address.
inline constexpr std::size_t kMinSetTokenLength = 16;

}  // namespace qm
