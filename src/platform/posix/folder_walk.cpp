#include "platform/folder_walk.h"

#include "platform/posix/utf8_text.h"

#include <dirent.h>
#include <sys/stat.h>

#include <string>

// The search path is "<folder><separator><pattern>". The listing and the
// import search with "*.*" (every entry, as on Windows) or "*"; any other
// pattern is matched as a Windows wildcard without regard to ASCII case.

namespace zv {
namespace {

char16_t fold(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

bool wildcard_match(const char16_t* pattern, const char16_t* name) {
  if (*pattern == 0) return *name == 0;
  if (*pattern == u'*') {
    // "*.*" and a trailing ".*" match names without a dot as well
    if (pattern[1] == u'.' && pattern[2] == u'*' && pattern[3] == 0) return true;
    for (const char16_t* rest = name;; ++rest) {
      if (wildcard_match(pattern + 1, rest)) return true;
      if (*rest == 0) return false;
    }
  }
  if (*name == 0) return false;
  if (*pattern == u'?' || fold(*pattern) == fold(*name)) return wildcard_match(pattern + 1, name + 1);
  return false;
}

}  // namespace

struct FolderWalk::State {
  DIR* folder = nullptr;
  std::string folder_path;  // UTF-8, ends in "/"
  std::u16string pattern;
};

FolderWalk::FolderWalk() = default;

FolderWalk::~FolderWalk() {
  if (state_ && state_->folder) ::closedir(state_->folder);
}

bool FolderWalk::open(const char16_t* search_path, FolderEntry& first) {
  if (!search_path) return false;
  std::u16string path(search_path);
  const auto cut = path.find_last_of(u"/\\");
  auto state = std::make_unique<State>();
  state->pattern = cut == std::u16string::npos ? path : path.substr(cut + 1);
  const std::u16string folder = cut == std::u16string::npos ? u"./" : path.substr(0, cut + 1);
  state->folder_path = utf8_from_wide(folder.c_str());
  if (state->folder_path.empty()) return false;
  state->folder = ::opendir(state->folder_path.c_str());
  if (!state->folder) return false;
  if (state_ && state_->folder) ::closedir(state_->folder);
  state_ = std::move(state);
  return next(first);
}

bool FolderWalk::next(FolderEntry& entry) {
  if (!state_ || !state_->folder) return false;
  while (const dirent* found = ::readdir(state_->folder)) {
    std::u16string name = wide_from_utf8(found->d_name);
    if (name.empty() || !wildcard_match(state_->pattern.c_str(), name.c_str())) continue;
    struct stat info{};
    const std::string full = state_->folder_path + found->d_name;
    entry.name = std::move(name);
    entry.is_folder = ::stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    return true;
  }
  return false;
}

bool folder_identity(const char16_t* folder_path, FolderId& id) {
  const std::string narrow = utf8_from_wide(folder_path);
  struct stat info{};
  if (narrow.empty() || ::stat(narrow.c_str(), &info) != 0) return false;
  id.volume = static_cast<std::uint64_t>(info.st_dev);
  id.index = static_cast<std::uint64_t>(info.st_ino);
  return true;
}

}  // namespace zv
