// The packet sources the desk hears at once, e.g. a TNC on the radio and APRS-IS as the
// backup. Each has its settings, its link (none while it could not be made), its last state
// and the packets heard from it. The first is the one [Connection] names and tells the own
// station; every link feeds the same desk, whose repeat rule judges a message heard on two
// sources once.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "host/HostLink.h"
#include "host/HostSettings.h"

namespace qm {

class TMessageDesk;

class TPacketSources : public QObject {
  Q_OBJECT

 public:
  using TMaker = std::function<std::unique_ptr<THostLink>(const THostSettings&)>;
  struct TSource {
    THostSettings Settings;
    std::unique_ptr<THostLink> Link;
    QString State = QStringLiteral("Not connected");
    std::uint64_t Packets = 0;
    qint64 LastHeardMs = 0;  // when the last packet came (ms since the epoch); 0: none yet
    bool Ended = false;      // ended by itself: a capture at its end, the station program closed
    bool Kept = false;       // in the settings file (a source just added is not, until applied)
  };

  TPacketSources(TMessageDesk& desk, TMaker maker, QObject* parent = nullptr);
  ~TPacketSources() override;

  std::size_t Count() const { return FSources.size(); }
  const TSource& At(std::size_t index) const { return FSources.at(index); }
  THostLink* Link(std::size_t index) const { return index < Count() ? FSources[index].Link.get() : nullptr; }
  // What the source is called as its link says ("KISS 127.0.0.1:8001"), or "" without one.
  QString Name(std::size_t index) const;
  bool AnyDown() const;

  // The source at `index` (Count(): a new one at the end) takes these settings and, if asked,
  // a new link wired to the desk, not yet started. A link that cannot be made leaves none and
  // throws; its state says why.
  THostLink* Put(std::size_t index, const THostSettings& settings, bool makeLink = true);
  // Starts the source's link; throws what Start throws. A failure other than EHostAbsent lets
  // the link go (it is of no use) and says why in the state.
  void Start(std::size_t index);
  // Stops the link of the source and forgets the source.
  void Remove(std::size_t index);
  void Clear();
  void SetState(std::size_t index, const QString& text);
  void SetKept(std::size_t index) { FSources.at(index).Kept = true; }

 signals:
  void SourceChanged(int index);
  // The last source still running ended by itself: there is nothing more to hear.
  void AllEnded();

 private:
  void Wire(std::size_t index);
  // Tells the desk how many sources are running now.
  void FollowRunning();
  std::size_t IndexOf(const THostLink* link) const;

  TMessageDesk& FDesk;
  TMaker FMaker;
  std::vector<TSource> FSources;
  // Whether every entry of a sender is compared; it stays so for the repeat window after the
  // second source went down (FSeveralLinger), as copies it handed over are still in the list.
  bool FSeveral = false;
  QTimer FSeveralLinger;
};

// Whether a host link's state text says it is down: retrying, failed or never connected.
bool IsLinkDown(const QString& state);
// Whether it says packets can come now: connected or replaying.
bool IsLinkUp(const QString& state);

// A source's link as the settings name it, not started: on Windows the station program's
// automation link for htStationProgram, else CreateHostLink's. The window and the desk alone
// make theirs here.
std::unique_ptr<THostLink> MakeSourceLink(const THostSettings& settings);

// Why a set of sources cannot be heard together, or "" when it can: the bundled demo traffic
// plays alone (its pages never reach paper, a real source's must).
QString SourcesClash(const std::vector<THostSettings>& sources);

}  // namespace qm
