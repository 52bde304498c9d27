#include "web/BoardHttp.h"

#include <algorithm>
#include <cstring>

#include "web/BoardSockets.h"

namespace qm {

namespace {

using namespace std::chrono;

thread_local TBoardClock::time_point tAcceptedAt;
thread_local TBoardConnection* tConnection = nullptr;

// Waits until `fd` is ready for `events`, at most `timeout` and never past `deadline`.
bool WaitFor(socket_t fd, short events, microseconds timeout, TBoardClock::time_point deadline) {
  const auto until = std::min(TBoardClock::now() + timeout, deadline);
  for (;;) {
    const auto left = duration_cast<milliseconds>(until - TBoardClock::now()).count();
    if (left <= 0) return false;
    const int ready = boardsock::Wait(fd, events, static_cast<int>(std::min<long long>(left + 1, 60000)));
    if (ready > 0) return true;  // also a socket shut down or in error: the call after it fails
    if (ready < 0) return false;
  }
}

void Address(socket_t fd, bool peer, std::string& ip, int& port) {
  sockaddr_storage a{};
  socklen_t size = sizeof a;
  const int got = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&a), &size)
                       : ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  char host[NI_MAXHOST] = {};
  char service[NI_MAXSERV] = {};
  if (got != 0 || ::getnameinfo(reinterpret_cast<sockaddr*>(&a), size, host, sizeof host, service,
                                sizeof service, NI_NUMERICHOST | NI_NUMERICSERV) != 0)
    return;
  ip = host;
  port = std::atoi(service);
}

// The connection's socket as cpp-httplib reads and writes it: each read waits at most the
// read timeout and never past the request's deadline, so a client dripping its request a
// byte at a time is cut off when its time is up, not when it pauses for long.
class TDeadlineStream final : public httplib::Stream {
 public:
  TDeadlineStream(TBoardConnection& c, microseconds readTimeout, microseconds writeTimeout)
      : FConnection(c), FRead(readTimeout), FWrite(writeTimeout) {}

  bool Buffered() const { return FBegin < FEnd; }

  bool is_readable() const override {
    return Buffered() || WaitFor(FConnection.Fd, POLLIN, FRead, FConnection.Deadline);
  }
  bool is_writable() const override {
    return WaitFor(FConnection.Fd, POLLOUT, FWrite, TBoardClock::time_point::max());
  }

  ssize_t read(char* ptr, size_t size) override {
    if (!Buffered()) {
      if (!is_readable()) return -1;
      const ssize_t n = boardsock::Receive(FConnection.Fd, FBuffer, sizeof FBuffer);
      if (n <= 0) return n;
      FBegin = 0;
      FEnd = static_cast<std::size_t>(n);
    }
    const std::size_t n = std::min(size, FEnd - FBegin);
    std::memcpy(ptr, FBuffer + FBegin, n);
    FBegin += n;
    return static_cast<ssize_t>(n);
  }

  ssize_t write(const char* ptr, size_t size) override {
    if (!is_writable()) return -1;
    return boardsock::Send(FConnection.Fd, ptr, size);
  }

  void get_remote_ip_and_port(std::string& ip, int& port) const override {
    Address(FConnection.Fd, true, ip, port);
  }
  void get_local_ip_and_port(std::string& ip, int& port) const override {
    Address(FConnection.Fd, false, ip, port);
  }
  socket_t socket() const override { return FConnection.Fd; }

 private:
  TBoardConnection& FConnection;
  const microseconds FRead, FWrite;
  char FBuffer[4096];
  std::size_t FBegin = 0, FEnd = 0;
};

microseconds Micros(time_t sec, time_t usec) {
  return seconds(sec) + microseconds(usec);
}

}  // namespace

void TBoundedPool::enqueue(std::function<void()> fn) {
  // Called by the listener right after accept.
  const TBoardClock::time_point accepted = TBoardClock::now();
  std::unique_lock lock(FMutex);
  FRoom.wait(lock, [this] { return FJobs.size() < FMaxWaiting || FShutdown; });
  FJobs.push_back([fn = std::move(fn), accepted] {
    tAcceptedAt = accepted;
    fn();
  });
  if (!FShutdown && FIdle < FJobs.size() && FWorkers.size() < FMaxWorkers)
    FWorkers.emplace_back([this] { Work(); });
  FWork.notify_one();
}

