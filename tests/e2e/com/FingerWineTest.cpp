// The Finger client over Windows Sockets (finger/SocketWin.cpp) against servers on the
// loopback interface in the same process: the reply's bytes, and every failure numbered and
// worded as on the other platforms. A console program run under Wine; a reset connection is
// not among the cases, as Wine closes a socket with a zero linger time without resetting it.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "finger/FingerClient.h"
#include "finger/SocketError.h"
#include "tests/e2e/com/WineCheck.h"

using namespace qm;
using namespace qm::winetest;
using namespace std::chrono_literals;

namespace {

// A listening socket on 127.0.0.1 with a port of the system's choice; with a handler, one
// accepted connection is served on a thread of its own and closed when the handler returns.
class TServer {
 public:
  explicit TServer(std::function<void(SOCKET)> Handler = nullptr) {
    FListen = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int Length = sizeof Address;
    bind(FListen, reinterpret_cast<sockaddr*>(&Address), sizeof Address);
    listen(FListen, 4);
    getsockname(FListen, reinterpret_cast<sockaddr*>(&Address), &Length);
    FPort = ntohs(Address.sin_port);
    if (Handler)
      FThread = std::thread([this, Handler] {
        const SOCKET Client = accept(FListen, nullptr, nullptr);
        if (Client == INVALID_SOCKET) return;
        Handler(Client);
        closesocket(Client);
      });
  }
  ~TServer() {
    Close();  // wakes an accept that never got a client
    if (FThread.joinable()) FThread.join();
  }
  int Port() const { return FPort; }
  // Stops listening, so the port refuses connections.
  void Close() {
    if (FListen != INVALID_SOCKET) closesocket(FListen);
    FListen = INVALID_SOCKET;
  }

 private:
  SOCKET FListen;
  int FPort = 0;
  std::thread FThread;
};

std::string ReadQueryLine(SOCKET Client) {
  std::string Query;
  char Ch;
  while (Query.size() < 200 && recv(Client, &Ch, 1, 0) == 1) {
    Query += Ch;
    if (Query.size() >= 2 && Query.compare(Query.size() - 2, 2, "\r\n") == 0) break;
  }
  return Query;
}

void SendAll(SOCKET Client, const std::string& Data) {
  send(Client, Data.data(), static_cast<int>(Data.size()), 0);
}

TFingerClient Client(int Port, std::chrono::milliseconds Idle = 5000ms,
                     std::chrono::milliseconds Total = 10000ms) {
  TFingerClient Finger;
  Finger.Host = "127.0.0.1";
  Finger.Port = Port;
  Finger.Query = "KS-001";
  Finger.Bounds.Connect = 5000ms;
  Finger.Bounds.Idle = Idle;
  Finger.Bounds.Total = Total;
  return Finger;
}

// Runs the fetch, which must fail with the socket error Code and its exact text.
void ExpectSocketError(TFingerClient Finger, int Code, const std::string& Text, const std::string& What) {
  try {
    Finger.Fetch();
    CHECK(false, What + ": no failure");
  } catch (const ESocketError& Error) {
    CHECK(Error.Code == Code, What + ": Socket Error # " + std::to_string(Error.Code));
    CHECK_EQ_TEXT(Error.what(), Text, What + ": the text");
  } catch (const std::exception& Error) {
    CHECK(false, What + ": " + Error.what());
  }
}

}  // namespace

int main() {
  WSADATA Data;
  WSAStartup(MAKEWORD(2, 2), &Data);

  {
    std::string Query;
    const std::string Reply = std::string("KS-001 Tornado Watch\r\nUntil 1915\n\0tail", 37);
    TServer Server([&](SOCKET Peer) {
      Query = ReadQueryLine(Peer);
      SendAll(Peer, Reply);
    });
    std::string Got;
    try {
      Got = Client(Server.Port()).Fetch();
    } catch (const std::exception& Error) {
      Got = std::string("failed: ") + Error.what();
    }
    CHECK_EQ_TEXT(Got, Reply, "the reply comes back byte for byte, NUL and line ends kept");
    CHECK_EQ_TEXT(Query, "KS-001\r\n", "the query goes out with CR LF");
  }

  {
    TServer Server;
    const int Port = Server.Port();
    Server.Close();
    ExpectSocketError(Client(Port), 10061, "Socket Error # 10061\r\nConnection refused.", "a closed port");
  }

  {
    TServer Server([](SOCKET Peer) {
      ReadQueryLine(Peer);
      char Ch;
      recv(Peer, &Ch, 1, 0);  // silent until the client gives up
    });
    const auto Start = std::chrono::steady_clock::now();
    ExpectSocketError(Client(Server.Port(), 300ms), 10060, "Socket Error # 10060\r\nConnection timed out.",
                      "a silent server past the idle bound");
    const auto Took = std::chrono::steady_clock::now() - Start;
    CHECK(Took >= 300ms && Took < 5s, "the idle bound holds (300 ms)");
  }

  {
    TServer Server([](SOCKET Peer) {
      ReadQueryLine(Peer);
      // A byte every 100 ms: never idle for long, never done.
      for (int I = 0; I < 50 && send(Peer, "x", 1, 0) == 1; ++I) std::this_thread::sleep_for(100ms);
    });
    ExpectSocketError(Client(Server.Port(), 2000ms, 600ms), 10060,
                      "Socket Error # 10060\r\nConnection timed out.",
                      "a trickling server past the total bound");
  }

  {
    TServer Server([](SOCKET Peer) {
      ReadQueryLine(Peer);
      SendAll(Peer, std::string(5000, 'x'));
    });
    TFingerClient Finger = Client(Server.Port());
    Finger.Bounds.MaxReplyBytes = 1000;
    bool TooLarge = false;
    try {
      Finger.Fetch();
    } catch (const EFingerReplyTooLarge&) {
      TooLarge = true;
    } catch (const std::exception&) {
    }
    CHECK(TooLarge, "a reply past the size bound fails");
  }

  {
    TServer Server([](SOCKET Peer) {
      ReadQueryLine(Peer);
      SendAll(Peer, "by name\r\n");
    });
    TFingerClient Finger = Client(Server.Port());
    Finger.Host = "localhost";
    std::string Got;
    try {
      Got = Finger.Fetch();
    } catch (const std::exception& Error) {
      Got = std::string("failed: ") + Error.what();
    }
    CHECK_EQ_TEXT(Got, "by name\r\n", "a host name through the resolver");
  }

  TFingerClient BadPort = Client(0);
  ExpectSocketError(BadPort, 10049, "Socket Error # 10049\r\nCannot assign requested address.", "port 0");
  return Summary();
}
