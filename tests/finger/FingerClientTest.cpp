#include "finger/FingerClient.h"

#include <dirent.h>
#include <fcntl.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "finger/Socket.h"
#include "tests/support/LoopbackServer.h"

#if defined(__SANITIZE_ADDRESS__)
#define QM_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QM_LEAK_CHECK 1
#endif
#endif
#ifdef QM_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace qm {
namespace {

using namespace std::string_literals;

using test::ReadToEnd;
using test::SendAll;
using test::TLoopbackServer;

TFingerClient ClientFor(int port, const std::string& query = "NOCALL123") {
  TFingerClient client;
  client.Host = "127.0.0.1";
  client.Port = port;
  client.Query = query;
  client.Bounds.Connect = std::chrono::seconds(5);
  client.Bounds.Idle = std::chrono::seconds(5);
  client.Bounds.Total = std::chrono::seconds(10);
  return client;
}

// Runs fetch and expects an ESocketError with this exact message.
template <typename F>
void ExpectSocketError(F fetch, int code, const std::string& message) {
  try {
    fetch();
    ADD_FAILURE() << "no error; expected " << code;
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Code, code);
    EXPECT_EQ(std::string(e.what()), message);
  }
}

// A Finger server: takes the query (first read and everything up to the client's end),
// answers, and ends its side after the reply.
struct TRecordingServer {
  explicit TRecordingServer(std::string reply)
      : Server([this, reply](int fd) {
          char buffer[4096];
          const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
          if (got > 0) FirstRead.assign(buffer, static_cast<std::size_t>(got));
          SendAll(fd, reply);
          ::shutdown(fd, SHUT_WR);
          Rest = ReadToEnd(fd);  // ends when the client closes
        }) {}
  std::string FirstRead, Rest;
  TLoopbackServer Server;  // last: its thread ends before the strings go
};

TEST(TFingerClient, SendsTheQueryWithCrLfInOneWriteAndKeepsTheReplyBytes) {
  const std::string reply = "WXALERT NOCALL\r\nTornado warning\r\n\nLF only\n\0bytes \xff\xfe end\r\n"s;
  TRecordingServer server(reply);
  EXPECT_EQ(ClientFor(server.Server.Port()).Fetch(), reply);
  server.Server.Join();
  EXPECT_EQ(server.FirstRead, "NOCALL123\r\n");
  EXPECT_EQ(server.Rest, "") << "nothing follows the query line";
}

TEST(TFingerClient, RepliesOfEverySize) {
  std::string large(100000, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 7 + i / 251);
  const struct {
    const char* what;
    std::string reply;
  } cases[] = {{"empty", ""}, {"one byte", "x"}, {"larger than one receive", large}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TLoopbackServer server([&](int fd) {
      char buffer[64];
      (void)::recv(fd, buffer, sizeof buffer, 0);
      SendAll(fd, c.reply);
    });
    EXPECT_EQ(ClientFor(server.Port()).Fetch(), c.reply);
  }
}

TEST(TFingerClient, ReplyUpToTheSizeBoundIsKeptAndBeyondItFails) {
  for (std::size_t size : {std::size_t{50000}, std::size_t{50001}}) {
    SCOPED_TRACE(size);
    TLoopbackServer server([&](int fd) {
      char buffer[64];
      (void)::recv(fd, buffer, sizeof buffer, 0);
      SendAll(fd, std::string(size, 'w'));
    });
    TFingerClient client = ClientFor(server.Port());
    client.Bounds.MaxReplyBytes = 50000;
    if (size == 50000) {
      EXPECT_EQ(client.Fetch().size(), 50000u);
    } else {
      try {
        client.Fetch();
        ADD_FAILURE() << "no error";
      } catch (const EFingerReplyTooLarge& e) {
        EXPECT_STREQ(e.what(), "Finger reply too large: the server sent more than 50000 bytes");
      }
    }
  }
}

TEST(TFingerClient, ServerThatNeverStopsSendingHitsTheSizeBound) {
  TLoopbackServer server([](int fd) {
    const std::string chunk(65536, 'z');
    // Stops when the client has gone, or after 256 MiB at the very latest.
    for (int i = 0; i < 4096; ++i) {
      if (::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL) <= 0) return;
    }
  });
  TFingerClient client = ClientFor(server.Port());
  client.Bounds.MaxReplyBytes = 1 << 20;
  EXPECT_THROW(client.Fetch(), EFingerReplyTooLarge);
}

TEST(TFingerClient, ConnectionRefused) {
  // A bound socket that does not listen refuses connections, and keeps its port ours.
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length), 0);
  TFingerClient client = ClientFor(ntohs(address.sin_port));
  ExpectSocketError([&] { client.Fetch(); }, 10061, "Socket Error # 10061\r\nConnection refused.");
  ::close(fd);
}

