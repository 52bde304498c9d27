#include "host/com/ComHostLink.h"

#include <QString>

namespace qm {

TComHostLink::TComHostLink(QObject* Parent) : TclsUIV(Parent) {}

TComHostLink::~TComHostLink() {
  Stop();
}

void TComHostLink::Start() {
  if (FLink) return;
  auto NewLink = std::make_unique<TUIView32Link>();
  // The host calls in on this (the GUI) thread, so the signals are direct.
  NewLink->OnDataAvailable = [this] { emit OnDataAvailable(); };
  NewLink->OnUIView32IsClosing = [this] { emit OnUIView32IsClosing(); };
  FLink = std::move(NewLink);
  FMyInfo = std::make_unique<TUIView32MyInfo>();
  emit StateChanged(QStringLiteral("Connected to UI-View32"));
}

void TComHostLink::Stop() {
  if (!FLink) return;
  FMyInfo.reset();
  FLink.reset();
  emit StateChanged(QStringLiteral("Not connected"));
}

TUIView32Link& TComHostLink::Link() {
  if (!FLink) throw EOleError(E_UNEXPECTED, "Not connected to UI-View32");
  return *FLink;
}

std::string TComHostLink::PacketText() {
  return Link().PacketText();
}

void TComHostLink::FillMyInfo(TclsMyInfo& Info) {
  Link().FillMyInfo(*FMyInfo);
  Info.SetMyCallsign(FMyInfo->MyCallsign());
}

}  // namespace qm
