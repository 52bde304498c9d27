#include "run/StoredChoices.h"

#include <QString>
#include <cmath>

#include "base/AsciiText.h"
#include "host/KissDecoder.h"
#include "parse/CallsignText.h"
#include "settings/SettingsDefaults.h"

namespace qm {
namespace {

constexpr const char* kSettingsSection = "Settings";
constexpr const char* kHistorySection = "History";
constexpr const char* kStateSection = "StateSelection";

// A check box as the property keeper writes it; anything but True/False keeps the default.
bool ReadChecked(TSettingsStore& settings, const char* control, bool defaultValue) {
  const std::string value =
      UpperCase(Trim(settings.ReadString(kSettingsSection, std::string(control) + ".Checked", "")));
  if (value == "TRUE") return true;
  if (value == "FALSE") return false;
  return defaultValue;
}

}  // namespace

namespace {

THostSettings ReadSourceSection(TSettingsStore& settings, const std::string& section, THostSettings s) {
  const std::string transport = Trim(settings.ReadString(section, connection_keys::Transport, ""));
  if (const auto named = TransportNamed(transport)) {
    s.Transport = *named;
  } else if (!transport.empty()) {
    s.UnknownTransport = transport;
  }
  s.Server = settings.ReadString(section, connection_keys::Server, s.Server);
  s.Port = settings.ReadInteger(section, connection_keys::Port, s.Port);
  if (s.Port < 0 || s.Port > 65535) s.Port = 0;
  s.Callsign = settings.ReadString(section, connection_keys::Callsign, s.Callsign);
  s.Filter = settings.ReadString(section, connection_keys::Filter, s.Filter);
  s.CaptureFile = settings.ReadString(section, connection_keys::CaptureFile, s.CaptureFile);
  bool ok = false;
  const double pace =
      QString::fromStdString(settings.ReadString(section, connection_keys::Pace, std::to_string(s.Pace)))
          .toDouble(&ok);
  if (ok && std::isfinite(pace) && pace >= 0) s.Pace = pace;
  s.SerialDevice = settings.ReadString(section, connection_keys::SerialDevice, s.SerialDevice);
  const int baud = settings.ReadInteger(section, connection_keys::SerialBaud, s.SerialBaud);
  if (IsSerialSpeed(baud)) s.SerialBaud = baud;
  s.SetRfQuietMinutes(settings.ReadInteger(section, connection_keys::RfQuietMinutes, s.RfQuietMinutes()));
  s.AnswerMessages = settings.ReadInteger(section, connection_keys::AnswerMessages, 0) != 0;
  s.Passcode = ReadPasscode(settings.ReadString(section, connection_keys::Passcode, "")).value_or(-1);
  // Kept as written even when no frame can carry it: the link refuses it with a line at its
  // start and with each message it could not answer, never a path the operator did not set.
  s.AnswerPath = settings.ReadString(section, connection_keys::AnswerPath, s.AnswerPath);
  return s;
}

}  // namespace

std::vector<THostSettings> ReadHostSources(TSettingsStore& settings, const THostSettings& defaults) {
  TSettingsSession session(settings);
  std::vector<THostSettings> sources{ReadSourceSection(settings, connection_keys::Section, defaults)};
  // The others are numbered on from 2; the first number without a section ends the list.
  for (std::size_t i = 1; i < connection_keys::MaxSources; ++i) {
    const std::string section = connection_keys::SectionOf(i);
    if (!settings.SectionExists(section)) break;
    sources.push_back(ReadSourceSection(settings, section, defaults));
  }
  session.Close();
  return sources;
}

void WriteHostSettings(TSettingsStore& settings, std::size_t index, const THostSettings& s) {
  const std::string section = connection_keys::SectionOf(index);
  settings.WriteString(section, connection_keys::Transport,
                       s.UnknownTransport.empty() ? TransportName(s.Transport) : s.UnknownTransport);
  settings.WriteString(section, connection_keys::Server, s.Server);
  settings.WriteInteger(section, connection_keys::Port, s.Port);
  settings.WriteString(section, connection_keys::Callsign, s.Callsign);
  settings.WriteString(section, connection_keys::Filter, s.Filter);
  settings.WriteString(section, connection_keys::CaptureFile, s.CaptureFile);
  settings.WriteString(section, connection_keys::Pace, QString::number(s.Pace).toStdString());
  settings.WriteString(section, connection_keys::SerialDevice, s.SerialDevice);
  settings.WriteInteger(section, connection_keys::SerialBaud, s.SerialBaud);
  // Set in the file only, never on the window: written back so that a section written anew
  // (the further sources, renumbered by Remove) keeps it.
  if (s.RfQuietMinutes() != THostSettings::DefaultRfQuietMinutes)
    settings.WriteInteger(section, connection_keys::RfQuietMinutes, s.RfQuietMinutes());
  // Written once answering was set up, so the files of those who never answer stay as they were.
  const auto hasKey = [&](const char* key) { return settings.ReadString(section, key, "\x01") != "\x01"; };
  if (s.AnswerMessages || hasKey(connection_keys::AnswerMessages))
    settings.WriteInteger(section, connection_keys::AnswerMessages, s.AnswerMessages ? 1 : 0);
  if (s.Passcode >= 0 || hasKey(connection_keys::Passcode))
    settings.WriteString(section, connection_keys::Passcode,
                         s.Passcode >= 0 ? std::to_string(s.Passcode) : "");
  // Set in the file only, like the quiet time.
  if (s.AnswerPath != THostSettings::DefaultAnswerPath)
    settings.WriteString(section, connection_keys::AnswerPath, s.AnswerPath);
}

TDeskChoices ReadHistoryOptions(TSettingsStore& settings) {
  TDeskChoices c;
  TSettingsSession session(settings);
  c.DropResent = settings.ReadInteger(kHistorySection, "DropResent", 0) != 0;
  c.ResentMinutes = RetryMinutes(
      std::to_string(settings.ReadInteger(kHistorySection, "ResentMinutes", TRetryList::kDefaultMinutes)));
  c.ArchivePdf = settings.ReadInteger(kHistorySection, "ArchivePdf", 0) != 0;
  c.BroadcastOnce = settings.ReadInteger(kHistorySection, "BroadcastOnce", 0) != 0;
  c.BroadcastHours = BroadcastHours(std::to_string(
      settings.ReadInteger(kHistorySection, "BroadcastHours", TDeskChoices::kDefaultBroadcastHours)));
  session.Close();
  return c;
}

void WriteHistoryOptions(TSettingsStore& settings, const TDeskChoices& c) {
  TSettingsSession session(settings);
  if (c.DropResent || c.ArchivePdf || c.BroadcastOnce || c.ResentMinutes != TRetryList::kDefaultMinutes ||
      c.BroadcastHours != TDeskChoices::kDefaultBroadcastHours) {
    settings.WriteInteger(kHistorySection, "DropResent", c.DropResent ? 1 : 0);
    settings.WriteInteger(kHistorySection, "ResentMinutes", c.ResentMinutes);
    settings.WriteInteger(kHistorySection, "ArchivePdf", c.ArchivePdf ? 1 : 0);
    // Added later: left out while at their defaults, so earlier files keep their keys.
    if (c.BroadcastOnce || c.BroadcastHours != TDeskChoices::kDefaultBroadcastHours) {
      settings.WriteInteger(kHistorySection, "BroadcastOnce", c.BroadcastOnce ? 1 : 0);
      settings.WriteInteger(kHistorySection, "BroadcastHours", c.BroadcastHours);
    }
  } else if (settings.SectionExists(kHistorySection)) {
    settings.EraseSection(kHistorySection);
  }
  session.Close();
}

TDeskChoices ReadDeskChoices(TSettingsStore& settings) {
  TDeskChoices c = ReadHistoryOptions(settings);
  TSettingsSession session(settings);
  TSelectionChoices& s = c.Selection;
  // The defaults are the window's start values.
  s.ThisStation = ReadChecked(settings, "cbThisStation", s.ThisStation);
  s.UseStationList = ReadChecked(settings, "cbStationList", s.UseStationList);
  s.Bulletins = ReadChecked(settings, "cbBull", s.Bulletins);
  s.Announcements = ReadChecked(settings, "cbAnn", s.Announcements);
  s.NwsWatches = ReadChecked(settings, "cbNWSWatches", s.NwsWatches);
  s.NwsWarnings = ReadChecked(settings, "cbNWSWarnings", s.NwsWarnings);
  s.NwsAdvisories = ReadChecked(settings, "cbNWSAdvisiories", s.NwsAdvisories);
  c.FullText = {ReadChecked(settings, "cbNWSWatchesPrint", false),
                ReadChecked(settings, "cbNWSWarningsPrint", false),
                ReadChecked(settings, "cbNWSAdvisioriesPrint", false)};
  c.Beep = ReadChecked(settings, "cbBeepOnReceive", c.Beep);
  c.PrintingDisabled = ReadChecked(settings, "cbDisablePrinting", c.PrintingDisabled);
  c.PageSetting = Trim(settings.ReadString(kSettingsSection, "edMsgCount.Text", c.PageSetting));
  const std::size_t most = static_cast<std::size_t>(kMaxStoredListEntries);
  if (const auto list = settings.ReadStringList("Settings.lbStationList.Items", most)) s.StationList = *list;
  // The check list's entries as stored (the window's full list when none are), each marked
  // by [StateSelection].
  std::vector<std::string> codes(kStateCodes.begin(), kStateCodes.end());
  if (const auto list = settings.ReadStringList("Settings.clbStates.Items", most)) codes = *list;
  s.States.clear();
  for (const std::string& code : codes)
    s.States.emplace_back(code, settings.ReadInteger(kStateSection, code, 0) != 0);
  session.Close();
  return c;
}

}  // namespace qm
