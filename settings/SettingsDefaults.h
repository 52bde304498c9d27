#pragma once

#include <string>
#include <vector>

namespace qm {

// The main window's stored properties, "control.Property", in the order they are saved.
const std::vector<std::string>& DefaultStoredProperties();

}  // namespace qm
