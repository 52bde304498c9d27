// What the board's page asks to send: {"to": "CALL", "text": "..."}.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

struct TSendAsked {
  std::string To, Text;
};

// A JSON object with exactly the strings "to" and "text" (the call at most 9 characters, the
// text at most 200: the desk's own rule judges them after); nullopt for anything else.
std::optional<TSendAsked> ReadSendBody(std::string_view body);

}  // namespace qm
