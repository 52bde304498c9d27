#include "settings/StateKeeper.h"

#include "base/AsciiText.h"
#include "base/IntegerText.h"
#include "base/ProgramText.h"

#include <QAbstractButton>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QTimer>
#include <cmath>
#include <cstdio>

namespace qm {

namespace {

const char* const FormStateSection = "FormState";
// The button-face colour as the file has always recorded it.
const char* const ButtonFaceColor = "-16777201";

bool SameText(std::string_view a, std::string_view b) {
  return SameIniName(a, b);
}

// Words split at blanks and commas; runs of separators count as one.
std::vector<std::string> SplitWords(const std::string& text) {
  std::vector<std::string> words;
  std::string word;
  for (const char c : text) {
    if (c == ' ' || c == ',') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

// A rectangle that lies on no screen is moved onto the nearest one (and cut to its size),
// so a place stored on a screen that is gone never hides the window.
QRect OnSomeScreen(const QRect& wanted, const QSize& least) {
  QRect nearest;
  long long nearestDistance = -1;
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect area = screen->availableGeometry();
    if (area.intersects(wanted)) return wanted;
    const QPoint d = wanted.center() - area.center();
    const long long distance = static_cast<long long>(d.x()) * d.x() + static_cast<long long>(d.y()) * d.y();
    if (nearestDistance < 0 || distance < nearestDistance) {
      nearestDistance = distance;
      nearest = area;
    }
  }
  if (nearestDistance < 0) return wanted;  // no screen to judge by
  QRect placed(wanted.topLeft(), wanted.size().boundedTo(nearest.size()));
  // The window will be no smaller than its least size, so that much has to fit.
  const QSize shown = placed.size().expandedTo(least);
  placed.moveLeft(std::max(nearest.left(), std::min(placed.left(), nearest.right() - shown.width() + 1)));
  placed.moveTop(std::max(nearest.top(), std::min(placed.top(), nearest.bottom() - shown.height() + 1)));
  return placed;
}

int WordAsInt(const std::vector<std::string>& words, std::size_t index, int fallback) {
  std::int32_t value = 0;
  if (index < words.size() && TryParseInteger(words[index], value)) return value;
  return fallback;
}

}  // namespace

// ---- TStateKeeper

TStateKeeper::TStateKeeper(std::string section, TSettingsStore& store)
    : FSection(std::move(section)), FStore(store) {}

void TStateKeeper::RestoreState() {
  TSettingsSession session(FStore);
  DoRestoreState();
  session.Close();
  FRestored = true;
  FSavedSinceRestore = false;
  if (OnRestoreState) OnRestoreState();
}

void TStateKeeper::SaveState() {
  if (!FRestored) return;
  TSettingsSession session(FStore);
  DoSaveState();
  session.Close();
  if (OnSaveState) OnSaveState();
  FSavedSinceRestore = true;
}

// ---- TWindowStateKeeper

TWindowStateKeeper::TWindowStateKeeper(QWidget* form, TSettingsStore& store)
    : TStateKeeper(FormStateSection, store), FForm(form) {
  OnMinimizeRequested = [this] {
    QPointer<QWidget> target = FForm;
    if (target) QTimer::singleShot(0, target, [target] { target->showMinimized(); });
  };
  IsApplicationMinimized = [this] { return FForm && FForm->isMinimized(); };
}

int TWindowStateKeeper::CurrentFlags() const {
  if (!FForm) return FFlags;
  const auto state = FForm->windowState();
  return (state & Qt::WindowMinimized) && (state & Qt::WindowMaximized) ? wpfRestoreToMaximized : 0;
}

int TWindowStateKeeper::CurrentPixelsPerInch() const {
  QScreen* screen = FForm ? FForm->screen() : QGuiApplication::primaryScreen();
  if (!screen) return 96;
  return static_cast<int>(std::lround(screen->logicalDotsPerInch()));
}

void TWindowStateKeeper::DoSaveState() {
  if (!FForm) return;
  TSettingsStore& store = Store();
  FFlags = CurrentFlags();
  int showCmd = swNormal;
  if (IsApplicationMinimized && IsApplicationMinimized()) {
    showCmd = swMinimized;
  } else if (FForm->isMaximized()) {
    showCmd = swMaximized;
  }
  const QRect normal = FForm->normalGeometry().isValid() ? FForm->normalGeometry() : FForm->geometry();
  char pos[64];
  std::snprintf(pos, sizeof pos, "%d,%d,%d,%d", normal.left(), normal.top(), normal.left() + normal.width(),
                normal.top() + normal.height());
  store.WriteInteger(Section(), "Flags", FFlags);
  store.WriteInteger(Section(), "ShowCmd", showCmd);
  store.WriteString(Section(), "NormalPos", pos);
  store.WriteInteger(Section(), "PixelsPerInch", CurrentPixelsPerInch());
  store.WriteString(Section(), "Color", ButtonFaceColor);
}

void TWindowStateKeeper::DoRestoreState() {
  if (!FForm) return;
  TSettingsStore& store = Store();
  const int ppi = CurrentPixelsPerInch();
  // Laid out for another screen: the designed place fits better than the stored one.
  if (store.ReadInteger(Section(), "PixelsPerInch", ppi) != ppi) return;
  const QRect current = FForm->geometry();
  const int flags = store.ReadInteger(Section(), "Flags", CurrentFlags());
  const std::string normalPos = store.ReadString(Section(), "NormalPos", "");
  if (normalPos.empty()) return;

  const auto words = SplitWords(normalPos);
  const int left = WordAsInt(words, 0, current.left());
  const int top = WordAsInt(words, 1, current.top());
  const int right = WordAsInt(words, 2, current.left() + current.width());
  const int bottom = WordAsInt(words, 3, current.top() + current.height());
  if (left < right) {
    FFlags = flags;
    // An explicit geometry also tells the window system not to place the window itself.
    FForm->setGeometry(OnSomeScreen(QRect(left, top, right - left, std::max(0, bottom - top)),
                                    FForm->minimumSizeHint().expandedTo(FForm->minimumSize())));
    FPositionRestored = true;
  }

  std::int32_t showCmd = 0;
  if (!TryParseInteger(store.ReadString(Section(), "ShowCmd", ""), showCmd)) showCmd = 0;
  if (showCmd == swMinimized || showCmd == 6) {
    // Minimised from maximised: it comes back maximised.
    if (FPositionRestored && (FFlags & wpfRestoreToMaximized))
      FForm->setWindowState((FForm->windowState() & ~Qt::WindowMinimized) | Qt::WindowMaximized);
    if (OnMinimizeRequested) OnMinimizeRequested();
    return;
  }
  Qt::WindowStates state = FForm->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
  if (showCmd == swMaximized) state |= Qt::WindowMaximized;
  FForm->setWindowState(state);
  FForm->update();
}

// ---- TPropertyStateKeeper

TPropertyStateKeeper::TPropertyStateKeeper(QWidget* form, TSettingsStore& store,
                                           std::vector<std::string> storedProperties)
    : TStateKeeper(kControlsSection, store), FForm(form) {
  for (const auto& entry : storedProperties) {
    const auto dot = entry.find('.');
    if (dot == std::string::npos || dot == 0 || dot + 1 == entry.size()) continue;
    const std::string controlName = entry.substr(0, dot);
    const std::string propertyName = entry.substr(dot + 1);
    QWidget* control = form ? form->findChild<QWidget*>(DisplayText(controlName)) : nullptr;
    if (!control) continue;
    FStoredProperties.push_back(entry);
    TEntry e{control, controlName, propertyName, pkNone};
    if (qobject_cast<QAbstractButton*>(control) && SameText(propertyName, "Checked")) {
      e.Kind = pkChecked;
      e.PropertyName = "Checked";
    } else if (qobject_cast<QLineEdit*>(control) && SameText(propertyName, "Text")) {
      e.Kind = pkText;
      e.PropertyName = "Text";
    } else if (qobject_cast<QListWidget*>(control) && SameText(propertyName, "Items")) {
      e.Kind = pkItems;
      e.PropertyName = "Items";
    }
    FEntries.push_back(std::move(e));
  }
}

void TPropertyStateKeeper::DoSaveState() {
  for (const auto& entry : FEntries) SaveEntry(entry);
}

void TPropertyStateKeeper::DoRestoreState() {
  for (const auto& entry : FEntries) {
    try {
      RestoreEntry(entry);
    } catch (...) {
      // One unreadable property must not keep the others from their values.
    }
  }
}

void TPropertyStateKeeper::SaveEntry(const TEntry& entry) {
  if (!entry.Control || entry.Kind == pkNone) return;
  TSettingsStore& store = Store();
  const std::string key = entry.ControlName + "." + entry.PropertyName;
  switch (entry.Kind) {
    case pkChecked:
      store.WriteString(Section(), key,
                        static_cast<QAbstractButton*>(entry.Control.data())->isChecked() ? "True" : "False");
      break;
    case pkText:
      store.WriteString(Section(), key,
                        Trim(ProgramText(static_cast<QLineEdit*>(entry.Control.data())->text())));
      break;
    case pkItems: {
      const std::string listSection = Section() + "." + key;
      auto* list = static_cast<QListWidget*>(entry.Control.data());
      store.EraseSection(listSection);
      if (list->count() > 0) {
        store.WriteInteger(listSection, "Count", list->count());
        for (int i = 0; i < list->count(); ++i) {
          store.WriteString(listSection, "Item" + std::to_string(i), ProgramText(list->item(i)->text()));
        }
      }
      break;
    }
    case pkNone:
      break;
  }
}

void TPropertyStateKeeper::RestoreEntry(const TEntry& entry) {
  if (!entry.Control || entry.Kind == pkNone) return;
  TSettingsStore& store = Store();
  const std::string key = entry.ControlName + "." + entry.PropertyName;
  switch (entry.Kind) {
    case pkChecked: {
      auto* box = static_cast<QAbstractButton*>(entry.Control.data());
      const std::string value = Trim(store.ReadString(Section(), key, box->isChecked() ? "True" : "False"));
      if (SameText(value, "False")) box->setChecked(false);
      if (SameText(value, "True")) box->setChecked(true);
      break;
    }
    case pkText: {
      auto* edit = static_cast<QLineEdit*>(entry.Control.data());
      edit->setText(DisplayText(Trim(store.ReadString(Section(), key, ProgramText(edit->text())))));
      break;
    }
    case pkItems: {
      auto* list = static_cast<QListWidget*>(entry.Control.data());
      const auto stored =
          store.ReadStringList(Section() + "." + key, static_cast<std::size_t>(MaxListEntries));
      if (!stored) break;
      // New entries look like the old ones (a check list's carry an empty mark, which the
      // state selection sets later); a sorted list sorts them as they are added.
      const bool checkList = list->count() > 0 && list->item(0)->data(Qt::CheckStateRole).isValid();
      const Qt::ItemFlags flags = list->count() > 0 ? list->item(0)->flags() : Qt::ItemFlags();
      list->clear();
      for (const auto& text : *stored) {
        auto* item = new QListWidgetItem(DisplayText(text));
        if (flags != Qt::ItemFlags()) item->setFlags(flags);
        if (checkList) item->setCheckState(Qt::Unchecked);
        list->addItem(item);
      }
      break;
    }
    case pkNone:
      break;
  }
}

// ---- state list hooks

void ReadStateList(QListWidget& clbStates, TSettingsStore& store) {
  TSettingsSession session(store);
  for (int i = 0; i < clbStates.count(); ++i) clbStates.item(i)->setCheckState(Qt::Unchecked);
  for (int i = 0; i < clbStates.count(); ++i) {
    QListWidgetItem* item = clbStates.item(i);
    if (store.ReadInteger(kStateSelectionSection, ProgramText(item->text()), 0) != 0) {
      item->setCheckState(Qt::Checked);
    }
  }
  session.Close();
}

void SaveStateList(QListWidget& clbStates, TSettingsStore& store) {
  TSettingsSession session(store);
  store.EraseSection(kStateSelectionSection);
  for (int i = 0; i < clbStates.count(); ++i) {
    const QListWidgetItem* item = clbStates.item(i);
    store.WriteString(kStateSelectionSection, ProgramText(item->text()),
                      item->checkState() == Qt::Checked ? "1" : "0");
  }
  session.Close();
}

}  // namespace qm
