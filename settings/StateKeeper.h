#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "settings/SettingsDefaults.h"
#include "settings/SettingsStore.h"

class QListWidget;

namespace qm {

// What both keepers share: a section of the store, and the rule that a keeper
// which never restored never saves (so it cannot overwrite the file with defaults).
class TStateKeeper {
 public:
  TStateKeeper(std::string section, TSettingsStore& store);
  virtual ~TStateKeeper() = default;
  TStateKeeper(const TStateKeeper&) = delete;
  TStateKeeper& operator=(const TStateKeeper&) = delete;

  const std::string& Section() const { return FSection; }
  TSettingsStore& Store() const { return FStore; }
  bool Restored() const { return FRestored; }
  bool SavedSinceRestore() const { return FSavedSinceRestore; }

  // Reads the section; sets Restored, then runs OnRestoreState.
  void RestoreState();
  // Skipped until restored. Writes the section (ESettingsWriteError when refused),
  // runs OnSaveState, then sets SavedSinceRestore.
  void SaveState();

  std::function<void()> OnRestoreState;
  std::function<void()> OnSaveState;

 protected:
  virtual void DoRestoreState() = 0;
  virtual void DoSaveState() = 0;

 private:
  std::string FSection;
  TSettingsStore& FStore;
  bool FRestored = false;
  bool FSavedSinceRestore = false;
};

// Section "FormState": the main window's place, size and show state.
class TWindowStateKeeper : public TStateKeeper {
 public:
  static constexpr int swNormal = 1;
  static constexpr int swMinimized = 2;
  static constexpr int swMaximized = 3;
  // The placement flag kept when a minimised window goes back to maximised; a restore that
  // finds it with a minimised show state makes the window maximised behind its minimising.
  static constexpr int wpfRestoreToMaximized = 2;

  TWindowStateKeeper(QWidget* form, TSettingsStore& store);

  // Called instead of minimising at once when the stored state is minimised;
  // by default it queues showMinimized on the form.
  std::function<void()> OnMinimizeRequested;
  // Whether the application as a whole is minimised (hidden to the tray); a saved
  // ShowCmd is then 2. By default the form's own minimised state.
  std::function<bool()> IsApplicationMinimized;

  // True once a restore applied a stored rectangle, so nothing should re-centre the form.
  bool PositionRestored() const { return FPositionRestored; }
  int Flags() const { return FFlags; }

 protected:
  void DoRestoreState() override;
  void DoSaveState() override;

 private:
  int CurrentFlags() const;
  int CurrentPixelsPerInch() const;

  QPointer<QWidget> FForm;
  int FFlags = 0;
  bool FPositionRestored = false;
};

// Section "Settings": the stored properties of the form's controls, "control.Property".
// Supported: "Checked" of a button or check box ("True"/"False"), "Text" of a line
// edit (trimmed), "Items" of a list widget (own section "Settings.<control>.Items",
// read by ReadIniList: only the Item keys present, blank ones skipped). A check list's
// entries come back unmarked; ReadStateList marks them afterwards.
class TPropertyStateKeeper : public TStateKeeper {
 public:
  // Entries are checked here: one naming no child of the form, or without a "."
  // between two names, is dropped; one whose property the control lacks is kept
  // in StoredProperties but passed over.
  TPropertyStateKeeper(QWidget* form, TSettingsStore& store, std::vector<std::string> storedProperties);

  const std::vector<std::string>& StoredProperties() const { return FStoredProperties; }

  // At most this many entries of a list are read, so a huge file cannot stall the start.
  static constexpr int MaxListEntries = kMaxStoredListEntries;

 protected:
  void DoRestoreState() override;
  void DoSaveState() override;

 private:
  enum class TPropKind { pkNone, pkChecked, pkText, pkItems };
  using enum TPropKind;
  struct TEntry {
    QPointer<QWidget> Control;
    std::string ControlName;
    std::string PropertyName;  // as the control spells it
    TPropKind Kind;
  };
  void RestoreEntry(const TEntry& entry);
  void SaveEntry(const TEntry& entry);

  QPointer<QWidget> FForm;
  std::vector<std::string> FStoredProperties;
  std::vector<TEntry> FEntries;
};

// The state list's check marks, section "StateSelection": each state code a key,
// "1" checked, "0" not. Both open and close the store themselves, also on failure.
void ReadStateList(QListWidget& clbStates, TSettingsStore& store);
void SaveStateList(QListWidget& clbStates, TSettingsStore& store);

}  // namespace qm
