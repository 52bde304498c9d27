// The own station as the host link reports it.
#pragma once

#include <string>
#include <utility>

namespace qm {

class TOwnStation {
 public:
  TOwnStation() = default;
  explicit TOwnStation(std::string callsign) : FMyCallsign(std::move(callsign)) {}

  std::string MyCallsign() const { return FMyCallsign; }
  void SetMyCallsign(std::string callsign) { FMyCallsign = std::move(callsign); }

 private:
  std::string FMyCallsign;
};

}  // namespace qm
