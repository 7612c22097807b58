#pragma once
// FindFirstFileW / FindNextFileW: the entries of one folder in the order the
// file system returns them, "." and ".." included.

#include <cstdint>
#include <memory>
#include <string>

namespace zv {

struct FolderEntry {
  std::u16string name;
  bool is_folder = false;  // FILE_ATTRIBUTE_DIRECTORY; links are followed
};

// Identity of a folder on its volume, so a walk can tell that a link leads
// back into a folder it is already inside.
struct FolderId {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool operator==(const FolderId&) const = default;
};

class FolderWalk {
 public:
  FolderWalk();
  ~FolderWalk();  // FindClose
  FolderWalk(const FolderWalk&) = delete;
  FolderWalk& operator=(const FolderWalk&) = delete;

  // Opens "folder + pattern" (e.g. "/srv/music/*.*") and reads its first entry
  // into `first`. False when the folder cannot be opened or matches nothing.
  bool open(const char16_t* search_path, FolderEntry& first);
  // The next entry; false at the end.
  bool next(FolderEntry& entry);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// False when the folder cannot be reached.
bool folder_identity(const char16_t* folder_path, FolderId& id);

}  // namespace zv
