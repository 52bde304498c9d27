// The stored choices' table against the window: what the window saves through its controls is
// what the run without a window reads, key for key.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <string>

#include "app/HistoryWindow.h"
#include "app/MainForm.h"
#include "run/StoredChoiceTable.h"
#include "run/StoredChoices.h"
#include "settings/IniFile.h"
#include "settings/SettingsDefaults.h"
#include "tests/app/FormTestEnvironment.h"

namespace qm {
namespace {

// Every stored control away from its start value, found by the name its key gives.
void ChangeEveryChoice(TMainForm& form) {
  for (const TStoredChoice& row : StoredChoiceTable()) {
    SCOPED_TRACE(row.Key);
    const std::string key = row.Key;
    const QString control = QString::fromStdString(key.substr(0, key.find('.')));
    if (row.Kind == skChecked) {
      auto* box = form.findChild<QCheckBox*>(control);
      ASSERT_NE(box, nullptr);
      box->click();
    } else if (row.Kind == skText) {
      auto* edit = form.findChild<QLineEdit*>(control);
      ASSERT_NE(edit, nullptr);
      edit->setText(QStringLiteral("35"));
    } else if (row.Kind == skStates) {
      auto* list = form.findChild<QListWidget*>(control);
      ASSERT_NE(list, nullptr);
      list->item(3)->setCheckState(Qt::Checked);
    }
  }
  form.edStation->setText(QStringLiteral("N0CALL-*"));
  form.btnAdd->click();
  // The history window's options are no property of a control.
  form.History()->cbDropRetries->click();
  form.History()->edRetryMinutes->setText(QStringLiteral("45"));
  form.History()->cbArchivePdf->click();
  form.History()->cbBroadcastOnce->click();
  form.History()->edBroadcastHours->setText(QStringLiteral("6"));
  form.edNwsAreas->setText(QStringLiteral("ok_c109 TX*"));
  emit form.edNwsAreas->editingFinished();
  form.cbFixedPitchFullText->click();
  form.cbNwsWordsLine->click();
  form.cbHeaderFooter->click();
  form.cbReprintMark->click();
  form.cbOwnTraffic->click();
  // Nor are the alarms'.
  form.cbAlarmOwn->click();
  form.cbAlarmWarnings->click();
  form.spnAlarmRepeat->setValue(90);
  // Nor is the sending schedule.
  form.spnSendTries->setValue(3);
  form.spnSendFirstGap->setValue(45);
}

TEST(StoredChoices, WhatTheWindowSavesTheRunWithoutOneReadsBack) {
  test::TFormEnvironment env;
  TMainForm form(env.Setup());
  ChangeEveryChoice(form);
  form.btnSaveSettings1->click();
  ASSERT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();

  TSettingsStore store(env.IniFile());
  const TDeskChoices read = ReadDeskChoices(store);
  const TDeskChoices& shown = form.Desk().Choices();
  const TDeskChoices defaults;
  for (const TStoredChoice& row : StoredChoiceTable()) {
    SCOPED_TRACE(row.Key);
    EXPECT_FALSE(SameStoredValue(row, shown, defaults));
    EXPECT_TRUE(SameStoredValue(row, read, shown));
  }

  // The window writes the table's keys, no more and no fewer; a list's entries in a section of
  // their own.
  std::ifstream in(env.IniFile(), std::ios::binary);
  const TIniFile ini(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
  std::set<std::string> expected = {kStateSelectionSection};
  for (const TStoredChoice& row : StoredChoiceTable())
    expected.insert(row.Kind == skItems || row.Kind == skStates || row.Kind == skList
                        ? ItemsSection(row)
                        : std::string(row.Section) + "/" + row.Key);
  std::set<std::string> written;
  for (const std::string& section : ini.SectionNames()) {
    if (section == kControlsSection || section == kHistorySection || section == kNwsPrintingSection ||
        section == kAlarmsSection || section == kPaperSection || section == kSendingSection) {
      for (const std::string& key : ini.KeyNames(section))
        written.insert(std::string(section).append("/").append(key));
    } else if (section != "Info" && section != "FormState" && !section.starts_with("Connection")) {
      written.insert(section);
    }
  }
  EXPECT_EQ(written, expected);
}

TEST(StoredChoices, TheWindowStartsWithWhatAFileWithoutChoicesReads) {
  test::TFormEnvironment env;
  TMainForm form(env.Setup());
  TSettingsStore store(env.IniFile());
  const TDeskChoices read = ReadDeskChoices(store);
  for (const TStoredChoice& row : StoredChoiceTable()) {
    SCOPED_TRACE(row.Key);
    EXPECT_TRUE(SameStoredValue(row, read, form.Desk().Choices()));
  }
}

std::string FileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// How alerts print is kept in a section of its own, written only while an option is set: a
// file that never set them is written back as it was.
TEST(StoredChoices, TheNwsPrintingOptionsComeBackAndLeaveNoTraceWhenCleared) {
  test::TFormEnvironment env;
  auto form = std::make_unique<TMainForm>(env.Setup());
  form->SaveSettings();
  const std::string before = FileBytes(env.IniFile());
  const auto choose = [&](bool on) {
    form->cbFixedPitchFullText->setChecked(on);
    form->cbNwsWordsLine->setChecked(on);
    form->SaveSettings();
  };
  choose(true);
  EXPECT_TRUE(form->Desk().Choices().FixedPitchFullText && form->Desk().Choices().NwsWordsLine);
  EXPECT_TRUE(
      FileBytes(env.IniFile()).ends_with("[NWS Printing]\r\nFixedPitchFullText=1\r\nWordsLine=1\r\n"));
  choose(false);
  EXPECT_EQ(FileBytes(env.IniFile()), before);
  choose(true);
  form.reset();
  form = std::make_unique<TMainForm>(env.Setup());
  EXPECT_TRUE(form->cbFixedPitchFullText->isChecked());
  EXPECT_TRUE(form->cbNwsWordsLine->isChecked());
  EXPECT_TRUE(env.Errors.isEmpty()) << env.Errors.join(QStringLiteral("; ")).toStdString();
}

}  // namespace
}  // namespace qm
