#include "web/BoardAlarms.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace qm {

std::optional<TAcknowledgeAsked> ReadAcknowledgeBody(std::string_view body) {
  QJsonParseError error{};
  const QJsonDocument json =
      QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &error);
  if (error.error != QJsonParseError::NoError || !json.isObject()) return std::nullopt;
  const QJsonObject object = json.object();
  if (object.isEmpty()) return TAcknowledgeAsked{};
  if (object.size() != 1 || !object.contains(QLatin1String("id"))) return std::nullopt;
  const QJsonValue id = object.value(QLatin1String("id"));
  // Exact in a double and a message's number: from 1 to 2^53.
  constexpr double kLargest = 9007199254740992.0;
  if (!id.isDouble() || id.toDouble() < 1 || id.toDouble() > kLargest ||
      std::floor(id.toDouble()) != id.toDouble())
    return std::nullopt;
  return TAcknowledgeAsked{static_cast<std::int64_t>(id.toDouble())};
}

}  // namespace qm
