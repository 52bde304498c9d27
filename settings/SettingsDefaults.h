#pragma once

namespace qm {

// The section of the main window's stored properties, "control.Property"; the keys themselves
// are the stored choices' (run/StoredChoiceTable.h).
inline constexpr const char* kControlsSection = "Settings";
// The state list's check marks: each state code a key, "1" checked, "0" not.
inline constexpr const char* kStateSelectionSection = "StateSelection";

// The most entries a stored list is read with (the station list, the states).
inline constexpr int kMaxStoredListEntries = 10000;

}  // namespace qm
