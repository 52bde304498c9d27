// How the window's dialogs run what a click asks: through the window's guard, which shows what
// throws in a box, or as it is where a dialog stands alone (its tests).
#pragma once

#include <functional>

namespace qm {

using TActionGuard = std::function<void(const std::function<void()>&)>;

inline void RunGuarded(const TActionGuard& guard, const std::function<void()>& action) {
  if (guard)
    guard(action);
  else
    action();
}

}  // namespace qm
