#pragma once

#include <string>
#include <vector>

namespace qm {

// The main window's stored properties, "control.Property", in the order they are saved.
const std::vector<std::string>& DefaultStoredProperties();

// The most entries a stored list is read with (the station list, the states).
inline constexpr int kMaxStoredListEntries = 10000;

}  // namespace qm
