#include "run/MessageHooks.h"

#include <QJsonDocument>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <exception>

#include "base/IntegerText.h"
#include "base/Timing.h"
#include "desk/MessageDesk.h"
#include "run/Board.h"
#include "settings/SettingsStore.h"
#include "store/MessageStore.h"

namespace qm {

namespace {

// A number of the section held to [least, most]; one that cannot be used is said in `problems`.
int ReadBounded(TSettingsStore& settings, const char* key, int fallback, int least, int most,
                QStringList& problems) {
  const std::string text = settings.ReadString(kHooksSection, key, "");
  if (text.empty()) return fallback;
  std::int32_t value = 0;
  const QString said =
      QStringLiteral("[%1] %2=%3 ")
          .arg(QLatin1String(kHooksSection), QLatin1String(key), QString::fromStdString(text));
  if (!TryParseInteger(text, value)) {
    problems << said + QStringLiteral("is no number: %1 is used").arg(fallback);
    return fallback;
  }
  const int held = std::clamp<int>(value, least, most);
  if (held != value)
    problems << said + QStringLiteral("is not from %1 to %2: %3 is used").arg(least).arg(most).arg(held);
  return held;
}

}  // namespace

THookChoices ReadHookChoices(TSettingsStore& settings) {
  THookChoices c;
  TSettingsSession session(settings);
  const QString command = QString::fromStdString(settings.ReadString(kHooksSection, "Message", "")).trimmed();
  QStringList words = QProcess::splitCommand(command);
  if (!words.isEmpty()) {
    c.Program = words.takeFirst();
    c.Arguments = words;
  }
  c.TimeoutSeconds = ReadBounded(settings, "TimeoutSeconds", THookChoices::kDefaultTimeoutSeconds, 1,
                                 THookChoices::kMostTimeoutSeconds, c.Problems);
  c.MaxRunning = ReadBounded(settings, "MaxRunning", THookChoices::kDefaultMaxRunning, 1,
                             THookChoices::kMostMaxRunning, c.Problems);
  session.Close();
  return c;
}

TMessageHooks::TMessageHooks(THookSetup setup, QObject* parent) : QObject(parent), FSetup(std::move(setup)) {
  FSetup.Choices.MaxRunning = std::clamp(FSetup.Choices.MaxRunning, 1, THookChoices::kMostMaxRunning);
  FSetup.MostWaiting = std::max<std::size_t>(FSetup.MostWaiting, 1);
}

TMessageHooks::~TMessageHooks() {
  // Their ends are no failures to log.
  for (QProcess* p : FRunning) {
    p->disconnect(this);
    p->kill();
    p->waitForFinished(1000);
  }
  if (!FRunning.empty() || !FWaiting.empty())
    FSetup.Log("Hook at the end: " + std::to_string(FRunning.size()) + " running stopped, " +
               std::to_string(FWaiting.size()) + " waiting not run");
}

std::uint32_t TMessageHooks::Now() const {
  return FSetup.Ticks ? FSetup.Ticks() : TickCount32();
}

void TMessageHooks::Follow(TMessageDesk& desk) {
  connect(&desk, &TMessageDesk::EntryListed, this, [this, &desk] {
    const TListedEntry& entry = desk.Listed().back();
    // A message the store could not keep has no row: the desk reports the store's failure.
    // The operator's own traffic is no message heard.
    if (entry.Demo || entry.Own || desk.PlaysDemo() || entry.StoreId == 0) return;
    try {
      const std::vector<TStoredMessage> rows = desk.ListedMessages({entry.StoreId});
      if (rows.empty()) throw std::runtime_error("the store holds it no more");
      Hand(HistoryRow(rows.front(), desk.Now(tfUTC)));
    } catch (const std::exception& e) {
      Failed(std::string("message not read: ") + e.what());
    }
  });
}

void TMessageHooks::Hand(const QJsonObject& message) {
  QByteArray input = QJsonDocument(message).toJson(QJsonDocument::Compact);
  input += '\n';
  if (Running() < FSetup.Choices.MaxRunning) {
    Start(input);
    return;
  }
  if (FWaiting.size() >= FSetup.MostWaiting) {
    FWaiting.pop_front();
    Failed("a message dropped, " + std::to_string(FSetup.MostWaiting) + " were waiting");
  }
  FWaiting.push_back(std::move(input));
}

void TMessageHooks::Start(const QByteArray& input) {
  auto* process = new QProcess(this);
  process->setProgram(FSetup.Choices.Program);
  process->setArguments(FSetup.Choices.Arguments);
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  auto* bound = new QTimer(process);
  bound->setSingleShot(true);
  const int seconds = FSetup.Choices.TimeoutSeconds;
  connect(bound, &QTimer::timeout, process, [process] {
    process->setProperty("killedAtBound", true);
    process->kill();
  });
  connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
    // No finished follows a start that failed.
    if (error == QProcess::FailedToStart)
      Ended(process, "could not start (" + process->errorString().toStdString() + ")");
  });
  connect(process, &QProcess::finished, this,
          [this, process, seconds](int code, QProcess::ExitStatus status) {
            std::string failure;
            if (process->property("killedAtBound").toBool())
              failure = "killed after " + std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
            else if (status == QProcess::CrashExit)
              failure = "ended by a signal";
            else if (code != 0)
              failure = "exit code " + std::to_string(code);
            Ended(process, failure);
          });
  FRunning.push_back(process);
  process->start(QIODevice::WriteOnly);
  // A program that is not there can be refused at once.
  if (std::find(FRunning.begin(), FRunning.end(), process) == FRunning.end()) return;
  // Held until the program has started, then written; the end of its input follows.
  process->write(input);
  process->closeWriteChannel();
  bound->start(FSetup.Second * seconds);
}

void TMessageHooks::Ended(QProcess* process, const std::string& failure) {
  const auto it = std::find(FRunning.begin(), FRunning.end(), process);
  if (it == FRunning.end()) return;
  FRunning.erase(it);
  process->disconnect(this);
  process->deleteLater();
  if (!failure.empty()) Failed(failure);
  while (!FWaiting.empty() && Running() < FSetup.Choices.MaxRunning) {
    const QByteArray next = std::move(FWaiting.front());
    FWaiting.pop_front();
    Start(next);
  }
  emit RunEnded();
}

void TMessageHooks::Failed(const std::string& what) {
  const std::uint32_t now = Now();
  const auto [it, first] = FFailures.try_emplace(what);
  TFailures& f = it->second;
  if (!first && now - f.LoggedAt < kFailureLineEveryMs) {
    ++f.Unlogged;
    return;
  }
  LogFailures(what, f.Unlogged + 1);
  f.LoggedAt = now;
  f.Unlogged = 0;
}

void TMessageHooks::Tick() {
  const std::uint32_t now = Now();
  for (auto& [what, f] : FFailures) {
    if (f.Unlogged == 0 || now - f.LoggedAt < kFailureLineEveryMs) continue;
    LogFailures(what, f.Unlogged);
    f.LoggedAt = now;
    f.Unlogged = 0;
  }
}

void TMessageHooks::LogFailures(const std::string& what, int count) {
  const std::string times = count == 1 ? "" : " " + std::to_string(count) + " times in the last minute";
  FSetup.Log("Hook failed" + times + ": " + FSetup.Choices.Program.toStdString() + ": " + what);
}

}  // namespace qm
