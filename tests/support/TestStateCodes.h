// The state codes as the tests compare them: the selection's list, as strings.
#pragma once

#include <string>
#include <vector>

#include "select/Selection.h"

namespace qm {

inline const std::vector<std::string>& StateCodes() {
  static const std::vector<std::string> codes(kStateCodes.begin(), kStateCodes.end());
  return codes;
}

}  // namespace qm
