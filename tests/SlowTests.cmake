# Tests that take two seconds or more on a quiet 2-core machine (plain build, `ctest -j2`):
# labelled "slow" wherever they live (cmake/QmTesting.cmake), so `ctest -LE slow` is a quick pass.
set(QM_SLOW_TESTS
  ClockJumpRun.LogsStoreAndArchiveSurviveAWallClockJump
  print_cups_pdf_queue
  wine_com_host_link
  app_cups_pdf_page
  board_browser
  desk_direwolf_ack_peer
  BoardServerTest.ManyConnectionsWaitInTheBacklogNotInTheProcess
  BoardServerTest.TheDoorAnswersEachRequestAsItMay
  BoardServerTest.ASlowClientIsCutOffAfterTheReadTimeout
  DateTime.RegionalSeparatorsAreOneAsciiMarkOrTheFallback
  TFingerClient.SilentNameServerEndsWithTheBounds
  InstanceLockTest.SecondStartOnAFolderInUseGoesAwayAndTouchesNothing
  PacketFlow.NothingIsDroppedWhilePrintingIsDisabled
  FileModes.WhatTheProgramMakesIsTheUsersOnly
  TcpLinkTest.QuietConnectionIsReportedUntilAPacketArrives
  LinkStatus.ShowsSourceStateAndEveryPacketHeard
  MessageLoggerTest.DestructionWhileFailingEndsAtTheFlushBound
  EndSignal.EveryMessageLoggedBeforeTheSignalIsKeptForTheNextStart)
