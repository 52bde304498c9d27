// The own station as the host link reports it.
#pragma once

#include <string>
#include <utility>

namespace qm {

class TclsMyInfo {
 public:
  TclsMyInfo() = default;
  explicit TclsMyInfo(std::string callsign) : FMyCallsign(std::move(callsign)) {}

  std::string MyCallsign() const { return FMyCallsign; }
  void SetMyCallsign(std::string callsign) { FMyCallsign = std::move(callsign); }

 private:
  std::string FMyCallsign;
};

}  // namespace qm
