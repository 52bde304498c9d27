#include "tests/support/PdfTools.h"

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>

#include <stdexcept>

namespace qm::test {

QString MissingPopplerTools() {
  QStringList missing;
  for (const char* tool : {"pdftotext", "pdfinfo", "pdffonts"})
    if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
      missing << QString::fromLatin1(tool);
  if (missing.isEmpty()) return {};
  return QStringLiteral("poppler tools missing (%1): install the Debian package poppler-utils")
      .arg(missing.join(QStringLiteral(", ")));
}

QString RunTool(const QString& program, const QStringList& arguments, int timeoutMs) {
  QProcess process;
  process.start(program, arguments);
  const QString what = program + QLatin1Char(' ') + arguments.join(QLatin1Char(' '));
  if (!process.waitForStarted(timeoutMs)) throw std::runtime_error("cannot start " + what.toStdString());
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    throw std::runtime_error("timed out: " + what.toStdString());
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
    throw std::runtime_error("failed: " + what.toStdString() + ": " +
                             QString::fromLocal8Bit(process.readAllStandardError()).toStdString());
  return QString::fromUtf8(process.readAllStandardOutput());
}

QString PdfText(const QString& pdf, int first, int last) {
  QStringList args{QStringLiteral("-layout"), QStringLiteral("-f"), QString::number(first)};
  if (last > 0) args << QStringLiteral("-l") << QString::number(last);
  args << pdf << QStringLiteral("-");
  return RunTool(QStringLiteral("pdftotext"), args);
}

QStringList PdfLines(const QString& pdf, int first, int last) {
  QStringList lines;
  for (QString line : PdfText(pdf, first, last).split(QLatin1Char('\n'))) {
    line.remove(QLatin1Char('\f'));
    while (!line.isEmpty() && line.back().isSpace()) line.chop(1);
    if (!line.isEmpty()) lines << line;
  }
  return lines;
}

QString PdfInfoField(const QString& pdf, const QString& key) {
  const QString info = RunTool(QStringLiteral("pdfinfo"), {pdf});
  const QRegularExpression field(QStringLiteral("^%1:\\s*(.*)$").arg(QRegularExpression::escape(key)),
                                 QRegularExpression::MultilineOption);
  const auto match = field.match(info);
  return match.hasMatch() ? match.captured(1).trimmed() : QString();
}

int PdfPages(const QString& pdf) {
  bool ok = false;
  const int pages = PdfInfoField(pdf, QStringLiteral("Pages")).toInt(&ok);
  if (!ok) throw std::runtime_error("pdfinfo gives no page count for " + pdf.toStdString());
  return pages;
}

QStringList PdfFonts(const QString& pdf) {
  QStringList fonts;
  const QStringList lines = RunTool(QStringLiteral("pdffonts"), {pdf}).split(QLatin1Char('\n'));
  // Two header lines, then one font a line, its name first.
  for (qsizetype i = 2; i < lines.size(); ++i) {
    QString name = lines[i].section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    if (name.isEmpty()) continue;
    if (name.size() > 7 && name.at(6) == QLatin1Char('+')) name = name.mid(7);
    fonts << name;
  }
  return fonts;
}

QString AsPdfTextLine(const QString& line) {
  const qsizetype indent =
      line.size() - QString(line).remove(QRegularExpression(QStringLiteral("^ +"))).size();
  return line.left(indent) +
         line.mid(indent).replace(QRegularExpression(QStringLiteral(" {2,}")), QStringLiteral(" "));
}

std::vector<std::string> AsPdfTextLines(const QStringList& lines) {
  std::vector<std::string> result;
  for (const QString& line : lines) result.push_back(AsPdfTextLine(line).toStdString());
  return result;
}

std::vector<TPdfWord> PdfWords(const QString& pdf) {
  const QString html =
      RunTool(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
  const QRegularExpression word(
      QStringLiteral("<word xMin=\"([-0-9.]+)\" yMin=\"([-0-9.]+)\" xMax=\"([-0-9.]+)\" "
                     "yMax=\"([-0-9.]+)\">([^<]*)</word>"));
  std::vector<TPdfWord> words;
  for (auto it = word.globalMatch(html); it.hasNext();) {
    const auto m = it.next();
    words.push_back({m.captured(5), m.captured(1).toDouble(), m.captured(2).toDouble(),
                     m.captured(3).toDouble(), m.captured(4).toDouble()});
  }
  return words;
}

double FirstWordTop(const QString& pdf) {
  const auto words = PdfWords(pdf);
  return words.empty() ? -1.0 : words.front().YMin;
}

}  // namespace qm::test
