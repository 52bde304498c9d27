// A fault-injection shim for LD_PRELOAD: every fsync and fdatasync of the process waits
// 0.3 s before it runs, as on an SD card or a busy disk, so a kill lands between a write
// and its being on the disk.
#include <dlfcn.h>
#include <time.h>

namespace {

using TSync = int (*)(int);

void Wait() {
  timespec delay{0, 300 * 1000 * 1000};
  while (::nanosleep(&delay, &delay) != 0) {
  }
}

int Call(const char* name, int fd) {
  Wait();
  const auto real = reinterpret_cast<TSync>(::dlsym(RTLD_NEXT, name));
  return real ? real(fd) : -1;
}

}  // namespace

extern "C" int fsync(int fd) {
  return Call("fsync", fd);
}

extern "C" int fdatasync(int fd) {
  return Call("fdatasync", fd);
}
