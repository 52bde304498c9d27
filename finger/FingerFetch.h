// One Finger exchange on a thread of its own, so that the thread that asked for it goes on
// with its events meanwhile. The thread always joins: the exchange ends by the client's own
// bounds (20 s at most with the defaults), so waiting for it never takes longer.
#pragma once

#include <functional>
#include <future>
#include <mutex>
#include <string>
#include <thread>

#include "finger/FingerClient.h"

namespace qm {

class TFingerFetch {
 public:
  // Starts client.Fetch() on a new thread (std::system_error when none can be had). `done`
  // runs on that thread once the exchange is over (Finished() may say so a moment before),
  // unless LetGo() came first.
  TFingerFetch(TFingerClient client, std::function<void()> done);
  // Lets go and waits for the thread, at most as long as the client's bounds.
  ~TFingerFetch();
  TFingerFetch(const TFingerFetch&) = delete;
  TFingerFetch& operator=(const TFingerFetch&) = delete;

  bool Finished() const;
  // The reply, or the exchange's failure thrown again; only once Finished().
  std::string Reply() const;
  // No `done` runs once this returns (one running is waited for); the exchange goes on to
  // its end by itself.
  void LetGo();

 private:
  std::shared_future<std::string> FReply;
  // Held while `done` runs, so LetGo() never returns during it.
  std::mutex FDoneLock;
  std::function<void()> FDone;
  std::thread FThread;  // last: it starts once the rest stands
};

}  // namespace qm
