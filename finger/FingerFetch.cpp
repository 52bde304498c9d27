#include "finger/FingerFetch.h"

#include <exception>
#include <mutex>
#include <stdexcept>
#include <utility>

namespace qm {

struct TFingerFetch::TState {
  mutable std::mutex Lock;  // the result
  bool Finished = false;
  std::string Reply;
  std::exception_ptr Failure;
  // Held while `done` runs, so LetGo() never returns during it; apart from Lock, so `done`
  // may take locks of the caller's that are held while it asks Finished().
  std::mutex DoneLock;
  std::function<void()> Done;
};

TFingerFetch::TFingerFetch(TFingerClient client, std::function<void()> done)
    : FState(std::make_shared<TState>()) {
  FState->Done = std::move(done);
  FThread = std::thread([state = FState, client = std::move(client)]() mutable {
    std::string reply;
    std::exception_ptr failure;
    try {
      reply = client.Fetch();
    } catch (...) {
      failure = std::current_exception();
    }
    {
      const std::lock_guard hold(state->Lock);
      state->Finished = true;
      state->Reply = std::move(reply);
      state->Failure = failure;
    }
    const std::lock_guard hold(state->DoneLock);
    if (state->Done) state->Done();
  });
}

TFingerFetch::~TFingerFetch() {
  LetGo();
  FThread.join();
}

bool TFingerFetch::Finished() const {
  const std::lock_guard hold(FState->Lock);
  return FState->Finished;
}

std::string TFingerFetch::Reply() const {
  const std::lock_guard hold(FState->Lock);
  if (!FState->Finished) throw std::logic_error("the Finger exchange is still running");
  if (FState->Failure) std::rethrow_exception(FState->Failure);
  return FState->Reply;
}

void TFingerFetch::LetGo() {
  const std::lock_guard hold(FState->DoneLock);
  FState->Done = nullptr;
}

}  // namespace qm
