#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/product.h"
#include "config/app_config.h"
#include "config/app_config_platform.h"

namespace lumora {

std::filesystem::path ConfigDirectory() {
  // Relative values of the XDG variables are to be ignored, as for the log folder.
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
    return std::filesystem::path(config) / kProductFolderName;
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
    return std::filesystem::path(home) / ".config" / kProductFolderName;
  }
  std::error_code ec;
  return std::filesystem::current_path(ec) / kProductFolderName;
}

namespace detail {
namespace {

std::atomic<unsigned> g_replacement_serial{0};

int ToFd(std::intptr_t handle) { return static_cast<int>(handle); }

}  // namespace

bool ReadConfigFile(const std::filesystem::path& file, std::string& bytes, int& error) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  bytes.clear();
  char buffer[4096];
  bool ok = true;
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0) {
      bytes.append(buffer, static_cast<size_t>(got));
    } else if (got == 0) {
      break;
    } else if (errno != EINTR) {
      error = errno;
      ok = false;  // e.g. EISDIR: a folder named config.toml
      break;
    }
  }
  ::close(fd);
  return ok;
}

ReplacementFile::ReplacementFile(const std::filesystem::path& target) : target_(target) {
  // O_EXCL so that two saves never share a file; mode 0666 leaves the
  // permissions to the umask, as for any file the user creates.
  for (int attempt = 0; attempt < 16; ++attempt) {
    std::filesystem::path candidate = target;
    candidate += "." + std::to_string(::getpid()) + "-" + std::to_string(g_replacement_serial++) + ".tmp";
    const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      path_ = std::move(candidate);
      handle_ = fd;
      return;
    }
    if (errno != EEXIST) {
      return;
    }
  }
}

ReplacementFile::~ReplacementFile() {
  Close();
  if (!replaced_ && !path_.empty()) {
    ::unlink(path_.c_str());
  }
}

bool ReplacementFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(ToFd(handle_), bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    bytes.remove_prefix(static_cast<size_t>(written));
  }
  return true;
}

bool ReplacementFile::Flush() { return ::fsync(ToFd(handle_)) == 0; }

bool ReplacementFile::Close() {
  if (handle_ == kNoHandle) {
    return true;
  }
  // Some file systems (NFS) report a failed write only here.
  const bool ok = ::close(ToFd(handle_)) == 0;
  handle_ = kNoHandle;
  return ok;
}

bool ReplacementFile::Replace() {
  if (!Close() || std::rename(path_.c_str(), target_.c_str()) != 0) {
    return false;
  }
  replaced_ = true;
  // The rename itself reaches the disk with the folder's entries.
  const int folder = ::open(target_.parent_path().empty() ? "." : target_.parent_path().c_str(),
                            O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    ::fsync(folder);
    ::close(folder);
  }
  return true;
}

}  // namespace detail
}  // namespace lumora
