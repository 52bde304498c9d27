// Messages for the store's tests: numbered, each field telling which one it is.
#pragma once

#include <string>

#include "store/MessageStore.h"

namespace qm::test {

inline TStoredMessage Msg(int n, double utc = 46000.5) {
  TStoredMessage m;
  m.LocalTime = utc + 1.0 / 24;
  m.UtcTime = utc;
  m.Source = "KB1AB-" + std::to_string(n);
  m.Destination = "APRS";
  m.Path = "WIDE1-1";
  m.Addressee = "NOCALL-9";
  m.MessageText = "message " + std::to_string(n);
  m.MessageId = std::to_string(n);
  m.Kind = 1;
  m.RawText = m.Source + ">APRS::NOCALL-9 :" + m.MessageText;
  m.Line1 = "line 1 of " + std::to_string(n);
  m.Line2 = "line 2";
  m.Line3 = m.MessageText;
  return m;
}

}  // namespace qm::test
