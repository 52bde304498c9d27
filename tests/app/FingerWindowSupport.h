// Helpers for the window's NWS full-text tests: alert packets, handing them to the window,
// and reading back what it printed and logged.
#pragma once

#include <QCheckBox>
#include <QCoreApplication>
#include <QListWidget>
#include <QProcess>
#include <QStringList>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "app/MainForm.h"
#include "tests/app/FormTestEnvironment.h"
#include "tests/support/DeskParts.h"

namespace qm::test {

// An NWS alert for the state OK from Source, addressed Addressee, numbered Id (none when empty).
struct TAlert {
  std::string Source;
  std::string Addressee;
  std::string Id;

  static std::string Text() { return "072130z,TORNADO,OK_C017 CLEVELAND"; }
  // The packet line as the window logs it.
  std::string PacketLine() const {
    std::string field = Addressee;
    field.resize(9, ' ');
    return Source + ">APRS,WIDE2-1::" + field + ":" + Text() + (Id.empty() ? "" : "{" + Id);
  }
};

inline void CheckState(TMainForm& form, const char* state, bool checked) {
  const QList<QListWidgetItem*> items =
      form.clbStates->findItems(QString::fromLatin1(state), Qt::MatchExactly);
  if (items.size() != 1) throw std::runtime_error(std::string("no state ") + state);
  items.front()->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

// Warnings for the state wanted; full texts still off.
inline void WantAlerts(TMainForm& form, const char* state) {
  form.cbNWSWarnings->setChecked(true);
  CheckState(form, state, true);
}

// Delivers the alert through the host link; the window's desk judges what waits.
inline void DeliverAlert(TMainForm& form, TFakeHost& host, const TAlert& alert) {
  host.Deliver("*12:00:00 " + alert.PacketLine());
  QCoreApplication::sendPostedEvents(&form.Desk(), QEvent::MetaCall);
}

// Delivers the alert and lets the window's events run until the desk has listed it (its
// Finger exchange over) and whatever came meanwhile.
inline void HandleAlert(TMainForm& form, TFakeHost& host, const TAlert& alert) {
  DeliverAlert(form, host, alert);
  if (!WaitFor([&] { return form.Desk().Settled(); }, 60000))
    throw std::runtime_error("the alert was never listed");
}

// The whole log file once every queued entry is written.
inline std::string ReadLog(TMainForm& form) {
  if (!test::TDeskParts::Logger(form.Desk()) ||
      !test::TDeskParts::Logger(form.Desk())->WaitIdle(std::chrono::seconds(5)))
    throw std::runtime_error("the log was not written");
  std::ifstream in(form.Desk().LogFile(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A multi-line text as the log holds it: continuation lines two blanks in, the one line
// break at the very end dropped.
inline std::string AsLogged(std::string text) {
  if (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0)
    text.resize(text.size() - 2);
  else if (!text.empty() && (text.back() == '\r' || text.back() == '\n'))
    text.pop_back();
  std::string result;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') {
      result += text[i];
      continue;
    }
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    result += "\r\n  ";
  }
  return result;
}

// Where an entry with empty text ("<stamp> " and the line end) starts, or npos.
inline std::size_t FindEmptyEntry(const std::string& log) {
  for (std::size_t at = log.find("> \r\n"); at != std::string::npos; at = log.find("> \r\n", at + 1)) {
    const std::size_t start = log.rfind("\r\n", at);
    const std::size_t lineStart = start == std::string::npos ? 0 : start + 2;
    if (log.compare(lineStart, 1, "<") == 0 && log.find('>', lineStart) == at) return lineStart;
  }
  return std::string::npos;
}

// Lines joined by line feeds, for readable comparisons.
inline std::string Joined(const QStringList& lines) {
  return lines.join(QChar('\n')).toStdString();
}

// The text lines of a PDF as pdftotext reads them, runs of blanks made one and blank
// lines at either end left out, joined by line feeds.
inline std::string PdfLines(const QString& file) {
  QProcess process;
  process.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), file, QStringLiteral("-")});
  if (!process.waitForFinished(30000) || process.exitCode() != 0)
    throw std::runtime_error("pdftotext could not read " + file.toStdString());
  QStringList lines =
      QString::fromUtf8(process.readAllStandardOutput()).remove(QChar('\f')).split(QChar('\n'));
  for (QString& line : lines) line = line.simplified();
  while (!lines.isEmpty() && lines.front().isEmpty()) lines.removeFirst();
  while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return Joined(lines);
}

}  // namespace qm::test
