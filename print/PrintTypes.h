// The printers offered and what a job put on paper: the small types a caller of the print
// jobs' owner needs without the jobs themselves.
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>

namespace qm {

// The installed printers as the system lists them, read once.
struct TPrinterList {
  QStringList Names;    // in the system's order
  QString DefaultName;  // empty: the system has no default printer
};

// What the last finished job put on paper.
struct TPrintStats {
  int Pages = 0;
  int Lines = 0;  // printed lines, wrapped parts of a long line counted each
};

// What stands around a job's text on every page: a header line (the station, the print time,
// the job's number where known) and a footer ("page n"), and a mark such as "REPRINT of job 12"
// above the header. Nothing of it: the page is the text alone, as it always was.
struct TPageFrame {
  bool HeaderFooter = false;
  QString Station;
  QString PrintedUtc;    // as printed ("2026-12-10 21:50 UTC"); empty: the job's own clock
  std::int64_t Job = 0;  // 0: not known when the page is laid out
  QString Mark;          // empty: none
  bool Empty() const { return !HeaderFooter && Mark.isEmpty(); }
};

}  // namespace qm