void TBoundedPool::shutdown() {
  {
    std::lock_guard lock(FMutex);
    if (FShutdown && FWorkers.empty()) return;
    FShutdown = true;
  }
  FWork.notify_all();
  FRoom.notify_all();
  // No worker is started once FShutdown is set, so the list stands still while they end.
  for (std::thread& t : FWorkers) t.join();
  FWorkers.clear();
}

TBoardClock::time_point TBoundedPool::AcceptedAt() {
  return tAcceptedAt;
}

void TBoundedPool::Work() {
  for (;;) {
    std::function<void()> fn;
    {
      std::unique_lock lock(FMutex);
      ++FIdle;
      FWork.wait(lock, [this] { return FShutdown || !FJobs.empty(); });
      --FIdle;
      if (FJobs.empty()) return;  // shut down and nothing left
      fn = std::move(FJobs.front());
      FJobs.pop_front();
    }
    FRoom.notify_one();
    fn();
  }
}

void TBoardHttp::MarkKeyed() {
  if (!tConnection) return;
  std::lock_guard lock(FMutex);
  tConnection->Keyed = true;
}

bool TBoardHttp::process_and_close_socket(socket_t sock) {
  TBoardConnection c;
  c.Fd = sock;
  c.Deadline = TBoundedPool::AcceptedAt() + FLimits.Request;
  Enter(c);
  TDeadlineStream stream(c, Micros(read_timeout_sec_, read_timeout_usec_),
                         Micros(write_timeout_sec_, write_timeout_usec_));
  tConnection = &c;
  bool served = false;
  for (std::size_t left = keep_alive_max_count_; left > 0; --left) {
    if (left != keep_alive_max_count_) {
      if (!stream.Buffered() &&
          !WaitFor(sock, POLLIN, seconds(keep_alive_timeout_sec_), TBoardClock::time_point::max()))
        break;
      c.Deadline = TBoardClock::now() + FLimits.Request;
    }
    bool closed = false;
    served = process_request(stream, left == 1, closed, nullptr);
    // A stranger gets one answer per connection: it cannot keep a worker by keeping alive.
    std::lock_guard lock(FMutex);
    if (!served || closed || !c.Keyed || c.Shut) break;
  }
  tConnection = nullptr;
  Leave(c);
  boardsock::ShutDown(sock);
  boardsock::Close(sock);
  return served;
}

void TBoardHttp::ShutLocked(TBoardConnection& c) {
  if (c.Shut) return;
  c.Shut = true;
  // The worker's poll or send returns at once; the socket stays open until the worker closes it.
  boardsock::ShutDown(c.Fd);
}

void TBoardHttp::Enter(TBoardConnection& c) {
  std::lock_guard lock(FMutex);
  FOpen.push_back(&c);
  if (FStopping) return ShutLocked(c);
  std::size_t strangers = 0;
  for (const TBoardConnection* o : FOpen) strangers += !o->Keyed && !o->Shut;
  // The oldest stranger goes: a new one (maybe the operator's) always gets its turn.
  for (auto it = FOpen.begin(); strangers > FLimits.Strangers && it != FOpen.end(); ++it)
    if (!(*it)->Keyed && !(*it)->Shut) {
      ShutLocked(**it);
      --strangers;
    }
}

void TBoardHttp::Leave(TBoardConnection& c) {
  std::lock_guard lock(FMutex);
  FOpen.remove(&c);
}

void TBoardHttp::StopNow() {
  const socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
  if (listening != INVALID_SOCKET) {
    boardsock::ShutDown(listening);
    boardsock::Close(listening);
  }
  std::lock_guard lock(FMutex);
  FStopping = true;
  for (TBoardConnection* c : FOpen) ShutLocked(*c);
}

void TBoardHttp::WidenBacklog(int backlog) {
  // Listening again on a listening socket only sets its backlog.
  ::listen(svr_sock_, backlog);
}

std::size_t TBoardHttp::Open() {
  std::lock_guard lock(FMutex);
  return FOpen.size();
}

std::size_t TBoardHttp::Strangers() {
  std::lock_guard lock(FMutex);
  return static_cast<std::size_t>(std::count_if(
      FOpen.begin(), FOpen.end(), [](const TBoardConnection* c) { return !c->Keyed && !c->Shut; }));
}

}  // namespace qm
