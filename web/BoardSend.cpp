#include "web/BoardSend.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace qm {

std::optional<TSendAsked> ReadSendBody(std::string_view body) {
  QJsonParseError error{};
  const QJsonDocument json =
      QJsonDocument::fromJson(QByteArray(body.data(), static_cast<qsizetype>(body.size())), &error);
  if (error.error != QJsonParseError::NoError || !json.isObject()) return std::nullopt;
  const QJsonObject object = json.object();
  if (object.size() != 2) return std::nullopt;
  const QJsonValue to = object.value(QLatin1String("to"));
  const QJsonValue text = object.value(QLatin1String("text"));
  constexpr qsizetype kMostCall = 9, kMostText = 200;
  if (!to.isString() || !text.isString() || to.toString().size() > kMostCall ||
      text.toString().size() > kMostText)
    return std::nullopt;
  return TSendAsked{to.toString().trimmed().toStdString(), text.toString().toStdString()};
}

}  // namespace qm