TEST(TFingerClient, ResetMidReplyDropsThePartialReply) {
  TLoopbackServer server([](int fd) {
    char buffer[64];
    (void)::recv(fd, buffer, sizeof buffer, 0);
    SendAll(fd, "first half of the alert\r\n");
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  });  // the close after the handler now sends a reset
  TFingerClient client = ClientFor(server.Port());
  ExpectSocketError([&] { client.Fetch(); }, 10054, "Socket Error # 10054\r\nConnection reset by peer.");
}

TEST(TFingerClient, SilentServerHitsTheIdleBound) {
  TLoopbackServer server([](int fd) { ReadToEnd(fd); });  // returns once the client gives up
  TFingerClient client = ClientFor(server.Port());
  client.Bounds.Idle = std::chrono::milliseconds(200);
  ExpectSocketError([&] { client.Fetch(); }, 10060, "Socket Error # 10060\r\nConnection timed out.");
}

TEST(TFingerClient, SilentServerHitsTheTotalBoundBeforeALongIdleBound) {
  TLoopbackServer server([](int fd) { ReadToEnd(fd); });
  TFingerClient client = ClientFor(server.Port());
  client.Bounds.Idle = std::chrono::seconds(60);
  client.Bounds.Total = std::chrono::milliseconds(300);
  ExpectSocketError([&] { client.Fetch(); }, 10060, "Socket Error # 10060\r\nConnection timed out.");
}

TEST(TFingerClient, HostNameThroughTheResolverAndBadPorts) {
  TLoopbackServer server([](int fd) {
    char buffer[64];
    (void)::recv(fd, buffer, sizeof buffer, 0);
    SendAll(fd, "ok\r\n");
  });
  TFingerClient client = ClientFor(server.Port());
  client.Host = "localhost";  // from the hosts file, never a name server
  EXPECT_EQ(client.Fetch(), "ok\r\n");

  for (int port : {0, -1, 65536}) {
    SCOPED_TRACE(port);
    client.Port = port;
    ExpectSocketError([&] { client.Fetch(); }, 10049,
                      "Socket Error # 10049\r\nCannot assign requested address.");
  }
}

std::size_t OpenDescriptors() {
  std::size_t count = 0;
  if (DIR* dir = ::opendir("/proc/self/fd")) {
    while (::readdir(dir) != nullptr) ++count;
    ::closedir(dir);
  }
  return count;
}

TEST(TFingerClient, FailuresCloseTheConnectionAndTheNextFetchWorks) {
  const std::size_t before = OpenDescriptors();
  for (int round = 0; round < 3; ++round) {
    TLoopbackServer silent([](int fd) { ReadToEnd(fd); });
    TFingerClient client = ClientFor(silent.Port());
    client.Bounds.Idle = std::chrono::milliseconds(50);
    EXPECT_THROW(client.Fetch(), ESocketError);
  }
  EXPECT_EQ(OpenDescriptors(), before);
  TRecordingServer good("after the failures");
  EXPECT_EQ(ClientFor(good.Server.Port()).Fetch(), "after the failures");
}

TEST(TFingerClient, ConnectBoundWhenTheServerNeverAccepts) {
  // With backlog 0 and the queue already holding one unaccepted connection, the kernel
  // drops further connection requests, so the next connect stays pending.
  TLoopbackServer server(nullptr, 0);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(server.Port()));
    (void)::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    fillers.push_back(fd);
  }
  auto closeAll = [&] {
    for (int fd : fillers) ::close(fd);
  };
  pollfd last{fillers.back(), POLLOUT, 0};
  if (::poll(&last, 1, 200) != 0) {
    closeAll();
    GTEST_SKIP() << "this network stack does not hold back connections to a full queue";
  }
  TFingerClient client = ClientFor(server.Port());
  client.Bounds.Connect = std::chrono::milliseconds(300);
  ExpectSocketError([&] { client.Fetch(); }, 10060, "Socket Error # 10060\r\nConnection timed out.");
  closeAll();
}

TEST(CollectFingerReply, AsksForAtMost32768BytesAndDropsTheReplyOnFailure) {
  std::vector<std::size_t> asked;
  int calls = 0;
  auto receive = [&](char* buffer, std::size_t size) -> std::size_t {
    asked.push_back(size);
    if (++calls == 3) throw ESocketError(10054);
    std::memset(buffer, 'a' + calls, 10);
    return 10;
  };
  ExpectSocketError([&] { CollectFingerReply(receive, 1000); }, 10054,
                    "Socket Error # 10054\r\nConnection reset by peer.");
  EXPECT_EQ(asked, (std::vector<std::size_t>{32768, 32768, 32768}));

  calls = 0;
  auto endsAfterTwo = [&](char* buffer, std::size_t) -> std::size_t {
    if (++calls == 3) return 0;
    std::memset(buffer, calls == 1 ? '\r' : '\n', 10);
    return 10;
  };
  EXPECT_EQ(CollectFingerReply(endsAfterTwo, 20), std::string(10, '\r') + std::string(10, '\n'));
  calls = 0;
  EXPECT_THROW(CollectFingerReply(endsAfterTwo, 19), EFingerReplyTooLarge);
}

