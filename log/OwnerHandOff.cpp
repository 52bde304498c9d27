#include "log/OwnerHandOff.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace qm {

struct TOwnerHandOff::TState {
  std::mutex Lock;
  std::condition_variable Cond;
  bool Closed = false;
  bool Running = false;
  std::thread::id RunningOn;
  std::uint64_t Posted = 0;
  std::uint64_t Finished = 0;
  std::exception_ptr Failure;
};

TOwnerHandOff::TOwnerHandOff() : FState(std::make_shared<TState>()) {}

bool TOwnerHandOff::Run(const TPost& Post, const TCall& Call) {
  if (!Post) {
    Call();
    return true;
  }
  const std::shared_ptr<TState> link = FState;
  std::uint64_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(link->Lock);
    if (link->Closed) return false;
    ticket = ++link->Posted;
  }
  try {
    Post([link, Call, ticket] {
      {
        std::lock_guard<std::mutex> lock(link->Lock);
        if (link->Closed) return;
        link->Running = true;
        link->RunningOn = std::this_thread::get_id();
      }
      std::exception_ptr failure;
      try {
        Call();
      } catch (...) {
        failure = std::current_exception();
      }
      {
        std::lock_guard<std::mutex> lock(link->Lock);
        link->Running = false;
        link->Finished = ticket;
        link->Failure = failure;
      }
      link->Cond.notify_all();
    });
  } catch (...) {
    return false;  // the owner cannot take calls any more
  }
  std::unique_lock<std::mutex> lock(link->Lock);
  link->Cond.wait(lock, [&] { return link->Closed || link->Finished >= ticket; });
  if (link->Finished < ticket) return false;
  if (std::exception_ptr failure = std::exchange(link->Failure, nullptr)) {
    lock.unlock();
    std::rethrow_exception(failure);
  }
  return true;
}

void TOwnerHandOff::Close() {
  std::unique_lock<std::mutex> lock(FState->Lock);
  FState->Closed = true;
  FState->Cond.notify_all();
  FState->Cond.wait(lock,
                    [this] { return !FState->Running || FState->RunningOn == std::this_thread::get_id(); });
}

}  // namespace qm
