// What the board's page asks of the alarms: the body of an acknowledgement.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qm {

struct TAcknowledgeAsked {
  std::optional<std::int64_t> Id;  // none: every alarm
};

// `{"id": N}` (N a whole number from 1 on) for one alarm, `{}` for all; nullopt for anything
// else (no JSON object, another member, a number that is no message's).
std::optional<TAcknowledgeAsked> ReadAcknowledgeBody(std::string_view body);

}  // namespace qm
