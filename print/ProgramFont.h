#pragma once
// The program's fonts by their Windows names, with metric-compatible stand-ins
// where those families are not installed (Linux: Liberation through fontconfig).

#include <QFont>
#include <QString>
#include <QStringList>

namespace qm {

// The stand-ins tried, in order, for a family the program names.
QStringList ProgramFontSubstitutes(const QString& family);

// `family` at `points`, regular; "Courier New" and "MS Sans Serif" fall back to
// Liberation Mono / Liberation Sans (same widths as Courier New / Arial).
QFont ProgramFont(const QString& family, int points);

}  // namespace qm
