#include "print/WinSpool.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TWinJob Job(int id, unsigned status, const QString& said = {}) {
  return TWinJob{id, QStringLiteral("Quillmark"), QStringLiteral("operator"), 1000, status, said};
}

TEST(WinSpool, EachStatusBitSaysHowTheJobStands) {
  using namespace winjob;
  EXPECT_EQ(WinJobAnswer(Job(7, Printed)).State, ssCompleted);
  EXPECT_EQ(WinJobAnswer(Job(7, Complete | Printing)).State, ssCompleted);
  // A printed job an operator deletes afterwards has printed.
  EXPECT_EQ(WinJobAnswer(Job(7, Printed | Deleting)).State, ssCompleted);

  const TSpoolAnswer deleted = WinJobAnswer(Job(7, Deleting | Printing));
  EXPECT_EQ(deleted.State, ssFailed);
  EXPECT_EQ(deleted.Failure, sfCancelled);
  EXPECT_EQ(deleted.Reason, "job 7 was deleted at the print spooler");
  EXPECT_EQ(WinJobAnswer(Job(7, Deleted)).Failure, sfCancelled);

  const TSpoolAnswer offline = WinJobAnswer(Job(8, Offline | Error, QStringLiteral("Port not ready")));
  EXPECT_EQ(offline.State, ssFailed);
  EXPECT_EQ(offline.Failure, sfOffline);
  EXPECT_EQ(offline.Reason, "the printer of job 8 is offline (Port not ready)");
  EXPECT_EQ(WinJobAnswer(Job(8, BlockedDevq)).Reason, "the printer driver cannot print job 8");
  EXPECT_EQ(WinJobAnswer(Job(8, Error | Printing)).Failure, sfAborted);

  const TSpoolAnswer held = WinJobAnswer(Job(9, Paused | PaperOut | Spooling));
  EXPECT_EQ(held.State, ssPending);
  EXPECT_EQ(held.Reason, "paused, out of paper, being spooled");
  EXPECT_EQ(WinJobAnswer(Job(9, 0)).State, ssPending);
  EXPECT_EQ(WinJobAnswer(Job(9, 0)).Reason, "");
}

TEST(WinSpool, AJobGoneFromTheQueueHasPrintedOrWasTakenBySpooler) {
  EXPECT_TRUE(WinJobSeenPrinting(winjob::Printing | winjob::Spooling));
  EXPECT_FALSE(WinJobSeenPrinting(winjob::Spooling | winjob::Paused));
  EXPECT_EQ(WinJobGoneAnswer(5, true).State, ssCompleted);
  EXPECT_EQ(WinJobGoneAnswer(5, true).Reason, "");
  const TSpoolAnswer unseen = WinJobGoneAnswer(5, false);
  EXPECT_EQ(unseen.State, ssCompleted);
  EXPECT_EQ(unseen.Reason, "job 5 left the queue unseen: taken by the print spooler");
  EXPECT_EQ(FailureKindText(sfOffline, QStringLiteral("Desk")),
            "The printer Desk is offline: its jobs were taken back");
}

TEST(WinSpool, TheJobHandedOverIsTheOneNewJobOfItsTitleUserAndTime) {
  const QString title = QStringLiteral("Quillmark");
  const QString user = QStringLiteral("Operator");
  const auto job = [](int id, const char* document, const char* owner, qint64 submitted) {
    return TWinJob{id, QString::fromLatin1(document), QString::fromLatin1(owner), submitted, 0, {}};
  };
  const std::vector<TWinJob> before{job(3, "Quillmark", "operator", 500)};
  // The new one among an old job of ours, another program's, another user's, one from before.
  std::vector<TWinJob> after{job(3, "Quillmark", "operator", 500), job(4, "Letter", "operator", 1500),
                             job(5, "Quillmark", "guest", 1500), job(6, "Quillmark", "operator", 100),
                             job(7, "Quillmark", "OPERATOR", 1500)};
  EXPECT_EQ(MatchWinJob(before, after, title, user, 1000, 2000), 7);
  // None: a spooler that lists nothing (Wine's), or the job already gone.
  EXPECT_EQ(MatchWinJob({}, {}, title, user, 1000, 2000), 0);
  EXPECT_EQ(MatchWinJob(before, before, title, user, 1000, 2000), 0);
  // Two: another copy of the program printed meanwhile; neither is taken for ours.
  after.push_back(job(8, "Quillmark", "operator", 1900));
  EXPECT_EQ(MatchWinJob(before, after, title, user, 1000, 2000), 0);
}

}  // namespace
}  // namespace qm
