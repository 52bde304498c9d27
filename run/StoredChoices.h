// The operator's choices as Quillmark.ini keeps them, read the same way by the window and by
// the unattended desk, so both judge, print and connect alike. The window writes [Settings]
// and [StateSelection] through its state keepers; these read them without any control.
#pragma once

#include "desk/MessageDesk.h"
#include "host/HostSettings.h"
#include "settings/SettingsStore.h"

#include <cstddef>
#include <vector>

namespace qm {

// Every packet source: [Connection] first, then [Connection2], [Connection3] … up to the first
// number without a section (at most connection_keys::MaxSources); what is missing or unusable
// in a section keeps its default.
std::vector<THostSettings> ReadHostSources(TSettingsStore& settings, const THostSettings& defaults = {});
// Writes the source at `index` to its section (inside the caller's settings session).
void WriteHostSettings(TSettingsStore& settings, std::size_t index, const THostSettings& s);

// Everything the desk judges and prints by: [Settings] (the controls' stored values, the
// station list), [StateSelection], [History], [NWSAreas] and [BulletinBoard]. The own callsign is the host's
// to tell.
TDeskChoices ReadDeskChoices(TSettingsStore& settings);

// One section of options alone (the rest left at defaults): [History] (the resend, bulletin
// and archive options), [NWS Printing] (how alerts are printed), [Alarms] (the kinds
// that alarm and the repeat) or [Sending] (the schedule of the desk's own messages).
TDeskChoices ReadOptionSection(TSettingsStore& settings, const char* section);
// Writes the section only while one of its options differs from its default, so the file of
// an operator who never set them stays as it was.
void WriteOptionSection(TSettingsStore& settings, const char* section, const TDeskChoices& choices);

// How long lines stay on the bulletin board, set in the file only: [BulletinBoard]
// BulletinHours (1 to 168, else 4) and AnnouncementDays (1 to 30, else 4). Never written.
inline constexpr const char* kBulletinBoardSection = "BulletinBoard";
inline constexpr int kMostBulletinHours = 168;
inline constexpr int kMostAnnouncementDays = 30;
TBulletinAges ReadBulletinAges(TSettingsStore& settings);

// The lists kept in sections of their own ([NWSAreas]), the rest left at defaults.
TDeskChoices ReadOwnSectionLists(TSettingsStore& settings);
// Writes each such list while it holds entries, and takes its section away once it holds
// none, so the file of an operator who never made one stays as it was.
void WriteOwnSectionLists(TSettingsStore& settings, const TDeskChoices& choices);

}  // namespace qm
