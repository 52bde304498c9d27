#pragma once

#include <string>
#include <vector>

namespace qm {

// The main window's stored properties, "control.Property", in the order they are saved.
const std::vector<std::string>& DefaultStoredProperties();

// The 52 state and territory codes the state list offers by default, sorted.
const std::vector<std::string>& StateCodes();

}  // namespace qm
