#include "platform/file_access.h"

#include "platform/posix/utf8_text.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zv {

bool is_readable_file(const char16_t* path) {
  if (!path) return false;
  // Not blocking, so that a named pipe in place of a script never holds the server.
  const int fd = ::open(utf8_from_wide(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat info {};
  const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
  ::close(fd);
  return regular;
}

bool write_file_whole(const std::filesystem::path& file, std::string_view content) {
  std::filesystem::path partial = file;
  partial += ".partial";
  const int fd = ::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return false;
  bool written = true;
  for (std::size_t at = 0; written && at < content.size();) {
    const ssize_t done = ::write(fd, content.data() + at, content.size() - at);
    if (done < 0 && errno == EINTR) continue;
    written = done > 0;
    if (written) at += static_cast<std::size_t>(done);
  }
  written = written && ::fsync(fd) == 0;
  written = ::close(fd) == 0 && written;
  if (!written || ::rename(partial.c_str(), file.c_str()) != 0) {
    ::unlink(partial.c_str());
    return false;
  }
  // The rename itself is on the disk once the folder is.
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
  const int folder_fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder_fd >= 0) {
    ::fsync(folder_fd);
    ::close(folder_fd);
  }
  return true;
}

}  // namespace zv
