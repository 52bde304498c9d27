#include "host/com/ComHostLink.h"

#include <QString>

namespace qm {

TComHostLink::TComHostLink(QObject* Parent, int RetryMs) : THostLink(Parent) {
  FRetry.setInterval(RetryMs);
  connect(&FRetry, &QTimer::timeout, this, [this] { Retry(); });
}

TComHostLink::~TComHostLink() {
  Stop();
}

void TComHostLink::Start() {
  if (FLink || FRetry.isActive()) return;
  try {
    Attach();
  } catch (const EOleError& Error) {
    FAbsentText = AbsentText(Error);
    emit StateChanged(QString::fromLocal8Bit(FAbsentText));
    FRetry.start();
    throw EHostAbsent(FAbsentText);
  }
}

void TComHostLink::Retry() {
  try {
    Attach();
  } catch (const EOleError& Error) {
    // Quiet: the state changes only when the reason does.
    const std::string Text = AbsentText(Error);
    if (Text != FAbsentText) {
      FAbsentText = Text;
      emit StateChanged(QString::fromLocal8Bit(FAbsentText));
    }
    return;
  }
  FRetry.stop();
  emit OwnStationChanged();
}

void TComHostLink::Attach() {
  auto NewLink = std::make_unique<TclsUIV>();
  // The host calls in on this (the GUI) thread, so the signals are direct.
  NewLink->OnDataAvailable = [this] { emit DataReady(); };
  NewLink->OnUIView32IsClosing = [this] { emit Closing(); };
  FLink = std::move(NewLink);
  FMyInfo = std::make_unique<TclsMyInfo>();
  emit StateChanged(QStringLiteral("Connected to UI-View32"));
}

std::string TComHostLink::AbsentText(const EOleError& Error) {
  if (StationProgramAbsent(Error.ErrorCode())) return kNotRunningText;
  std::string Why = Error.what();
  if (!Why.empty() && Why.back() == '.') Why.pop_back();  // the system's texts end in one
  return "The station program does not answer (" + Why +
         "). Quillmark tries again; or choose another source on the Connection page.";
}

void TComHostLink::Stop() {
  FRetry.stop();
  if (!FLink) return;
  FMyInfo.reset();
  FLink.reset();
  emit StateChanged(QStringLiteral("Not connected"));
}

TclsUIV& TComHostLink::Link() {
  if (!FLink) throw EOleError(E_UNEXPECTED, "Not connected to UI-View32");
  return *FLink;
}

std::string TComHostLink::PacketText() {
  return Link().PacketText();
}

void TComHostLink::FillMyInfo(TOwnStation& Info) {
  // Until the station program is there, nobody has told the own call.
  if (!FLink) {
    Info.SetMyCallsign(std::string());
    return;
  }
  Link().FillMyInfo(*FMyInfo);
  Info.SetMyCallsign(FMyInfo->MyCallsign());
}

}  // namespace qm
