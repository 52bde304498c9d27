// The floor of reading the feed: the bytes are read as they come and thrown away.
// Usage: floor_epoll PORT [CALL]
#include "bench/floor/FloorFeed.h"

int main(int argc, char** argv) {
  std::size_t bytes = 0;
  return floor_feed::Run(argc, argv, [&](std::string_view got, const char*) { bytes += got.size(); });
}
