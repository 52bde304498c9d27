// What the desk's benchmark programs share: the application object, a folder of their own and
// the bulletin they feed.
#pragma once

#include <unistd.h>

#include <QGuiApplication>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "base/Timing.h"
#include "parse/QuillmarkParse.h"

namespace qm::bench {

inline QGuiApplication& App() {
  static int argc = 1;
  static char name[] = "desk-bench";
  static char* argv[] = {name, nullptr};
  static auto* app = new QGuiApplication(argc, argv);
  return *app;
}

// QM_DESK_BENCH_DIR (or the temporary folder) / <prefix>-<pid>, made.
inline std::filesystem::path BenchDir(const std::string& prefix) {
  const char* dir = std::getenv("QM_DESK_BENCH_DIR");
  std::filesystem::path path =
      std::filesystem::path(dir && *dir ? dir : std::filesystem::temp_directory_path().string()) /
      (prefix + "-" + std::to_string(::getpid()));
  std::filesystem::create_directories(path);
  return path;
}

inline std::unique_ptr<TAprsMsgPacket> Bulletin(int n) {
  auto p = std::make_unique<TAprsMsgPacket>();
  p->Kind = mkBulletin;
  p->Selected = true;
  p->Source.FullCall = "KB1XY-" + std::to_string(n % 16);
  p->Source.BaseCall = "KB1XY";
  p->Source.Valid = true;
  p->Destination.FullCall = "APRS";
  p->Path = "WIDE1-1,WIDE2-1,qAR,KB1ZZ";
  p->Addressee = "BLN" + std::to_string(n % 10);
  p->MessageText = "Net tonight at 2000 on the club repeater, bulletin " + std::to_string(n);
  std::string field = p->Addressee;
  field.resize(9, ' ');
  p->Body = field + ":" + p->MessageText;
  p->RawText = p->Source.FullCall + ">APRS," + p->Path + "::" + p->Body;
  p->TickCount = TickCount32();
  return p;
}

}  // namespace qm::bench
