#include "finger/FingerFetch.h"

#include <chrono>
#include <stdexcept>
#include <utility>

namespace qm {

TFingerFetch::TFingerFetch(TFingerClient client, std::function<void()> done) : FDone(std::move(done)) {
  client.Abandon = &FAbandon;
  std::packaged_task<std::string()> exchange(
      [client = std::move(client)]() mutable { return client.Fetch(); });
  FReply = exchange.get_future().share();
  FThread = std::thread([this, exchange = std::move(exchange)]() mutable {
    exchange();
    const std::lock_guard hold(FDoneLock);
    if (FDone) FDone();
  });
}

TFingerFetch::~TFingerFetch() {
  LetGo();
  FThread.join();
}

bool TFingerFetch::Finished() const {
  return FReply.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

std::string TFingerFetch::Reply() const {
  if (!Finished()) throw std::logic_error("the Finger exchange is still running");
  return FReply.get();
}

void TFingerFetch::LetGo() {
  FAbandon = true;
  const std::lock_guard hold(FDoneLock);
  FDone = nullptr;
}

}  // namespace qm
