#include "platform/file_access.h"

#include <windows.h>

namespace zv {

bool is_readable_file(const char16_t* path) {
  if (!path) return false;
  // A folder cannot be opened this way (that needs FILE_FLAG_BACKUP_SEMANTICS).
  HANDLE file = CreateFileW(reinterpret_cast<const wchar_t*>(path), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool on_disk = GetFileType(file) == FILE_TYPE_DISK;
  CloseHandle(file);
  return on_disk;
}

}  // namespace zv