TEST(SocketError, MessagesAndDescriptions) {
  const struct {
    int code;
    const char* message;
  } cases[] = {
      {10004, "Socket Error # 10004\r\nInterrupted system call."},
      {10035, "Socket Error # 10035\r\nOperation would block. "},
      {10047, "Socket Error # 10047\r\nAddress family not supported by protocol family."},
      {10059, "Socket Error # 10059\r\nToo many references, cannot splice."},
      {10066, "Socket Error # 10066\r\nDirectory not empty"},
      {11001, "Socket Error # 11001\r\nHost not found."},
      {10003, "Socket Error # 10003\r\n"},
      {10067, "Socket Error # 10067\r\n"},
      {12, "Socket Error # 12\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(std::string(ESocketError(c.code).what()), c.message);
  }
  int described = 0;
  for (int code = 10000; code < 11100; ++code) described += *SocketErrorDescription(code) != '\0';
  EXPECT_EQ(described, 39) << "10004, 10009, 10013, 10014, 10022, 10024, 10035..10066 and 11001";
}

TEST(SocketError, SystemErrorsMapToWindowsNumbers) {
  const struct {
    int system, code;
  } cases[] = {
      {ECONNREFUSED, 10061}, {ETIMEDOUT, 10060},     {ECONNRESET, 10054}, {ECONNABORTED, 10053},
      {ENETUNREACH, 10051},  {EHOSTUNREACH, 10065},  {EINTR, 10004},      {EBADF, 10009},
      {EACCES, 10013},       {EFAULT, 10014},        {EINVAL, 10022},     {EMFILE, 10024},
      {EWOULDBLOCK, 10035},  {EINPROGRESS, 10036},   {EALREADY, 10037},   {ENOTSOCK, 10038},
      {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},   {EHOSTDOWN, 10064},
      {ENOTEMPTY, 10066},    {ENOMEM, ENOMEM},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.system);
    EXPECT_EQ(SocketErrorCodeFromSystem(c.system), c.code);
  }
}

constexpr char kResolverChildFd[] = "QM_PRIVATE_RESOLVER_FD";

// Runs body in a fresh run of this test program (fork and exec: a forked copy would keep
// glibc's view of the parent's resolver threads) with a private mount namespace, and with
// ownNetwork a private network namespace with loopback up, where /etc/resolv.conf reads
// resolvConf, so no query leaves the machine. Returns body's answer, "SKIP <why>" where
// the namespaces cannot be made (not root?), "TIMEOUT" when no answer came within waitFor.
std::string WithPrivateResolver(const std::string& resolvConf, bool ownNetwork,
                                const std::function<std::string()>& body, std::chrono::seconds waitFor) {
  if (const char* fdText = std::getenv(kResolverChildFd)) {  // the child's side
    const int fd = std::atoi(fdText);
    auto answer = [fd](const std::string& text) {
      (void)::write(fd, text.data(), text.size());
      ::_exit(0);
    };
    if (::unshare(CLONE_NEWNS | (ownNetwork ? CLONE_NEWNET : 0)) != 0)
      answer("SKIP cannot make private namespaces (not root?)");
    char resolv[] = "/tmp/qm_select_resolvXXXXXX";
    const int resolvFd = ::mkstemp(resolv);
    if (resolvFd < 0 ||
        ::write(resolvFd, resolvConf.data(), resolvConf.size()) != static_cast<ssize_t>(resolvConf.size()))
      answer("cannot write a resolv.conf");
    ::close(resolvFd);
    const bool mounted = ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                         ::mount(resolv, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
    ::unlink(resolv);  // the mount keeps the file
    if (!mounted) answer("SKIP cannot bind-mount a local /etc/resolv.conf");
    if (ownNetwork) {
      ifreq loopback{};
      std::strcpy(loopback.ifr_name, "lo");
      const int socketFd = ::socket(AF_INET, SOCK_DGRAM, 0);
      if (::ioctl(socketFd, SIOCGIFFLAGS, &loopback) != 0) answer("SKIP no loopback interface");
      loopback.ifr_flags |= IFF_UP;
      if (::ioctl(socketFd, SIOCSIFFLAGS, &loopback) != 0) answer("SKIP cannot bring loopback up");
      ::close(socketFd);
    }
    answer(body());
  }

  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return "pipe failed";
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  const std::string filter = std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name();
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(pipeFds[0]);
    ::setenv(kResolverChildFd, std::to_string(pipeFds[1]).c_str(), 1);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);  // the child's own test report; stderr stays for sanitizers
    ::execl("/proc/self/exe", "finger_client_test", filter.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  pollfd ready{pipeFds[0], POLLIN, 0};
  const int polled = child > 0 ? ::poll(&ready, 1, static_cast<int>(waitFor.count() * 1000)) : -1;
  std::string answer;
  char buffer[512];
  for (ssize_t got; polled > 0 && (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;)
    answer.append(buffer, static_cast<std::size_t>(got));
  ::close(pipeFds[0]);
  if (child < 0) return "fork failed";
  if (polled <= 0) ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (polled <= 0) return "TIMEOUT";
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) answer += "child status " + std::to_string(status);
  return answer;
}

std::string FetchError(TFingerClient& client) {
  try {
    client.Fetch();
    return "fetch completed";
  } catch (const ESocketError& e) {
    return "ERROR " + std::to_string(e.Code) + " " + e.what();
  }
}

// A name under .invalid, resolved against this machine, which serves no names.
TEST(TFingerClient, HostNotFound) {
  const std::string answer = WithPrivateResolver(
      "nameserver 127.0.0.1\noptions timeout:1 attempts:1\n", false,
      [] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        addrinfo* found = nullptr;
        if (::getaddrinfo("quillmark-test.invalid", nullptr, &hints, &found) == 0)
          return std::string("SKIP the resolver here answers for names under .invalid");
        TFingerClient client;
        client.Host = "quillmark-test.invalid";
        client.Query = "NOCALL";
        return FetchError(client);
      },
      std::chrono::seconds(20));
  if (answer == "TIMEOUT")
    GTEST_SKIP() << "the resolver hangs on a name under .invalid; host-not-found not checked";
  if (answer.rfind("SKIP ", 0) == 0) GTEST_SKIP() << answer.substr(5);
  EXPECT_EQ(answer, "ERROR 11001 Socket Error # 11001\r\nHost not found.");
}

