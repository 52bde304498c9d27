#include "print/ProgramFont.h"

namespace qm {

QStringList ProgramFontSubstitutes(const QString& family) {
  const QString key = family.toLower();
  if (key == QLatin1String("courier new") || key == QLatin1String("courier"))
    return {QStringLiteral("Liberation Mono"), QStringLiteral("Cousine"), QStringLiteral("DejaVu Sans Mono")};
  if (key == QLatin1String("ms sans serif") || key == QLatin1String("microsoft sans serif") ||
      key == QLatin1String("arial") || key == QLatin1String("tahoma"))
    return {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")};
  return {};
}

QFont ProgramFont(const QString& family, int points) {
  QFont font(family, points);
  const QStringList substitutes = ProgramFontSubstitutes(family);
  // Families are tried in order before fontconfig's own guess, which for
  // "MS Sans Serif" would be DejaVu Sans (wider than the original).
  if (!substitutes.isEmpty()) {
    font.setFamilies(QStringList{family} + substitutes);
    font.setStyleHint(substitutes.contains(QStringLiteral("Liberation Mono")) ? QFont::TypeWriter
                                                                              : QFont::SansSerif);
  }
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

}  // namespace qm
