#include "platform/folder_walk.h"

#include <windows.h>

namespace zv {
namespace {
const wchar_t* native(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

void read_entry(const WIN32_FIND_DATAW& found, FolderEntry& entry) {
  entry.name.assign(reinterpret_cast<const char16_t*>(found.cFileName));
  entry.is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}
}  // namespace

struct FolderWalk::State {
  HANDLE find = INVALID_HANDLE_VALUE;

  void close() {
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    find = INVALID_HANDLE_VALUE;
  }
};

FolderWalk::FolderWalk() : state_(std::make_unique<State>()) {}

FolderWalk::~FolderWalk() { state_->close(); }

bool FolderWalk::open(const char16_t* search_path, FolderEntry& first) {
  state_->close();
  WIN32_FIND_DATAW found;
  state_->find = FindFirstFileW(native(search_path), &found);
  if (state_->find == INVALID_HANDLE_VALUE) return false;
  read_entry(found, first);
  return true;
}

bool FolderWalk::next(FolderEntry& entry) {
  if (state_->find == INVALID_HANDLE_VALUE) return false;
  WIN32_FIND_DATAW found;
  if (!FindNextFileW(state_->find, &found)) return false;
  read_entry(found, entry);
  return true;
}

bool folder_identity(const char16_t* folder_path, FolderId& id) {
  // Backup semantics let CreateFileW open a folder; links are followed, so the
  // identity is that of the folder a link leads to.
  HANDLE folder = CreateFileW(native(folder_path), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info;
  bool known = GetFileInformationByHandle(folder, &info) != 0;
  CloseHandle(folder);
  if (!known) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

}  // namespace zv
