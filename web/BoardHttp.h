// cpp-httplib's server with doors that a slow or crowding client cannot hold: each
// connection is known from the moment a worker takes it (its accept time kept by the pool),
// a whole request (line, headers, body) must arrive by its deadline, connections that have not
// shown a key yet are bounded in number (one more sheds the oldest of them), and a stop shuts
// every socket down so that no worker is left reading. Only BoardServer.cpp uses it.
#pragma once

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace qm {

using TBoardClock = std::chrono::steady_clock;

// cpp-httplib's workers with a bounded queue: when it is full the listener waits, so further
// connections wait in the system's backlog and never become this process's open files. A
// worker is started when a job finds none idle, up to the limit, so a board that nobody opens
// costs no threads. Each job carries the time its connection was accepted.
class TBoundedPool : public httplib::TaskQueue {
 public:
  TBoundedPool(std::size_t workers, std::size_t waiting) : FMaxWorkers(workers), FMaxWaiting(waiting) {}
  ~TBoundedPool() override { shutdown(); }

  void enqueue(std::function<void()> fn) override;
  void shutdown() override;

  // When the connection the calling worker serves was accepted.
  static TBoardClock::time_point AcceptedAt();

 private:
  void Work();

  const std::size_t FMaxWorkers;
  const std::size_t FMaxWaiting;
  std::mutex FMutex;
  std::condition_variable FWork, FRoom;
  std::deque<std::function<void()>> FJobs;
  std::vector<std::thread> FWorkers;
  std::size_t FIdle = 0;  // workers waiting for a job
  bool FShutdown = false;
};

// One connection while a worker serves it.
struct TBoardConnection {
  socket_t Fd = INVALID_SOCKET;
  TBoardClock::time_point Deadline;  // the request being read must be whole by then
  bool Keyed = false;                // it has shown the token or the session
  bool Shut = false;                 // shut down by the watch (shed, or the stop)
};

class TBoardHttp : public httplib::Server {
 public:
  struct TLimits {
    std::chrono::milliseconds Request{10000};  // a whole request, from accept or the keep-alive wait
    std::size_t Strangers = 32;                // connections that have not shown a key, at once
  };
  explicit TBoardHttp(TLimits limits) : FLimits(limits) {}

  // The connection the calling worker serves shows a key: it is no stranger any more.
  void MarkKeyed();
  // Ends serving now, whatever the clients do: the listening socket is closed (also before
  // the accept loop began) and every connection shut down; the listener's thread then joins
  // the workers, none of them left waiting on a client.
  void StopNow();
  // After the bind: cpp-httplib listens with a backlog of 5, which a burst of connections
  // (strangers among them) overflows while the listener waits for a core; each dropped
  // connect is tried again by its client only a second later.
  void WidenBacklog(int backlog);
  // Connections served now, and those of them that have not shown a key.
  std::size_t Open();
  std::size_t Strangers();

 private:
  bool process_and_close_socket(socket_t sock) override;
  void Enter(TBoardConnection& c);
  void Leave(TBoardConnection& c);
  void ShutLocked(TBoardConnection& c);

  const TLimits FLimits;
  std::mutex FMutex;
  std::list<TBoardConnection*> FOpen;  // oldest first
  bool FStopping = false;
};

}  // namespace qm
