// The end by a signal, with a real process: a signal the event loop never hears still ends it.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QObject>

#include <csignal>

#include <sys/wait.h>
#include <unistd.h>

#include "run/Unattended.h"
#include "tests/support/QtTestApp.h"

namespace qm {
namespace {

// A signal the event loop does not hear (a step that never returns) still ends the process,
// as if it had not been caught, within a second.
TEST(EndOnSignals, ASignalTheEventLoopDoesNotHearEndsTheProcess) {
  test::App();
  QElapsedTimer took;
  took.start();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    QObject owner;
    EndOnSignals(&owner, [] { ::_exit(0); });
    ::raise(SIGTERM);
    for (;;) ::pause();  // the event loop never runs again
  }
  int status = 0;
  const QDeadlineTimer deadline(3000);
  pid_t ended = 0;
  while ((ended = ::waitpid(child, &status, WNOHANG)) == 0 && !deadline.hasExpired()) ::usleep(10000);
  const qint64 ms = took.elapsed();
  if (ended == 0) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
    FAIL() << "the child was still there after 3 s";
  }
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
  EXPECT_LT(ms, 1000);
}

}  // namespace
}  // namespace qm
