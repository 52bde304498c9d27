// One Finger exchange on a thread of its own, so that the thread that asked for it goes on
// with its events meanwhile. The thread always joins: the exchange ends by the client's own
// bounds (20 s at most with the defaults), or within a moment once let go.
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
  // Lets go and waits for the thread: a moment (a name lookup that cannot be abandoned, on
  // Windows, as long as the resolver takes).
  ~TFingerFetch();
  TFingerFetch(const TFingerFetch&) = delete;
  TFingerFetch& operator=(const TFingerFetch&) = delete;

  bool Finished() const;
  // The reply, or the exchange's failure thrown again; only once Finished().
  std::string Reply() const;
  // No `done` runs once this returns (one running is waited for); the exchange is abandoned
  // and its thread ends within a moment.
  void LetGo();

 private:
  TAbandon FAbandon{false};
  std::shared_future<std::string> FReply;
  // Held while `done` runs, so LetGo() never returns during it.
  std::mutex FDoneLock;
  std::function<void()> FDone;
  std::thread FThread;  // last: it starts once the rest stands
};

}  // namespace qm
