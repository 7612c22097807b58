#include "platform/file_access.h"

#include "platform/posix/utf8_text.h"

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

}  // namespace zv
