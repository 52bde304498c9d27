// The operator's own program, run for each message the desk keeps: [Hooks] in Quillmark.ini
// names it, it gets the message on its standard input as one JSON object (the board's feed's
// fields), and it runs beside the desk, a few at a time and each within a bound. What it writes
// is thrown away; its failures go to the desk's log, each kind at most once a minute.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

class QProcess;

namespace qm {

class TMessageDesk;
class TSettingsStore;

// [Hooks]: Message (the program and its arguments, a blank within one in double quotes; empty or absent: no
// hook), TimeoutSeconds and MaxRunning. Read only, never written.
inline constexpr const char* kHooksSection = "Hooks";

struct THookChoices {
  static constexpr int kDefaultTimeoutSeconds = 10;
  static constexpr int kMostTimeoutSeconds = 300;
  static constexpr int kDefaultMaxRunning = 2;
  static constexpr int kMostMaxRunning = 8;

  QString Program;  // "": no hook
  QStringList Arguments;
  int TimeoutSeconds = kDefaultTimeoutSeconds;
  int MaxRunning = kDefaultMaxRunning;
  // What in the section could not be used as written, one line each for the log.
  QStringList Problems;
};

// The section as the file has it: a number that is not one keeps its default, one out of its
// bounds is held to the nearer bound; each is a line of Problems.
THookChoices ReadHookChoices(TSettingsStore& settings);

struct THookSetup {
  THookChoices Choices;
  // A line for the desk's log.
  std::function<void(const std::string&)> Log;
  // The millisecond tick counter the minute of the failure lines is counted by; TickCount32
  // when empty.
  std::function<std::uint32_t()> Ticks;
  // What a second of TimeoutSeconds lasts (tests make it short).
  std::chrono::milliseconds Second{1000};
  // Messages that wait for a run while MaxRunning run; beyond, the oldest is dropped.
  std::size_t MostWaiting = 64;
};

class TMessageHooks : public QObject {
  Q_OBJECT

 public:
  explicit TMessageHooks(THookSetup setup, QObject* parent = nullptr);
  // Those still running are killed, and those waiting never run; the log says how many.
  ~TMessageHooks() override;

  // Each message the desk lists from now on, once the store holds it; never the bundled demo's
  // (it is never stored).
  void Follow(TMessageDesk& desk);
  // Runs the program for one message now, or once fewer than MaxRunning run.
  void Hand(const QJsonObject& message);
  // Once a second: failures counted since their kind was last logged get their line once
  // that was a minute ago.
  void Tick();

  int Running() const { return static_cast<int>(FRunning.size()); }
  std::size_t Waiting() const { return FWaiting.size(); }
  static constexpr std::uint32_t kFailureLineEveryMs = 60000;

 signals:
  // A run ended, well or not, or could not start.
  void RunEnded();

 private:
  struct TFailures {
    std::uint32_t LoggedAt = 0;
    int Unlogged = 0;  // since LoggedAt
  };

  std::uint32_t Now() const;
  void Start(const QByteArray& input);
  void Ended(QProcess* process, const std::string& failure);
  void Failed(const std::string& what);
  void LogFailures(const std::string& what, int count);

  THookSetup FSetup;
  std::deque<QByteArray> FWaiting;
  std::vector<QProcess*> FRunning;
  std::map<std::string, TFailures> FFailures;
};

}  // namespace qm
