// Builds AX.25 UI frames and KISS streams for the host tests.
#pragma once

#include <initializer_list>
#include <string>

namespace qm::test {

// "CALL-n" with an optional trailing "*" (has been repeated) as a 7-byte address field.
inline std::string Ax25Address(std::string call, bool last) {
  bool repeated = false;
  if (!call.empty() && call.back() == '*') {
    repeated = true;
    call.pop_back();
  }
  int ssid = 0;
  if (const auto dash = call.find('-'); dash != std::string::npos) {
    ssid = std::stoi(call.substr(dash + 1));
    call.resize(dash);
  }
  call.resize(6, ' ');
  std::string field;
  for (char c : call) field += static_cast<char>(static_cast<unsigned char>(c) << 1);
  field += static_cast<char>((repeated ? 0x80 : 0) | 0x60 | (ssid << 1) | (last ? 1 : 0));
  return field;
}

inline std::string Ax25Ui(const std::string& src, const std::string& dst,
                          std::initializer_list<std::string> digis, const std::string& info) {
  std::string frame = Ax25Address(dst, false) + Ax25Address(src, digis.size() == 0);
  std::size_t i = 0;
  for (const auto& d : digis) frame += Ax25Address(d, ++i == digis.size());
  return frame + "\x03\xF0" + info;
}

// One KISS data frame for a port, escaped.
inline std::string Kiss(const std::string& ax25, int port = 0) {
  std::string out = "\xC0";
  out += static_cast<char>(port << 4);
  for (char c : ax25) {
    if (c == '\xC0') {
      out += "\xDB\xDC";
    } else if (c == '\xDB') {
      out += "\xDB\xDD";
    } else {
      out += c;
    }
  }
  return out + "\xC0";
}

}  // namespace qm::test
