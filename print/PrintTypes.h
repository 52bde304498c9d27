// The printers offered and what a job put on paper: the small types a caller of the print
// jobs' owner needs without the jobs themselves.
#pragma once

#include <QString>
#include <QStringList>

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

}  // namespace qm
