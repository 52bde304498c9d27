#include "run/PacketSources.h"

#include <QDateTime>

#include "desk/MessageDesk.h"
#include "select/DupMessages.h"
#ifdef QM_HAVE_COM_HOST_LINK
#include "host/com/ComHostLink.h"
#endif

namespace qm {

bool IsLinkDown(const QString& state) {
  // The station program's link says "The station program is not running…" or "…does not
  // answer…" while it tries again; an APRS-IS link that answers needs its login verified.
  return state.startsWith(QLatin1String("Retrying")) || state.startsWith(QLatin1String("Error")) ||
         state.startsWith(QLatin1String("Not connected")) ||
         state.startsWith(QLatin1String("The station program")) ||
         state.endsWith(QLatin1String("login not verified"));
}

bool IsLinkUp(const QString& state) {
  return state.startsWith(QLatin1String("Connected")) || state.startsWith(QLatin1String("Replaying"));
}

TPacketSources::TPacketSources(TMessageDesk& desk, TMaker maker, QObject* parent)
    : QObject(parent), FDesk(desk), FMaker(std::move(maker)) {
  FSeveralLinger.setSingleShot(true);
  FSeveralLinger.setInterval(static_cast<int>(TDupMessageList::kMaxAgeMs));
  connect(&FSeveralLinger, &QTimer::timeout, this, [this] {
    FSeveral = false;
    FollowRunning();
  });
}

TPacketSources::~TPacketSources() {
  Clear();
}

QString TPacketSources::Name(std::size_t index) const {
  const THostLink* link = FSources.at(index).Link.get();
  if (!link || link->SourceKind().isEmpty()) return {};
  const QString place = link->SourcePlace();
  return place.isEmpty() ? link->SourceKind() : link->SourceKind() + QStringLiteral(" ") + place;
}

bool TPacketSources::AnyDown() const {
  for (const TSource& s : FSources)
    if (IsLinkDown(s.State)) return true;
  return false;
}

THostLink* TPacketSources::Put(std::size_t index, const THostSettings& settings, bool makeLink) {
  if (index >= FSources.size()) {
    index = FSources.size();
    FSources.emplace_back();
  }
  TSource& s = FSources[index];
  s.Link.reset();
  s.Settings = settings;
  s.Packets = 0;
  s.LastHeardMs = 0;
  s.Ended = false;
  s.State = QStringLiteral("Not connected");
  if (makeLink) {
    try {
      if (!settings.UnknownTransport.empty())
        throw std::runtime_error(UnknownTransportText(index, settings.UnknownTransport));
      s.Link = FMaker(settings);
      if (!s.Link) throw std::runtime_error("No packet source could be made from the connection settings");
    } catch (const std::exception& e) {
      SetState(index, QStringLiteral("Not connected: ") + QString::fromUtf8(e.what()));
      throw;
    }
    Wire(index);
  }
  FollowRunning();
  emit SourceChanged(static_cast<int>(index));
  return s.Link.get();
}

void TPacketSources::Wire(std::size_t index) {
  THostLink* link = FSources[index].Link.get();
  // Indices shift when a source is removed: each signal finds its source by its link.
  connect(link, &THostLink::DataReady, this, [this, link] {
    const std::size_t i = IndexOf(link);
    if (i == Count()) return;
    ++FSources[i].Packets;
    FSources[i].LastHeardMs = QDateTime::currentMSecsSinceEpoch();
    FDesk.DataAvailable(*link);
  });
  connect(link, &THostLink::StateChanged, this, [this, link](const QString& text) {
    if (const std::size_t i = IndexOf(link); i < Count()) SetState(i, text);
  });
  connect(link, &THostLink::Closing, this, [this, link] {
    const std::size_t i = IndexOf(link);
    if (i == Count()) return;
    FSources[i].Ended = true;
    FollowRunning();
    for (const TSource& s : FSources)
      if (s.Link && !s.Ended) return;
    emit AllEnded();
  });
  FDesk.LogOutages(*link);
  FDesk.FollowArrivals(*link);
}

std::size_t TPacketSources::IndexOf(const THostLink* link) const {
  for (std::size_t i = 0; i < FSources.size(); ++i)
    if (FSources[i].Link.get() == link) return i;
  return FSources.size();
}

void TPacketSources::Start(std::size_t index) {
  TSource& s = FSources.at(index);
  if (!s.Link) return;
  try {
    s.Link->Start();
  } catch (const EHostAbsent&) {
    throw;
  } catch (const std::exception& e) {
    s.Link.reset();
    SetState(index, QStringLiteral("Not connected: ") + QString::fromUtf8(e.what()));
    throw;
  }
}

void TPacketSources::Remove(std::size_t index) {
  if (index >= FSources.size()) return;
  FSources.erase(FSources.begin() + static_cast<std::ptrdiff_t>(index));
  FollowRunning();
  emit SourceChanged(static_cast<int>(index));
}

void TPacketSources::Clear() {
  FSources.clear();
}

void TPacketSources::FollowRunning() {
  // Each message comes once per source heard: with two or more the repeat rule looks at all
  // of a sender's messages. Only a source that can hand packets over counts, not one that is
  // merely listed (never connected, retrying, ended).
  std::size_t running = 0;
  for (const TSource& s : FSources)
    if (s.Link && !s.Ended && IsLinkUp(s.State)) ++running;
  if (running > 1) {
    FSeveralLinger.stop();
    FSeveral = true;
  } else if (FSeveral && !FSeveralLinger.isActive()) {
    // A source that just went down (a TNC that closed, a link that dropped) handed over
    // copies whose twins may still come from the other one within the repeat window.
    FSeveralLinger.start();
  }
  FDesk.CompareEveryRepeat(FSeveral);
}

void TPacketSources::SetState(std::size_t index, const QString& text) {
  if (index >= FSources.size()) return;
  FSources[index].State = text;
  FollowRunning();
  emit SourceChanged(static_cast<int>(index));
}

std::unique_ptr<THostLink> MakeSourceLink(const THostSettings& settings) {
#ifdef QM_HAVE_COM_HOST_LINK
  if (settings.Transport == THostSettings::htStationProgram) return std::make_unique<TComHostLink>();
#endif
  return CreateHostLink(settings);
}

QString SourcesClash(const std::vector<THostSettings>& sources) {
  // A source whose transport the file does not name is never made.
  std::size_t made = 0;
  for (const THostSettings& s : sources) made += s.UnknownTransport.empty() ? 1 : 0;
  if (made < 2) return {};
  for (const THostSettings& s : sources)
    if (s.Transport == THostSettings::htReplay && s.CaptureFile.empty() && s.UnknownTransport.empty())
      return QStringLiteral(
          "The demo traffic plays only as the one source: name a capture file to replay, or remove the "
          "other sources");
  return {};
}

}  // namespace qm
