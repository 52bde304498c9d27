// The print queue's small public types, for those who read the list or start the printer's
// watch without the queue itself.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

namespace qm {

// A message in the list: its lines and the job that carries it (0: none yet).
struct TListedEntry {
  std::uint64_t Key = 0;     // the queue's own number for it
  std::int64_t StoreId = 0;  // 0: the store could not keep it
  std::string Lines[3];
  std::uint64_t Job = 0;
  bool Demo = false;  // from the bundled demo: never stored
  bool Own = false;   // a message the desk sent, listed as its own traffic
  // An NWS alert's plain words and expiry (0: none given); empty for other messages.
  std::string NwsWords;
  double NwsExpiresUtc = 0;
};

// A list line as shown and printed: line and paragraph separators would break it, so they
// show as blanks.
QString ListLineText(const std::string& line);

// When the printer's state is asked for first: at once, or once CheckPrinter is called.
enum class TFirstPrinterCheck { ppAtOnce, ppLater };
using enum TFirstPrinterCheck;

}  // namespace qm
