#include "run/StoredChoices.h"

#include <QString>
#include <algorithm>
#include <cmath>

#include "base/AsciiText.h"
#include "host/KissDecoder.h"
#include "parse/CallsignText.h"
#include "run/StoredChoiceTable.h"
#include "select/NwsAreas.h"
#include "settings/SettingsDefaults.h"

namespace qm {
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

namespace {

bool InSection(const TStoredChoice& row, std::string_view section) {
  return std::string_view(row.Section) == section;
}

// One row from the file into its field; what the file does not hold, or holds unreadably,
// leaves the field as it is.
void ReadStoredChoice(TSettingsStore& settings, const TStoredChoice& row, TDeskChoices& c) {
  const std::size_t most = static_cast<std::size_t>(kMaxStoredListEntries);
  switch (row.Kind) {
    case skChecked: {
      // As the property keeper writes it; anything but True/False keeps the default.
      const std::string value = UpperCase(Trim(settings.ReadString(row.Section, row.Key, "")));
      if (value == "TRUE") row.Flag(c) = true;
      if (value == "FALSE") row.Flag(c) = false;
      break;
    }
    case skFlag:
      row.Flag(c) = settings.ReadInteger(row.Section, row.Key, row.Flag(c) ? 1 : 0) != 0;
      break;
    case skNumber:
      row.Number(c) =
          row.NumberRule(std::to_string(settings.ReadInteger(row.Section, row.Key, row.Number(c))));
      break;
    case skText:
      row.Text(c) = Trim(settings.ReadString(row.Section, row.Key, row.Text(c)));
      break;
    case skItems:
      if (const auto list = settings.ReadStringList(ItemsSection(row), most)) row.Items(c) = *list;
      break;
    case skList:
      // Entries the window would refuse are left out, as a hand may have typed them.
      if (const auto list = settings.ReadStringList(ItemsSection(row), most)) {
        auto& items = row.Items(c);
        items.clear();
        for (const std::string& entry : *list)
          if (IsAreaListEntry(Trim(entry))) items.push_back(UpperCase(Trim(entry)));
      }
      break;
    case skKinds: {
      // A word that is no kind (a later version's) leaves the kinds as they are.
      const std::string text = settings.ReadString(row.Section, row.Key, "\x01");
      if (text == "\x01") break;
      try {
        row.Kinds(c) = ParseAlarmKinds(text);
      } catch (const EAlarmKinds&) {
      }
      break;
    }
    case skStates: {
      // The check list's entries as stored (the window's full list when none are), each
      // marked by [StateSelection].
      std::vector<std::string> codes(kStateCodes.begin(), kStateCodes.end());
      if (const auto list = settings.ReadStringList(ItemsSection(row), most)) codes = *list;
      auto& states = row.States(c);
      states.clear();
      for (const std::string& code : codes)
        states.emplace_back(code, settings.ReadInteger(kStateSelectionSection, code, 0) != 0);
      break;
    }
  }
}

}  // namespace

TDeskChoices ReadOptionSection(TSettingsStore& settings, const char* section) {
  TDeskChoices c;
  TSettingsSession session(settings);
  for (const TStoredChoice& row : StoredChoiceTable())
    if (InSection(row, section)) ReadStoredChoice(settings, row, c);
  session.Close();
  return c;
}

void WriteOptionSection(TSettingsStore& settings, const char* section, const TDeskChoices& c) {
  const TDeskChoices defaults;
  bool any = false;
  bool later = false;
  for (const TStoredChoice& row : StoredChoiceTable()) {
    if (!InSection(row, section) || SameStoredValue(row, c, defaults)) continue;
    any = true;
    later = later || row.AddedLater;
  }
  TDeskChoices values = c;
  TSettingsSession session(settings);
  if (any) {
    for (const TStoredChoice& row : StoredChoiceTable()) {
      if (!InSection(row, section) || (row.AddedLater && !later)) continue;
      if (row.Kind == skKinds)
        settings.WriteString(row.Section, row.Key, AlarmKindsText(row.Kinds(values)));
      else
        settings.WriteInteger(row.Section, row.Key,
                              row.Kind == skNumber ? row.Number(values) : (row.Flag(values) ? 1 : 0));
    }
  } else if (settings.SectionExists(section)) {
    settings.EraseSection(section);
  }
  session.Close();
}

TBulletinAges ReadBulletinAges(TSettingsStore& settings) {
  TBulletinAges ages;
  TSettingsSession session(settings);
  const int hours = settings.ReadInteger(kBulletinBoardSection, "BulletinHours", 0);
  if (hours >= 1 && hours <= kMostBulletinHours) ages.BulletinHours = hours;
  const int days = settings.ReadInteger(kBulletinBoardSection, "AnnouncementDays", 0);
  if (days >= 1 && days <= kMostAnnouncementDays) ages.AnnouncementHours = days * 24.0;
  session.Close();
  return ages;
}

TDeskChoices ReadOwnSectionLists(TSettingsStore& settings) {
  TDeskChoices c;
  TSettingsSession session(settings);
  for (const TStoredChoice& row : StoredChoiceTable())
    if (row.Kind == skList) ReadStoredChoice(settings, row, c);
  session.Close();
  return c;
}

void WriteOwnSectionLists(TSettingsStore& settings, const TDeskChoices& c) {
  TDeskChoices values = c;
  TSettingsSession session(settings);
  for (const TStoredChoice& row : StoredChoiceTable()) {
    if (row.Kind != skList) continue;
    const std::string section = ItemsSection(row);
    const std::vector<std::string>& items = row.Items(values);
    if (settings.SectionExists(section)) settings.EraseSection(section);
    if (items.empty()) continue;
    settings.WriteInteger(section, "Count", static_cast<int>(items.size()));
    for (std::size_t i = 0; i < items.size(); ++i)
      settings.WriteString(section, "Item" + std::to_string(i), items[i]);
  }
  session.Close();
}

TDeskChoices ReadDeskChoices(TSettingsStore& settings) {
  TDeskChoices c;
  TSettingsSession session(settings);
  for (const TStoredChoice& row : StoredChoiceTable()) ReadStoredChoice(settings, row, c);
  c.BulletinAges = ReadBulletinAges(settings);
  session.Close();
  return c;
}

}  // namespace qm
