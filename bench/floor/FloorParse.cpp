// The floor of judging the feed: each line read as it comes, through the program's own intake
// cleaning, parser and verdict (the own call wanted, as the comparison's settings ask), nothing
// kept. A wanted line goes to standard output behind its time of day, "hh:mm:ss.zzz text", as
// the program's log stamps it, so its delay can be read the same way.
// Usage: floor_parse PORT [CALL]
#include <sys/time.h>

#include <ctime>

#include "bench/floor/FloorFeed.h"
#include "parse/HostIntake.h"
#include "parse/QuillmarkParse.h"
#include "select/Selection.h"

namespace {

void Stamped(std::string_view line) {
  timeval now{};
  gettimeofday(&now, nullptr);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  std::printf("%02d:%02d:%02d.%03d %.*s\n", local.tm_hour, local.tm_min, local.tm_sec,
              static_cast<int>(now.tv_usec / 1000), static_cast<int>(line.size()), line.data());
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  qm::TSelectionChoices choices;
  std::string partial;
  return floor_feed::Run(argc, argv, [&](std::string_view got, const char* call) {
    if (choices.StationCall.empty()) choices.StationCall = call;
    partial.append(got);
    std::size_t from = 0;
    for (std::size_t end; (end = partial.find_first_of("\r\n", from)) != std::string::npos; from = end + 1) {
      const std::string_view line(partial.data() + from, end - from);
      if (line.empty() || line.front() == '#') continue;
      auto packet = qm::ParseAprsPacket(qm::IntakePacketLine("*" + std::string(line)));
      if (packet && packet->Selected && qm::IsWantedMessage(*packet, choices)) Stamped(line);
    }
    partial.erase(0, from);
  });
}
