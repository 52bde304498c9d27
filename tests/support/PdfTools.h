#pragma once
// Reads PDF files through poppler's command-line tools (pdftotext, pdfinfo, pdffonts).

#include <QString>
#include <QStringList>

#include <ostream>
#include <string>
#include <vector>

// Readable QStrings in GoogleTest's failure messages.
inline void PrintTo(const QString& text, std::ostream* os) {
  *os << '"' << text.toStdString() << '"';
}

namespace qm::test {

// Empty when every poppler tool is there, else a sentence saying what is missing.
QString MissingPopplerTools();

// Runs `program` and returns its standard output; throws std::runtime_error when it
// cannot start, times out or exits with a failure.
QString RunTool(const QString& program, const QStringList& arguments, int timeoutMs = 30000);

// The text of pages first..last (0: to the end), in physical layout.
QString PdfText(const QString& pdf, int first = 1, int last = 0);
// The lines of PdfText with trailing blanks and form feeds removed, empty lines dropped.
QStringList PdfLines(const QString& pdf, int first = 1, int last = 0);
int PdfPages(const QString& pdf);
// One "Key: value" field of pdfinfo ("Title", "Page size" ...).
QString PdfInfoField(const QString& pdf, const QString& key);
// The base font names pdffonts lists (subset prefixes removed).
QStringList PdfFonts(const QString& pdf);
// `line` as pdftotext -layout gives it back: runs of blanks after the first word become one.
QString AsPdfTextLine(const QString& line);
std::vector<std::string> AsPdfTextLines(const QStringList& lines);

// One word of pdftotext -bbox, in points from the top-left corner of its page.
struct TPdfWord {
  QString Text;
  double XMin = 0, YMin = 0, XMax = 0, YMax = 0;
};
std::vector<TPdfWord> PdfWords(const QString& pdf);

// yMin, in points, of the first word pdftotext -bbox reports; -1 when there is none.
double FirstWordTop(const QString& pdf);

// For GoogleTest matchers, which compare with std::string.
inline std::vector<std::string> StdLines(const QStringList& lines) {
  std::vector<std::string> result;
  for (const QString& line : lines) result.push_back(line.toStdString());
  return result;
}

}  // namespace qm::test
