#include "platform/file_access.h"

#include <algorithm>

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

bool write_file_whole(const std::filesystem::path& file, std::string_view content) {
  std::filesystem::path partial = file;
  partial += ".partial";
  HANDLE out = CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return false;
  bool written = true;
  for (std::size_t at = 0; written && at < content.size();) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(content.size() - at, 1u << 30));
    DWORD done = 0;
    written = WriteFile(out, content.data() + at, chunk, &done, nullptr) && done > 0;
    at += done;
  }
  written = FlushFileBuffers(out) && written;
  CloseHandle(out);
  if (!written || !MoveFileExW(partial.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(partial.c_str());
    return false;
  }
  return true;
}

}  // namespace zv
