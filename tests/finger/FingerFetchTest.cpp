// The Finger exchange on a thread of its own, against a loopback server.
#include "finger/FingerFetch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/support/LoopbackServer.h"

namespace qm {
namespace {

// `done` comes once, from the exchange's own thread, with the reply ready; after LetGo it
// never comes, and the exchange waiting on a silent server is abandoned: the end does not
// wait for the client's bounds (a minute here).
TEST(TFingerFetch, DoneComesOnceFromTheExchangeUnlessLetGo) {
  for (const bool letGo : {false, true}) {
    SCOPED_TRACE(letGo ? "let go" : "reply");
    std::mutex lock;
    std::condition_variable changed;
    bool asked = false;
    test::TLoopbackServer server([&](int fd) {
      char query[64];
      (void)::recv(fd, query, sizeof query, 0);
      if (!letGo) return test::SendAll(fd, "WWUS54 KOUN\r\n");  // and closes
      {
        const std::lock_guard hold(lock);
        asked = true;
        changed.notify_all();
      }
      (void)test::ReadToEnd(fd);
    });
    TFingerClient client;
    client.Host = "127.0.0.1";
    client.Port = server.Port();
    client.Bounds.Idle = client.Bounds.Total = std::chrono::minutes(1);
    int done = 0;
    std::thread::id doneOn;
    const auto start = std::chrono::steady_clock::now();
    {
      TFingerFetch fetch(client, [&] {
        const std::lock_guard hold(lock);
        ++done;
        doneOn = std::this_thread::get_id();
        changed.notify_all();
      });
      if (letGo) {
        std::unique_lock hold(lock);
        ASSERT_TRUE(changed.wait_for(hold, std::chrono::seconds(10), [&] { return asked; }));
        hold.unlock();
        fetch.LetGo();
      } else {
        std::unique_lock hold(lock);
        ASSERT_TRUE(changed.wait_for(hold, std::chrono::seconds(10), [&] { return done > 0; }));
        EXPECT_NE(doneOn, std::this_thread::get_id());
        ASSERT_TRUE(fetch.Finished());
        EXPECT_EQ(fetch.Reply(), "WWUS54 KOUN\r\n");
      }
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    const std::lock_guard hold(lock);
    EXPECT_EQ(done, letGo ? 0 : 1);
  }
}

}  // namespace
}  // namespace qm
