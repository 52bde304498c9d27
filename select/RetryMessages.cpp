#include "select/RetryMessages.h"

#include "base/AsciiText.h"
#include "base/IntegerText.h"

namespace qm {
namespace {

std::string Key(std::string_view fullCall, std::string_view messageId) {
  std::string key = UpperCase(fullCall);
  key += '\0';
  key += messageId;
  return key;
}

}  // namespace

void TRetryList::Prune(std::uint32_t now, std::uint32_t windowMs) {
  while (!FOrder.empty() && now - FOrder.front().first >= windowMs) {
    const auto& [tick, key] = FOrder.front();
    // A pair listed again later keeps its later time.
    if (auto it = FListedAt.find(key); it != FListedAt.end() && it->second == tick) FListedAt.erase(it);
    FOrder.pop_front();
  }
}

bool TRetryList::IsRetry(std::string_view fullCall, std::string_view messageId, std::uint32_t now,
                         std::uint32_t windowMs) {
  Prune(now, windowMs);
  if (messageId.empty()) return false;
  const auto it = FListedAt.find(Key(fullCall, messageId));
  return it != FListedAt.end() && now - it->second < windowMs;
}

void TRetryList::Add(std::string_view fullCall, std::string_view messageId, std::uint32_t now) {
  if (messageId.empty()) return;
  std::string key = Key(fullCall, messageId);
  FListedAt[key] = now;
  FOrder.emplace_back(now, std::move(key));
}

void TRetryList::Clear() {
  FListedAt.clear();
  FOrder.clear();
}

int RetryMinutes(std::string_view text) {
  const std::int32_t minutes = StrToIntDef(Trim(text), 0);
  return minutes >= 1 && minutes <= 1440 ? minutes : TRetryList::kDefaultMinutes;
}

}  // namespace qm
