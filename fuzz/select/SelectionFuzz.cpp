// The verdict (an area list among its choices), the duplicate list and the entry texts over packets whose
// fields come straight from fuzz bytes (fields separated by newlines).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "select/DupMessages.h"
#include "select/EntryLines.h"
#include "select/NwsAreas.h"
#include "select/Selection.h"

namespace {

std::vector<std::string> Fields(std::string_view text) {
  std::vector<std::string> fields;
  for (;;) {
    const std::size_t end = text.find('\n');
    fields.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) return fields;
    text.remove_prefix(end + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 6) return 0;
  const std::uint8_t flags = data[0];
  const std::uint32_t tickStep = static_cast<std::uint32_t>(data[1]) << 8 | data[2];
  std::vector<std::string> f = Fields(std::string_view(reinterpret_cast<const char*>(data + 6), size - 6));
  f.resize(std::max<std::size_t>(f.size(), 8));

  qm::TSelectionChoices choices;
  choices.ThisStation = flags & 1;
  choices.UseStationList = flags & 2;
  choices.Bulletins = flags & 4;
  choices.Announcements = flags & 8;
  choices.NwsWatches = flags & 16;
  choices.NwsWarnings = flags & 32;
  choices.NwsAdvisories = flags & 64;
  choices.StationCall = f[0];
  for (std::size_t i = 8; i < f.size(); ++i) choices.StationList.push_back(f[i]);
  for (auto& [code, checked] : choices.States) checked = (data[3] + code[0] + code[1]) % 2 == 0;

  qm::TAprsMsgPacket packet;
  packet.Kind = static_cast<qm::TAprsMsgKind>(data[4] % 6);
  packet.Selected = true;
  packet.Source.FullCall = f[1];
  packet.Destination.FullCall = f[2];
  packet.Path = f[3];
  packet.Addressee = f[4];
  packet.MessageText = f[5];
  packet.MessageId = f[6];
  packet.State = f[7];
  packet.Body = f[4] + ":" + f[5];

  // The text read as a typed area list: every entry it gives is one, in upper case; with
  // the last flag the verdict narrows alerts by it.
  std::string bad;
  if (const auto areas = qm::ReadAreaList(f[5], bad)) {
    for (const std::string& entry : *areas)
      if (!qm::IsAreaListEntry(entry) || qm::UpperCase(entry) != entry) std::abort();
    if (flags & 128) choices.NwsAreas = *areas;
  } else if (qm::IsAreaListEntry(bad) || bad.empty()) {
    std::abort();
  }
  const bool wanted = qm::IsWantedMessage(packet, choices);
  if (packet.Kind == qm::mkBulletin && wanted != choices.Bulletins) std::abort();

  // A query carries the sender and at most three more characters, all of them callsign
  // characters; any other byte keeps it from going out at all.
  if (const auto query = qm::FingerQuery(packet)) {
    if (query->compare(0, packet.Source.FullCall.size(), packet.Source.FullCall) != 0 ||
        query->size() > packet.Source.FullCall.size() + 3)
      std::abort();
    for (const char c : *query)
      if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'))
        std::abort();
  }
  const std::string line3 = qm::EntryLine3(packet);
  const std::string document = qm::FullTextDocument(qm::EntryLine2(packet), line3, f[5]);
  if (document.size() != qm::EntryLine2(packet).size() + line3.size() + 3 + f[5].size()) std::abort();
  (void)qm::PageLimit(f[6]);
  (void)qm::CountText(qm::PageLimit(f[7]), f[7]);
  (void)qm::FullTextCategoryFor(packet, {true, true, true});

  // The same sender again and again, at steps of the fuzzed length.
  qm::TDupMessageList list;
  std::uint32_t tick = static_cast<std::uint32_t>(data[5]) * 0x01010101u;
  for (int i = 0; i < 8; ++i) {
    packet.TickCount = tick;
    list.Prune(tick);
    if (!list.IsDuplicate(packet)) list.Add(packet.Source.FullCall, tick, packet.Body);
    if (list.Find(packet.Source.FullCall) == nullptr) std::abort();
    tick += tickStep;
  }
  list.Prune(tick + 40000);
  if (list.Count() != 0 && tickStep != 0) {
    // Anything left must be young relative to the last prune time.
    for (const auto& [key, message] : list.Items())
      if (static_cast<std::uint32_t>(tick + 40000 - message.TickCount) >= 20000) std::abort();
  }
  return 0;
}
