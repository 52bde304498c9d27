// Hands calls from the log writer to the logger's owner (its GUI thread, say) and waits for
// them, so handlers run where the owner expects them. Once closed, nothing waits any more.
#pragma once

#include <functional>
#include <memory>

namespace qm {

class TOwnerHandOff {
 public:
  using TCall = std::function<void()>;
  // Hands a call to the owner's thread without waiting for it to run.
  using TPost = std::function<void(TCall)>;

  TOwnerHandOff();

  // Runs the call through Post, or at once on this thread when Post is empty, and waits for it.
  // False when the hand-off closes before the call ran or the owner takes no more calls; a
  // call that throws throws here.
  bool Run(const TPost& Post, const TCall& Call);

  // The owner may be the thread that closes: no posted call is waited for from now on, and one
  // already running elsewhere is let finish, as it may reach into the owner. A call posted but
  // not yet started never runs.
  void Close();

 private:
  // Posted calls share this, so one that runs after the owner is gone finds it closed.
  struct TState;
  std::shared_ptr<TState> FState;
};

}  // namespace qm
