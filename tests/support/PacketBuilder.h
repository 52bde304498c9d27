// Packets built by hand, field by field, for the selection tests.
#pragma once

#include <string>

#include "base/AsciiText.h"
#include "parse/QuillmarkParse.h"

namespace qm::test {

inline TAprsMsgPacket MakePacket(TAprsMsgKind kind, const std::string& from, const std::string& addressee,
                                 const std::string& text = "hello", const std::string& messageId = "",
                                 const std::string& state = "") {
  TAprsMsgPacket p;
  p.Kind = kind;
  p.Selected = true;
  p.Source.FullCall = from;
  p.Source.BaseCall = from.substr(0, from.find('-'));
  p.Source.Valid = !from.empty();
  p.Destination.FullCall = "APRS";
  p.Addressee = addressee;
  p.MessageText = text;
  p.MessageId = messageId;
  p.State = state;
  std::string field = addressee;
  field.resize(9, ' ');
  p.Body = field + ":" + text + (messageId.empty() ? "" : "{" + messageId);
  p.RawText = from + ">APRS::" + p.Body;
  return p;
}

}  // namespace qm::test