// The only name server is a UDP socket that never answers, and the resolver waits 4 s
// for it: the lookup must end with the Total or Connect bound, not with the resolver.
// The lookups given up on are then awaited and, under ASan, checked for leaks.
TEST(TFingerClient, SilentNameServerEndsWithTheBounds) {  // slow
  if (!NameLookupKeepsDeadlines())
    GTEST_SKIP() << "name lookups block in this build (no glibc, or ThreadSanitizer)";
  using namespace std::chrono;
  const struct {
    const char* bound;
    milliseconds total, connect;
  } cases[] = {{"Total", 1500ms, 10s}, {"Connect", 10s, 1200ms}};
  const std::string answer = WithPrivateResolver(
      "nameserver 127.0.0.2\noptions timeout:4 attempts:1\n", true,
      [&] {
        const int silent = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(53);
        address.sin_addr.s_addr = htonl(0x7f000002);
        if (::bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
          return std::string("SKIP cannot bind 127.0.0.2:53");
        std::string results;  // a line "<error> in <ms>" for each case, then what is left
        for (const auto& c : cases) {
          TFingerClient client;
          client.Host = "nws-finger.quillmark.test";
          client.Bounds.Total = c.total;
          client.Bounds.Connect = c.connect;
          const auto start = steady_clock::now();
          std::string error = FetchError(client);
          std::replace(error.begin(), error.end(), '\n', ' ');
          results += error + " in " +
                     std::to_string(duration_cast<milliseconds>(steady_clock::now() - start).count()) + "\n";
        }
        results += std::to_string(AwaitAbandonedNameLookups(steady_clock::now())) + " running, ";
        results += std::to_string(AwaitAbandonedNameLookups(steady_clock::now() + 15s)) + " after waiting\n";
#ifdef QM_LEAK_CHECK
        if (__lsan_do_recoverable_leak_check() != 0) results += "leaks\n";
#endif
        ::close(silent);
        return results;
      },
      seconds(30));
  if (answer.rfind("SKIP ", 0) == 0) GTEST_SKIP() << answer.substr(5);
  std::istringstream lines(answer);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bound);
    std::string line;
    std::getline(lines, line);
    const std::string expected = "ERROR 10060 Socket Error # 10060\r Connection timed out. in ";
    ASSERT_EQ(line.substr(0, expected.size()), expected) << answer;
    EXPECT_LT(std::stoll(line.substr(expected.size())), std::min(c.total, c.connect).count() + 1000);
  }
  std::string rest;
  std::getline(lines, rest, '\0');
  EXPECT_EQ(rest, "2 running, 0 after waiting\n")
      << "both lookups outlast their bounds, then end and are freed";
}

}  // namespace
}  // namespace qm
