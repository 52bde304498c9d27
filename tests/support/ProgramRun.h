// Runs the program itself (QM_PROGRAM) in a private home, as the tests that need real
// processes do: two copies on one folder, a killed copy, a run under another clock.
#pragma once

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>

#include <csignal>
#include <memory>

namespace qm::test {

struct TProgramResult {
  int Code = -1;  // -1: killed or crashed
  QByteArray Out, Err;
};

// The program's environment: offscreen, its user folders under `home`, plus `extra`.
inline QProcessEnvironment ProgramEnvironment(const QString& home, const QProcessEnvironment& extra = {}) {
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("HOME"), home);
  env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
  env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/.local/share"));
  for (const QString& key : extra.keys()) env.insert(key, extra.value(key));
  return env;
}

inline std::unique_ptr<QProcess> StartProgram(const QStringList& args, const QProcessEnvironment& env,
                                              const QString& program = QStringLiteral(QM_PROGRAM)) {
  auto p = std::make_unique<QProcess>();
  p->setProcessEnvironment(env);
  p->start(program, args);
  p->waitForStarted();
  return p;
}

inline TProgramResult Finish(QProcess& p, int timeoutMs = 60000) {
  if (!p.waitForFinished(timeoutMs)) {
    p.kill();
    p.waitForFinished();
  }
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
          p.readAllStandardError()};
}

inline TProgramResult RunProgramIn(const QString& home, const QStringList& args) {
  return Finish(*StartProgram(args, ProgramEnvironment(home)));
}

// Waits until `path` exists or `p` ends; false when it never came.
inline bool WaitForFile(const QString& path, const QProcess& p, int timeoutMs = 30000) {
  const QDeadlineTimer deadline(timeoutMs);
  while (!QFileInfo::exists(path)) {
    if (p.state() == QProcess::NotRunning || deadline.hasExpired()) return false;
    QThread::msleep(10);  // a poll of the condition itself, not a guess at its time
  }
  return true;
}

}  // namespace qm::test
