// A small tmpfs in a private mount namespace of the test process: a disk that really fills
// up or is really read-only, without touching the machine's mounts. Needs root (CI runs as
// root); Skip() says why it could not be made.
#pragma once

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace qm::test {

class TPrivateTmpfs {
 public:
  TPrivateTmpfs(std::string mountPoint, const std::string& size) : FPoint(std::move(mountPoint)) {
    if (::geteuid() != 0) {
      FSkip = "needs root for a private mount";
      return;
    }
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      FSkip = std::string("no private mount namespace: ") + std::strerror(errno);
      return;
    }
    if (::mount("none", FPoint.c_str(), "tmpfs", 0, ("size=" + size + ",mode=0700").c_str()) != 0) {
      FSkip = std::string("no tmpfs: ") + std::strerror(errno);
      return;
    }
    FMounted = true;
  }
  ~TPrivateTmpfs() {
    if (FMounted) ::umount2(FPoint.c_str(), MNT_DETACH);
  }
  TPrivateTmpfs(const TPrivateTmpfs&) = delete;
  TPrivateTmpfs& operator=(const TPrivateTmpfs&) = delete;

  const std::string& Skip() const { return FSkip; }
  std::string File(const std::string& name) const { return FPoint + "/" + name; }

  // Fails with EBUSY while a file on it is open for writing.
  bool SetReadOnly(bool readOnly) {
    return ::mount(nullptr, FPoint.c_str(), nullptr, MS_REMOUNT | (readOnly ? MS_RDONLY : 0), nullptr) == 0;
  }

  // Writes `file` until the disk is full; true when it ended with ENOSPC.
  bool FillUp(const std::string& file) const {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    const int error = errno;
    ::close(fd);
    return error == ENOSPC;
  }

 private:
  std::string FPoint;
  std::string FSkip;
  bool FMounted = false;
};

}  // namespace qm::test
