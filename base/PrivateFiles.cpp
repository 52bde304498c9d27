#include "base/PrivateFiles.h"

#include <cerrno>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace qm {
namespace fs = std::filesystem;

void MakePrivateFolders(const std::string& dir, std::error_code& ec) {
  ec.clear();
#ifdef _WIN32
  fs::create_directories(dir, ec);
#else
  fs::path made;
  for (const fs::path& part : fs::path(dir)) {
    made /= part;
    if (part.empty() || part == "/") continue;
    if (::mkdir(made.c_str(), 0700) == 0 || errno == EEXIST) continue;
    ec = std::error_code(errno, std::generic_category());
    return;
  }
  if (!fs::is_directory(dir, ec) && !ec) ec = std::make_error_code(std::errc::not_a_directory);
#endif
}

bool CreatePrivateFile(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) return ::close(fd) == 0;
  return errno == EEXIST;
#endif
}

}  // namespace qm
