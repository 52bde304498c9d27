// What a run shows of its start, window or not. TDeskRun::Start takes the steps in one order
// (the log, the settings, the printer, the store, the sources, the choices with the own call,
// the list, ready) and asks the view at each what it adds; a step that fails is handed to the
// view once and the start goes on.
#pragma once

#include <QString>
#include <cstddef>

namespace qm {

class TDeskRun;

class TRunView {
 public:
  virtual ~TRunView() = default;

  // A step of the start failed: `step` names it ("The message store"), `why` says what went
  // wrong. The window shows the reason in a box, the run without one says both on standard
  // error and in the log.
  virtual void StepFailed(const QString& step, const QString& why) = 0;
  // The log is open (or could not be): the view's first words.
  virtual void LogOpened(TDeskRun&) {}
  // Inside the settings step: before the sources are put from the file, and after.
  virtual void ReadChoices(TDeskRun&) {}
  virtual void SourcesRead(TDeskRun&) {}
  // Chooses the printer the command line names (TDeskRun::ChooseNamedPrinter).
  virtual void ChoosePrinter(TDeskRun& run);
  // Makes and starts the source at `index` (TDeskRun::ConnectSource with its settings).
  virtual void ConnectSource(TDeskRun& run, std::size_t index);
  // The own call and the choices handed to the desk, before the list is restored (its count
  // needs the page's length).
  virtual void HandOverChoices(TDeskRun& run) = 0;
  // Every step taken: the desk is made ready.
  virtual void Ready(TDeskRun& run);
};

}  // namespace qm
