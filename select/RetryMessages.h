// APRS clients send a message again (every 30 s or more) until it is acknowledged; these are
// the sender and message number pairs listed lately, so the copies after the first can be
// dropped. Messages without a number are never taken for a copy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <unordered_map>

namespace qm {

class TRetryList {
 public:
  // The window the INI gives when it says nothing (or nothing usable).
  static constexpr int kDefaultMinutes = 30;

  // True when `fullCall` (ASCII case ignored) had message number `messageId` listed less than
  // `windowMs` before `now` (ms ticks, unsigned 32-bit arithmetic). Forgets older pairs.
  bool IsRetry(std::string_view fullCall, std::string_view messageId, std::uint32_t now,
               std::uint32_t windowMs);
  // The pair was listed at `now`; an empty number is not kept.
  void Add(std::string_view fullCall, std::string_view messageId, std::uint32_t now);

  std::size_t Count() const { return FListedAt.size(); }
  void Clear();

 private:
  void Prune(std::uint32_t now, std::uint32_t windowMs);

  // Key: the upper-case call, a NUL, the number.
  std::unordered_map<std::string, std::uint32_t> FListedAt;
  std::deque<std::pair<std::uint32_t, std::string>> FOrder;  // oldest first
};

// The minutes a copy is looked for, from the option's text: a whole number from 1 to 1440,
// else the default.
int RetryMinutes(std::string_view text);

}  // namespace qm
